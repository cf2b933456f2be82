#include "sim/common/SimulatorNames.h"

#include <algorithm>

namespace sim {

namespace {

std::string ObjectName(const char* prefix, const std::string& modulePipePath) {
    std::string name = prefix + modulePipePath;
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace

std::string ModulePipePath(const std::string& name) {
    if (name.empty()) return ModulePipePath(kDefaultPipeName);
    if (name.rfind("\\\\", 0) == 0) return name;
    return "\\\\.\\pipe\\" + name;
}

std::string ControlPipePath(const std::string& modulePipePath) {
    return modulePipePath + "-control";
}

std::string PluggedObjectName(const std::string& modulePipePath) {
    return ObjectName("q417-sim-plugged:", modulePipePath);
}

std::string RunningObjectName(const std::string& modulePipePath) {
    return ObjectName("q417-sim-running:", modulePipePath);
}

}  // namespace sim
