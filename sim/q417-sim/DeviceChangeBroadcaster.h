// DeviceChangeBroadcaster: tells every top-level window that the set of devices changed, as
// Windows does when a USB device arrives or leaves: WM_DEVICECHANGE with DBT_DEVNODES_CHANGED,
// sent with SendMessageTimeoutA to HWND_BROADCAST.
//
// A broadcast waits for each window to answer (up to its time-out), and a window may belong to
// a test driver that is just then waiting for the simulator. So the broadcasts go out on a
// thread of their own, one per Notify, in order; the simulator's I/O never waits for them.
#pragma once

#include <windows.h>

#include <thread>

namespace sim {

class DeviceChangeBroadcaster {
  public:
    DeviceChangeBroadcaster();
    // Sends the broadcasts still queued (each bounded by its time-outs), then ends the thread.
    ~DeviceChangeBroadcaster();

    DeviceChangeBroadcaster(const DeviceChangeBroadcaster&) = delete;
    DeviceChangeBroadcaster& operator=(const DeviceChangeBroadcaster&) = delete;

    // Queues one broadcast. Any thread.
    void Notify();

  private:
    void Run();

    HANDLE pending_;  // semaphore: one count per queued broadcast
    HANDLE stop_;     // manual-reset event
    std::thread thread_;
};

}  // namespace sim
