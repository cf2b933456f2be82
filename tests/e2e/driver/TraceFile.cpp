#include "e2e/driver/TraceFile.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>

namespace e2e {

namespace {

// The whole file, also while another process holds it open for writing (Windows needs the
// sharing flags for that; elsewhere a plain open reads it).
std::string ReadShared(const std::string& path) {
#ifdef _WIN32
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
#else
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
#endif
}

template <typename T>
bool ParseNumber(const std::string& text, T& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseTraceLine(const std::string& line, TraceLine& out) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (int column = 0; column < 6; ++column) {
        const size_t comma = line.find(',', start);
        if (comma == std::string::npos) return false;
        fields.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
    out.Last = line.substr(start);
    if (!out.Last.empty() && out.Last.back() == '\r') out.Last.pop_back();
    if (!ParseNumber(fields[0], out.Tick)) return false;
    if (!ParseNumber(fields[1], out.Seconds)) return false;
    if (fields[2].empty()) {
        out.Motor = -1;
        return true;
    }
    return ParseNumber(fields[2], out.Motor) && ParseNumber(fields[3], out.Direction) &&
           ParseNumber(fields[4], out.Phase) && ParseNumber(fields[5], out.Position);
}

std::vector<TraceLine> ReadTrace(const std::string& path) {
    const std::string bytes = ReadShared(path);
    std::vector<TraceLine> lines;
    size_t start = bytes.find('\n');  // after the header
    while (start != std::string::npos && start + 1 < bytes.size()) {
        const size_t end = bytes.find('\n', start + 1);
        if (end == std::string::npos) break;  // the last line is not complete yet
        TraceLine line;
        if (ParseTraceLine(bytes.substr(start + 1, end - start - 1), line)) lines.push_back(line);
        start = end;
    }
    return lines;
}

std::vector<TraceLine> MotorSteps(const std::vector<TraceLine>& lines, int motor) {
    std::vector<TraceLine> steps;
    for (const TraceLine& line : lines)
        if (line.Motor == motor) steps.push_back(line);
    return steps;
}

size_t CountSteps(const std::string& path, int motor) {
    return MotorSteps(ReadTrace(path), motor).size();
}

std::vector<sim::ModuleStep> PlayedSteps(const std::vector<TraceLine>& lines, int motor) {
    std::vector<sim::ModuleStep> steps;
    for (const TraceLine& line : lines) {
        if (line.Motor != motor) continue;
        sim::ModuleStep step{};
        step.tick = line.Tick;
        step.elapsed = line.Tick;
        step.timeUs = static_cast<uint64_t>(std::llround(line.Seconds * 1e6));
        step.motor = motor;
        step.direction = line.Direction;
        step.phase = static_cast<uint8_t>(line.Phase);
        step.position = line.Position;
        steps.push_back(step);
    }
    return steps;
}

int ModuleEvents(const std::vector<TraceLine>& lines, const std::string& kind, int motor) {
    const std::string prefix = kind + " " + std::to_string(motor) + " ";
    int count = 0;
    for (const TraceLine& line : lines)
        if (line.Motor == -1 && line.Last.rfind(prefix, 0) == 0) ++count;
    return count;
}

}  // namespace e2e
