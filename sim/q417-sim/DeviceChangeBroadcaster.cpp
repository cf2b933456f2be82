#include "DeviceChangeBroadcaster.h"

#include <dbt.h>

namespace sim {

namespace {
// Per window; a window whose thread is hung is skipped at once (SMTO_ABORTIFHUNG).
constexpr UINT kTimeoutMs = 1000;
}  // namespace

DeviceChangeBroadcaster::DeviceChangeBroadcaster()
    : pending_(CreateSemaphoreA(nullptr, 0, 1 << 20, nullptr)),
      stop_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      thread_([this] { Run(); }) {}

DeviceChangeBroadcaster::~DeviceChangeBroadcaster() {
    SetEvent(stop_);
    thread_.join();
    CloseHandle(pending_);
    CloseHandle(stop_);
}

void DeviceChangeBroadcaster::Notify() {
    ReleaseSemaphore(pending_, 1, nullptr);
}

void DeviceChangeBroadcaster::Run() {
    // Queued broadcasts first (the lowest signalled index wins), so none is lost at the end.
    const HANDLE waits[] = {pending_, stop_};
    while (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        DWORD_PTR result = 0;
        SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0,
                            SMTO_ABORTIFHUNG | SMTO_NORMAL, kTimeoutMs, &result);
    }
}

}  // namespace sim
