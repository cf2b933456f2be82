// A stand-in for one run of the program against q417-sim.exe, started by SimulatorToolSessionsTest
// as a process of its own: it opens the real HID link (TUsbLink) as the program does, finding
// the module through the vrexusbdrv.dll beside this exe (the simulator's), waits for a clock
// report, asks for the motor status and waits for the answer. Then, by its argument:
//   close  shuts the link down in order, as the program does when its window closes; exit 0
//   crash  ends the process at once with both handles still open and the receive thread
//          reading, as a program that is killed; exit 3
// Any failure exits 1 with one line on stderr saying what went wrong.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/virtual/VirtualDesktop.h"
#include "testsupport/ReportRecorder.h"
#include "usb/UsbLink.h"

namespace {

using namespace std::chrono_literals;

using Client = usb::testing::ReportRecorder;

int Failed(const std::string& why) {
    std::fprintf(stderr, "simulator tool program: %s\n", why.c_str());
    std::fflush(stderr);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode != "close" && mode != "crash") return Failed("usage: program close|crash");

    platform::VirtualDesktop desktop;
    Client client;
    usb::TUsbLink link({platform::SystemLibraryLoader(), platform::SystemDeviceFiles(), desktop,
                        platform::SystemTimerService()},
                       client, &client);
    link.OpenUsb();
    {
        std::lock_guard lock(client.mutex);
        if (client.status != usb::TUsbLink::kConnectedText) {
            return Failed("the link says \"" + client.status + "\"");
        }
    }
    if (!client.WaitForType(usb::kClockReport, 0, 5s)) return Failed("no clock report");
    const size_t before = client.Count();
    link.SendReport(usb::GetMotorStatusReport());
    if (!client.WaitForType(usb::kStatusReport, before, 5s)) return Failed("no status report");
    if (desktop.Beeps() != 0 || !desktop.Messages().empty()) {
        return Failed("the link beeped or showed a message");
    }

    if (mode == "crash") {
        std::fflush(stdout);
        TerminateProcess(GetCurrentProcess(), 3);  // no destructor runs, nothing is closed
    }
    link.Shutdown();
    return 0;
}
