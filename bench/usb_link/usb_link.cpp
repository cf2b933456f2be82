// USB link benchmark (Windows, run under Wine): the real link (TUsbLink on Win32 device files)
// against the virtual module of q417-sim.exe, found through the simulator's vrexusbdrv.dll beside
// this exe. Measures the report round trip (GetMotorStatus sent -> status report dispatched by
// the receive thread) and the sustained rate of output reports through SendReport.
//
// Usage: usb_link [round trips, default 500] [reports, default 5000]
// Last line: RESULT rtt_p50_ms=<x> rtt_p99_ms=<x> reports_per_s=<x>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/virtual/VirtualDesktop.h"
#include "sim/client/SimulatorClient.h"
#include "usb/UsbLink.h"

namespace {

double Now() {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart / frequency;
}

// Notes the time of every status report the receive thread dispatches.
struct Client : usb::UsbLinkClient, motion::TextDisplay {
    std::mutex mutex;
    std::condition_variable arrived;
    long statusReports = 0;
    double lastStatusTime = 0;
    std::string status;

    void ReleaseParallelPort() override {}
    void ClearSegmentRings() override {}
    void ResetUsbBuffers() override {}
    void ReceiveThreadStarted() override {}
    void BeginPass() override {}
    void SetText(std::string_view text) override { status = text; }
    void DispatchReport(const usb::UsbReport& report, double) override {
        if (report[1] != usb::kStatusReport) return;
        const double now = Now();
        std::lock_guard lock(mutex);
        ++statusReports;
        lastStatusTime = now;
        arrived.notify_all();
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int roundTrips = argc > 1 ? std::atoi(argv[1]) : 500;
    const int reports = argc > 2 ? std::atoi(argv[2]) : 5000;
    if (roundTrips < 1 || reports < 1) {
        std::fprintf(stderr, "usage: usb_link [round trips] [reports]\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0);

    sim::SimulatorClient simulator;
    if (!simulator.Start(Q417_SIM_EXE)) {
        std::fprintf(stderr, "usb_link: %s\n", simulator.Error().c_str());
        return 1;
    }
    platform::VirtualDesktop desktop;
    Client client;
    usb::TUsbLink link({platform::SystemLibraryLoader(), platform::SystemDeviceFiles(), desktop,
                        platform::SystemTimerService()},
                       client, &client);
    link.OpenUsb();
    if (!link.Connected()) {
        std::fprintf(stderr, "usb_link: %s\n", client.status.c_str());
        return 1;
    }

    std::vector<double> rtt;
    int lost = 0;
    for (int i = 0; i < roundTrips; ++i) {
        long before;
        {
            std::lock_guard lock(client.mutex);
            before = client.statusReports;
        }
        const double sent = Now();
        link.SendReport(usb::GetMotorStatusReport());
        std::unique_lock lock(client.mutex);
        if (client.arrived.wait_for(lock, std::chrono::seconds(2),
                                    [&] { return client.statusReports > before; })) {
            rtt.push_back((client.lastStatusTime - sent) * 1000);
        } else {
            ++lost;
        }
    }
    std::sort(rtt.begin(), rtt.end());
    auto percentile = [&](double p) {
        return rtt.empty() ? 0.0
                           : rtt[std::min(rtt.size() - 1, static_cast<size_t>(rtt.size() * p))];
    };

    usb::UsbReport output{};
    output[1] = 0x0A;  // direct output: phase byte in byte 2
    output[3] = 0xFF;
    output[7] = 0xFF;
    output[8] = 0xFF;
    const double start = Now();
    for (int i = 0; i < reports; ++i) {
        output[2] = static_cast<uint8_t>(i);
        link.SendReport(output);
    }
    const double seconds = Now() - start;
    link.Shutdown();

    std::printf("round trips: %zu answered, %d lost; p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
                rtt.size(), lost, percentile(0.5), percentile(0.99),
                rtt.empty() ? 0.0 : rtt.back());
    std::printf("output reports: %d in %.3f s; beeps %d\n", reports, seconds, desktop.Beeps());
    std::printf("RESULT rtt_p50_ms=%.3f rtt_p99_ms=%.3f reports_per_s=%.0f\n", percentile(0.5),
                percentile(0.99), reports / seconds);
    return lost == 0 ? 0 : 1;
}
