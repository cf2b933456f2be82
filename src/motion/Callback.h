// A callback as the motors and timers raise them: a function together with the object that
// receives it. An unset callback is skipped. Two words, copied by value, no allocation.
#pragma once

namespace motion {

template <typename... Args>
class Callback {
  public:
    using Function = void (*)(void* receiver, Args...);

    Callback() = default;
    Callback(Function function, void* receiver) : function_(function), receiver_(receiver) {}

    // Callback<int>::Bind<&Window::MotorFinished>(window)
    template <auto Method, typename Receiver>
    static Callback Bind(Receiver* receiver) {
        return Callback(
            [](void* r, Args... args) { (static_cast<Receiver*>(r)->*Method)(args...); }, receiver);
    }

    explicit operator bool() const { return function_ != nullptr; }

    void operator()(Args... args) const {
        if (function_ != nullptr) function_(receiver_, args...);
    }

  private:
    Function function_ = nullptr;
    void* receiver_ = nullptr;
};

}  // namespace motion
