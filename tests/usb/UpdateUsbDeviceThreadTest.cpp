#include "usb/UpdateUsbDeviceThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace usb {
namespace {

using namespace std::chrono_literals;

// A body that counts its passes and suspends itself after each, until terminated.
struct Body {
    std::atomic<int> passes{0};
    void Run(TUpdateUsbDeviceThread& thread) {
        while (!thread.Terminated()) {
            ++passes;
            thread.SuspendSelf();
        }
    }
};

template <typename Predicate>
bool Eventually(Predicate predicate) {
    for (int i = 0; i < 500; ++i) {
        if (predicate()) return true;
        std::this_thread::sleep_for(2ms);
    }
    return predicate();
}

TEST(TUpdateUsbDeviceThread, CreatedSuspendedRunsOnResumeAndParksItself) {
    Body body;
    TUpdateUsbDeviceThread thread;
    thread.SetOnExecute(TUpdateUsbDeviceThread::ExecuteEvent::Bind<&Body::Run>(&body));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(body.passes, 0);
    EXPECT_TRUE(thread.Suspended());
    thread.Resume();
    ASSERT_TRUE(Eventually([&] { return body.passes == 1 && thread.Suspended(); }));
    thread.Resume();
    ASSERT_TRUE(Eventually([&] { return body.passes == 2 && thread.Suspended(); }));
    thread.Terminate();
    thread.WaitFor();
    EXPECT_EQ(body.passes, 2);
}

TEST(TUpdateUsbDeviceThread, AResumeJustBeforeTheThreadSuspendsIsNotLost) {
    struct Racing {
        std::atomic<bool> checked{false}, resumed{false};
        std::atomic<int> passes{0};
        void Run(TUpdateUsbDeviceThread& thread) {
            while (!thread.Terminated()) {
                ++passes;
                checked = true;  // "no link" seen ...
                while (!resumed)
                    std::this_thread::yield();  // ... the window resumes here ...
                resumed = false;
                thread.SuspendSelf();  // ... and this must not park
            }
        }
    } body;
    TUpdateUsbDeviceThread thread;
    thread.SetOnExecute(TUpdateUsbDeviceThread::ExecuteEvent::Bind<&Racing::Run>(&body));
    thread.Resume();
    ASSERT_TRUE(Eventually([&] { return body.checked.load(); }));
    body.checked = false;
    thread.Resume();  // the thread is running, not parked
    body.resumed = true;
    EXPECT_TRUE(Eventually([&] { return body.passes >= 2; }));
    thread.Terminate();
    body.resumed = true;
}

TEST(TUpdateUsbDeviceThread, DestroyingEndsAParkedThread) {
    Body body;
    {
        TUpdateUsbDeviceThread thread;
        thread.SetOnExecute(TUpdateUsbDeviceThread::ExecuteEvent::Bind<&Body::Run>(&body));
        thread.Resume();
        ASSERT_TRUE(Eventually([&] { return thread.Suspended() && body.passes == 1; }));
    }
    EXPECT_EQ(body.passes, 1);
}

}  // namespace
}  // namespace usb
