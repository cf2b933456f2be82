#include "platform/virtual/VirtualDevice.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <utility>

namespace platform {

// Everything shared by the device and its files, so that a file outliving its device stays safe.
struct VirtualDevice::State {
    State(std::string path, TimerService* clock) : path(std::move(path)), clock(clock) {}

    // Per open file.
    struct Port {
        int number = 0;
        uint64_t plugGeneration = 0;  // the plug-in it was opened under
        std::deque<Report> input;
        bool writeOutstanding = false;  // a timed-out write the device has not taken yet
        Report pendingWrite;
        bool readOutstanding = false;  // a timed-out read not cancelled yet
        bool interrupted = false;
    };

    bool Dead(const Port& port) const { return !plugged || port.plugGeneration != generation; }

    const std::string path;
    TimerService* const clock;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<Port*> ports;
    int nextNumber = 1;
    bool reading = true;
    bool cancelFails = false;
    bool openFails = false;
    bool plugged = true;
    uint64_t generation = 0;
    std::vector<Report> outputs;
    std::vector<Call> calls;
    size_t droppedInputs = 0;
    size_t waiting = 0;
};

class VirtualDevice::File final : public DeviceFile {
  public:
    File(std::shared_ptr<State> state, State::Port port)
        : state_(std::move(state)), port_(std::move(port)) {
        state_->ports.push_back(&port_);  // under the state's lock, held by Open
    }

    ~File() override {
        std::lock_guard lock(state_->mutex);
        auto& ports = state_->ports;
        ports.erase(std::remove(ports.begin(), ports.end(), &port_), ports.end());
        state_->calls.push_back({Call::Kind::Close, port_.number, 0, DeviceWait::Done, true, {}});
    }

    DeviceWait Write(const uint8_t* report, uint32_t length, uint32_t timeoutMs) override {
        Report data(report, report + length);
        // A second caller inside Write (or Read) at the same time is refused, as by the Win32
        // adapter.
        if (writing_.exchange(true)) {
            return Record(Call::Kind::Write, timeoutMs, DeviceWait::Failed, data);
        }
        const DeviceWait result = DoWrite(data, timeoutMs);
        writing_.store(false);
        return Record(Call::Kind::Write, timeoutMs, result, data);
    }

    DeviceWait Read(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) override {
        if (reading_.exchange(true)) {
            return Record(Call::Kind::Read, timeoutMs, DeviceWait::Failed, {});
        }
        const DeviceWait result = DoRead(buffer, length, timeoutMs);
        reading_.store(false);
        return Record(Call::Kind::Read, timeoutMs, result, {});
    }

    bool Cancel() override {
        std::lock_guard lock(state_->mutex);
        const bool ok = !state_->cancelFails;
        if (ok) {
            port_.writeOutstanding = false;
            port_.pendingWrite.clear();
            port_.readOutstanding = false;
        }
        state_->calls.push_back({Call::Kind::Cancel, port_.number, 0, DeviceWait::Done, ok, {}});
        return ok;
    }

    void Interrupt() override {
        std::lock_guard lock(state_->mutex);
        port_.interrupted = true;
        state_->calls.push_back(
            {Call::Kind::Interrupt, port_.number, 0, DeviceWait::Done, true, {}});
        state_->changed.notify_all();
    }

  private:
    DeviceWait Record(Call::Kind kind, uint32_t timeoutMs, DeviceWait result, Report data) {
        std::lock_guard lock(state_->mutex);
        state_->calls.push_back({kind, port_.number, timeoutMs, result, false, std::move(data)});
        return result;
    }

