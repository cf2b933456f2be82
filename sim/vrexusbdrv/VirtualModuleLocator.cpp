// The simulator's vrexusb_FindDevice: "finds" the virtual module of a running q417-sim.exe.
//
// The module counts as present exactly while the simulator holds its "plugged" object for the
// pipe named by Q417_SIM_PIPE (else the default pipe; see SimulatorNames.h). Then the device
// matches as the real module does (vendor 6017, product 2240, the same widened comparison), its
// path is the pipe's path, written by the same path-record rules, and its capabilities say 16-byte
// input and output reports. Otherwise nothing is found and neither record is touched.
//
// Nothing found is never shown to the program: no message box, no console output, exactly as the
// real locator reports an absent module. Instead each call that finds nothing writes one line with
// OutputDebugStringA saying why (Q417_SIM_PIPE is no usable pipe name, no simulator runs on the
// pipe, the module is pulled out, other device ids), for a debugger or a debug-output viewer.
// No state, no handle kept: a plain check on every call, from any thread.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/common/SimulatorNames.h"
#include "vrexusbdrv/PathRecord.h"
#include "vrexusbdrv/vrexusbdrv.h"

namespace {

constexpr uint16_t kModuleVendor = 6017;   // 0x1781
constexpr uint16_t kModuleProduct = 2240;  // 0x08C0
constexpr uint16_t kReportLength = 16;

std::string PipeName() {
    std::string name(256, '\0');
    DWORD length = GetEnvironmentVariableA(sim::kPipeNameVariable, name.data(),
                                           static_cast<DWORD>(name.size()));
    if (length >= name.size()) {  // too small: length is the size needed
        name.resize(length);
        length = GetEnvironmentVariableA(sim::kPipeNameVariable, name.data(), length);
    }
    name.resize(length < name.size() ? length : 0);
    return name;
}

bool ObjectExists(const std::string& name, bool mutex) {
    const HANDLE object = mutex ? OpenMutexA(SYNCHRONIZE, FALSE, name.c_str())
                                : OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
    if (object == nullptr) return false;
    CloseHandle(object);
    return true;
}

void Explain(const std::string& why) {
    OutputDebugStringA(("vrexusbdrv (q417-sim kit): no device: " + why + "\n").c_str());
}

uint8_t FindVirtualModule(int32_t vendorId, int32_t productId, void* pathRecord,
                          VrexusbCaps* capsRecord) {
    if (!vrexusb::IdsMatch(kModuleVendor, kModuleProduct, vendorId, productId)) {
        Explain("vendor " + std::to_string(vendorId) + ", product " + std::to_string(productId) +
                " is not the module (6017, 2240)");
        return 0;
    }
    const std::string name = PipeName();
    const std::string problem = sim::PipeNameProblem(name);
    if (!problem.empty()) {
        Explain(std::string(sim::kPipeNameVariable) + "=" + name +
                " is no usable pipe name: " + problem);
        return 0;
    }
    const std::string pipe = sim::ModulePipePath(name);  // unset or empty: the default pipe
    if (!ObjectExists(sim::PluggedObjectName(pipe), false)) {
        Explain(ObjectExists(sim::RunningObjectName(pipe), true)
                    ? "the virtual module on " + pipe + " is pulled out (key p in q417-sim)"
                    : "no q417-sim.exe runs on " + pipe);
        return 0;
    }
    if (pathRecord != nullptr) vrexusb::WritePathRecord(pathRecord, pipe.c_str());
    if (capsRecord != nullptr) {
        std::memset(capsRecord, 0, sizeof *capsRecord);
        capsRecord->InputReportByteLength = kReportLength;
        capsRecord->OutputReportByteLength = kReportLength;
    }
    return 1;
}

}  // namespace

// No exception may cross into the caller (it is not C++ at all as far as the ABI goes): a
// failure to allocate a message finds nothing.
extern "C" uint8_t VREXUSB_CALL vrexusb_FindDevice(int32_t vendorId, int32_t productId,
                                                   void* pathRecord, VrexusbCaps* capsRecord) {
    try {
        return FindVirtualModule(vendorId, productId, pathRecord, capsRecord);
    } catch (...) {
        return 0;
    }
}
