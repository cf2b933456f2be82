// How long one Out32 call of the virtual parallel port takes. The program writes up to 4000
// times a second (four motors at 1000 steps per second), each write inside a timer callback.
//
// - model_ns: the portable model and its trace lines into a file, handed to the file after every
//   call (what the DLL does), and model_buffered_ns the same without that, which shows what
//   handing each call's lines over costs;
// - out32_ns (Windows): the kit's inpout32.dll itself, a copy in a temporary folder so that its
//   trace does not land in the kit's folder: lock, clock, model, trace and hand-over.
// Prints its figures, last a line "RESULT out32_ns=<x>" (the model's figure where there is no DLL).
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

#include "sim/parport/PortTrace.h"
#include "sim/parport/VirtualParallelPort.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

constexpr int kCalls = 200000;
// Motor 1 and 3 turning right, one write per step, as the program's steps write them.
constexpr uint8_t kCodes[] = {0x11, 0x33, 0x22, 0x00};

double ModelNs(const std::string& path, bool flushEach) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    sim::PortTrace trace(file);
    trace.WriteHeader();
    sim::VirtualParallelPort port(&trace);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) {
        const auto now =
            static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                      std::chrono::steady_clock::now() - start)
                                      .count());
        port.Write(0x378, static_cast<uint16_t>(0xFF00 | kCodes[i % 4]), now);
        if (flushEach) trace.Flush();
    }
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // Every write is one step of motor 1: a figure from a port that miscounted would be void.
    if (port.Position(1) != kCalls) std::printf("unexpected position %d\n", port.Position(1));
    return std::chrono::duration<double, std::nano>(elapsed).count() / kCalls;
}

#if defined(_WIN32)
double DllNs() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string folder =
        std::string(temp) + "q417-vport-bench-" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    const std::string dll = folder + "inpout32.dll";
    double ns = -1;
    if (CopyFileA(Q417_SIM_INPOUT32, dll.c_str(), FALSE)) {
        if (HMODULE library = LoadLibraryA(dll.c_str())) {
            using Out32Function = void(__stdcall*)(int16_t, int16_t);
            const auto out32 = reinterpret_cast<Out32Function>(
                reinterpret_cast<void (*)()>(GetProcAddress(library, "Out32")));
            if (out32 != nullptr) {
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < kCalls; ++i)
                    out32(0x378, static_cast<int16_t>(0xFF00 | kCodes[i % 4]));
                ns = std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() -
                                                              start)
                         .count() /
                     kCalls;
            }
            FreeLibrary(library);
        }
    }
    if (ns < 0) std::printf("could not load %s\n", Q417_SIM_INPOUT32);
    DeleteFileA(dll.c_str());
    DeleteFileA((folder + "q417-sim-lpt-trace.csv").c_str());
    RemoveDirectoryA(folder.c_str());
    return ns;
}
#endif

}  // namespace

int main() {
    const std::string path = "vport-bench-trace.csv";
    const double buffered = ModelNs(path, false);
    const double flushed = ModelNs(path, true);
    std::remove(path.c_str());
    std::printf("calls %d\nmodel_buffered_ns %.0f\nmodel_ns %.0f\n", kCalls, buffered, flushed);
#if defined(_WIN32)
    const double dll = DllNs();
    std::printf("RESULT out32_ns=%.0f\n", dll >= 0 ? dll : flushed);
#else
    std::printf("RESULT out32_ns=%.0f\n", flushed);
#endif
    return 0;
}