    // Waits until done() holds, or the file is interrupted or dead, or the time-out passes.
    // With a clock an unsatisfied wait takes no real time: the clock moves by the time-out.
    template <typename Done>
    bool WaitFor(std::unique_lock<std::mutex>& lock, uint32_t timeoutMs, Done done) {
        auto over = [&] { return done() || port_.interrupted || state_->Dead(port_); };
        if (over()) return true;
        ++state_->waiting;
        state_->changed.notify_all();
        bool ended;
        if (state_->clock == nullptr) {
            ended = state_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), over);
        } else {
            lock.unlock();
            state_->clock->Sleep(timeoutMs);
            lock.lock();
            ended = over();
        }
        --state_->waiting;
        return ended;
    }

    DeviceWait DoWrite(const Report& data, uint32_t timeoutMs) {
        std::unique_lock lock(state_->mutex);
        if (port_.interrupted) return DeviceWait::Interrupted;
        if (state_->Dead(port_)) return DeviceWait::Failed;
        if (port_.writeOutstanding) return DeviceWait::Failed;  // an earlier write still pending
        if (state_->reading) {
            state_->outputs.push_back(data);
            state_->changed.notify_all();
            return DeviceWait::Done;
        }
        port_.writeOutstanding = true;
        port_.pendingWrite = data;
        WaitFor(lock, timeoutMs, [&] { return !port_.writeOutstanding; });
        if (!port_.writeOutstanding) return DeviceWait::Done;  // taken by ResumeReading
        if (port_.interrupted || state_->Dead(port_)) {
            port_.writeOutstanding = false;
            port_.pendingWrite.clear();
            return port_.interrupted ? DeviceWait::Interrupted : DeviceWait::Failed;
        }
        return DeviceWait::TimedOut;
    }

    DeviceWait DoRead(uint8_t* buffer, uint32_t length, uint32_t timeoutMs) {
        std::unique_lock lock(state_->mutex);
        if (port_.interrupted) return DeviceWait::Interrupted;
        if (state_->Dead(port_)) return DeviceWait::Failed;
        if (port_.readOutstanding) return DeviceWait::Failed;  // timed out and not cancelled
        port_.readOutstanding = true;
        WaitFor(lock, timeoutMs, [&] { return !port_.input.empty(); });
        if (port_.interrupted || state_->Dead(port_)) {
            port_.readOutstanding = false;
            return port_.interrupted ? DeviceWait::Interrupted : DeviceWait::Failed;
        }
        if (port_.input.empty()) return DeviceWait::TimedOut;  // stays outstanding
        port_.readOutstanding = false;
        const Report report = std::move(port_.input.front());
        port_.input.pop_front();
        const size_t copied = std::min<size_t>(report.size(), length);
        if (copied > 0) std::memcpy(buffer, report.data(), copied);
        if (copied < length) std::memset(buffer + copied, 0, length - copied);
        return DeviceWait::Done;
    }

    std::shared_ptr<State> state_;
    State::Port port_;
    std::atomic<bool> writing_{false};
    std::atomic<bool> reading_{false};
};

VirtualDevice::VirtualDevice(std::string path, TimerService* clock)
    : state_(std::make_shared<State>(std::move(path), clock)) {}

VirtualDevice::~VirtualDevice() = default;

std::unique_ptr<DeviceFile> VirtualDevice::Open(const std::string& path) {
    std::lock_guard lock(state_->mutex);
    if (path != state_->path || !state_->plugged || state_->openFails) {
        state_->calls.push_back({Call::Kind::Open, 0, 0, DeviceWait::Failed, false, {}});
        return nullptr;
    }
    const int number = state_->nextNumber++;
    state_->calls.push_back({Call::Kind::Open, number, 0, DeviceWait::Done, true, {}});
    State::Port port;
    port.number = number;
    port.plugGeneration = state_->generation;
    return std::make_unique<File>(state_, std::move(port));
}

void VirtualDevice::QueueInput(Report report) {
    std::lock_guard lock(state_->mutex);
    bool delivered = false;
    for (State::Port* port : state_->ports) {
        if (state_->Dead(*port)) continue;
        if (port->input.size() == kInputQueueLimit) {
            port->input.pop_front();
            ++state_->droppedInputs;
        }
        port->input.push_back(report);
        delivered = true;
    }
    if (!delivered) ++state_->droppedInputs;
    state_->changed.notify_all();
}

void VirtualDevice::StopReading() {
    std::lock_guard lock(state_->mutex);
    state_->reading = false;
}

void VirtualDevice::ResumeReading() {
    std::lock_guard lock(state_->mutex);
    state_->reading = true;
    for (State::Port* port : state_->ports) {
        if (!port->writeOutstanding || state_->Dead(*port)) continue;
        state_->outputs.push_back(std::move(port->pendingWrite));
        port->pendingWrite.clear();
        port->writeOutstanding = false;
    }
    state_->changed.notify_all();
}

void VirtualDevice::SetCancelFails(bool fails) {
    std::lock_guard lock(state_->mutex);
    state_->cancelFails = fails;
}

void VirtualDevice::SetOpenFails(bool fails) {
    std::lock_guard lock(state_->mutex);
    state_->openFails = fails;
}

void VirtualDevice::Unplug() {
    std::lock_guard lock(state_->mutex);
    if (state_->plugged) ++state_->generation;
    state_->plugged = false;
    state_->changed.notify_all();
}

void VirtualDevice::Plug() {
    std::lock_guard lock(state_->mutex);
    state_->plugged = true;
}

std::vector<VirtualDevice::Report> VirtualDevice::Outputs() const {
    std::lock_guard lock(state_->mutex);
    return state_->outputs;
}

std::vector<VirtualDevice::Call> VirtualDevice::Calls() const {
    std::lock_guard lock(state_->mutex);
    return state_->calls;
}

size_t VirtualDevice::OpenFiles() const {
    std::lock_guard lock(state_->mutex);
    return state_->ports.size();
}

size_t VirtualDevice::DroppedInputs() const {
    std::lock_guard lock(state_->mutex);
    return state_->droppedInputs;
}

size_t VirtualDevice::WaitingCalls() const {
    std::lock_guard lock(state_->mutex);
    return state_->waiting;
}

bool VirtualDevice::WaitForOutputs(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->outputs.size() >= count; });
}

}  // namespace platform
