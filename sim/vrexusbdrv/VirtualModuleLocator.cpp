// The simulator's vrexusb_FindDevice: "finds" the virtual module of a running q417-sim.exe.
//
// The module counts as present exactly while the simulator holds its "plugged" object for the
// pipe named by Q417_SIM_PIPE (else the default pipe; see SimulatorNames.h). Then the device
// matches as the real module does (vendor 6017, product 2240, the same widened comparison), its
// path is the pipe's path, written by the same path-record rules, and its capabilities say 16-byte
// input and output reports. Otherwise nothing is found and neither record is touched.
// No state, no message box, no handle kept: a plain check on every call, from any thread.
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

std::string ModulePipe() {
    std::string name(256, '\0');
    DWORD length = GetEnvironmentVariableA(sim::kPipeNameVariable, name.data(),
                                           static_cast<DWORD>(name.size()));
    if (length >= name.size()) {  // too small: length is the size needed
        name.resize(length);
        length = GetEnvironmentVariableA(sim::kPipeNameVariable, name.data(), length);
    }
    name.resize(length < name.size() ? length : 0);
    return sim::ModulePipePath(name);  // unset or empty: the default pipe
}

bool ModulePlugged(const std::string& pipe) {
    const HANDLE plugged = OpenEventA(SYNCHRONIZE, FALSE, sim::PluggedObjectName(pipe).c_str());
    if (plugged == nullptr) return false;
    CloseHandle(plugged);
    return true;
}

}  // namespace

extern "C" uint8_t VREXUSB_CALL vrexusb_FindDevice(int32_t vendorId, int32_t productId,
                                                   void* pathRecord, VrexusbCaps* capsRecord) {
    if (!vrexusb::IdsMatch(kModuleVendor, kModuleProduct, vendorId, productId)) return 0;
    const std::string pipe = ModulePipe();
    if (!ModulePlugged(pipe)) return 0;
    if (pathRecord != nullptr) vrexusb::WritePathRecord(pathRecord, pipe.c_str());
    if (capsRecord != nullptr) {
        std::memset(capsRecord, 0, sizeof *capsRecord);
        capsRecord->InputReportByteLength = kReportLength;
        capsRecord->OutputReportByteLength = kReportLength;
    }
    return 1;
}
