// Writes and then reads a project of 4 x 25,000 program steps through the real file store, five
// rounds, and prints the median time of each half; then loads a project of a million program
// steps (4 x 250,000), whose time shows that loading stays linear in the file's length (the
// programs grow geometrically), and the process's peak memory.
// Last line: RESULT platform=<native|wine|windows> write_ms=<x> read_ms=<x>
//            million_write_ms=<x> million_read_ms=<x> peak_mb=<x>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
// psapi.h needs windows.h first.
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

#include "platform/FileStore.h"
#include "project/ProjectModel.h"
#include "project/ProjectReader.h"
#include "project/ProjectSession.h"
#include "project/ProjectWriter.h"

namespace {

constexpr int kStepsPerMotor = 25000;
constexpr int kMillionPerMotor = 250000;
constexpr int kRounds = 5;

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

const char* Platform() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr) return "wine";
    return "windows";
#else
    return "native";
#endif
}

double PeakMegabytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
#else
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
#endif
}

void Fill(project::ProjectModel& model, int stepsPerMotor) {
    model.Port = 888;
    for (int m = 0; m < project::ProjectTarget::kMotorCount; ++m) {
        for (int i = 0; i < stepsPerMotor; ++i) {
            const motion::TsmProgramStep step{100 + i % 900, 50.0 + (i % 4000) * 0.37,
                                              (i % 7) * 0.125, static_cast<uint8_t>(i % 3)};
            model.AppendStep(m, step);
        }
    }
}

}  // namespace

int main() {
    platform::FileStore& files = platform::SystemFileStore();
    const std::string path =
        (std::filesystem::temp_directory_path() / "q417_project_io.smp").string();

    project::ProjectModel source;
    Fill(source, kStepsPerMotor);

    std::vector<double> writes, reads;
    size_t bytes = 0;
    for (int round = 0; round < kRounds; ++round) {
        const auto t0 = Clock::now();
        const std::string text = project::WriteProjectText(source);
        if (!files.WriteFileAtomically(path, text)) {
            std::printf("cannot create %s\n", path.c_str());
            return 1;
        }
        const auto t1 = Clock::now();
        bytes = text.size();

        project::ProjectModel target;
        const auto t2 = Clock::now();
        if (project::LoadProjectFile(files, path, target) != platform::FileReadResult::kOk) {
            std::printf("cannot open %s\n", path.c_str());
            return 1;
        }
        const auto t3 = Clock::now();
        for (int m = 0; m < project::ProjectTarget::kMotorCount; ++m) {
            if (target.Motors[m].Program.Count() != kStepsPerMotor) {
                std::printf("motor %d: %d steps read back\n", m + 1,
                            target.Motors[m].Program.Count());
                return 1;
            }
        }
        writes.push_back(Milliseconds(t1 - t0));
        reads.push_back(Milliseconds(t3 - t2));
        std::printf("round %d: write %.1f ms, read %.1f ms\n", round + 1, writes.back(),
                    reads.back());
    }
    std::printf("file: %zu bytes, %d steps\n", bytes, 4 * kStepsPerMotor);

    // A million program steps, once.
    double millionWrite = 0, millionRead = 0;
    {
        project::ProjectModel million;
        Fill(million, kMillionPerMotor);
        const auto t0 = Clock::now();
        const std::string text = project::WriteProjectText(million);
        if (!files.WriteFileAtomically(path, text)) {
            std::printf("cannot create %s\n", path.c_str());
            return 1;
        }
        const auto t1 = Clock::now();
        project::ProjectModel target;
        if (project::LoadProjectFile(files, path, target) != platform::FileReadResult::kOk) {
            std::printf("cannot open %s\n", path.c_str());
            return 1;
        }
        const auto t2 = Clock::now();
        for (int m = 0; m < project::ProjectTarget::kMotorCount; ++m) {
            if (target.Motors[m].Program.Count() != kMillionPerMotor) {
                std::printf("motor %d: %d steps read back\n", m + 1,
                            target.Motors[m].Program.Count());
                return 1;
            }
        }
        millionWrite = Milliseconds(t1 - t0);
        millionRead = Milliseconds(t2 - t1);
        std::printf("million steps: %zu bytes, write %.1f ms, load %.1f ms\n", text.size(),
                    millionWrite, millionRead);
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);

    std::printf(
        "RESULT platform=%s write_ms=%.1f read_ms=%.1f million_write_ms=%.1f "
        "million_read_ms=%.1f peak_mb=%.1f\n",
        Platform(), Median(writes), Median(reads), millionWrite, millionRead, PeakMegabytes());
    return 0;
}
