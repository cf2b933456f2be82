#include "e2e/driver/KitFiles.h"

#include "sim/client/SimulatorClient.h"

namespace e2e::kit {

std::string StepperExe() {
    return sim::WindowsPath(Q417_E2E_STEPPER_EXE);
}
std::string SimulatorExe() {
    return sim::WindowsPath(Q417_E2E_SIM_EXE);
}
std::string ModuleLocatorDll() {
    return sim::WindowsPath(Q417_E2E_SIM_VREXUSBDRV);
}
std::string PortLibraryDll() {
    return sim::WindowsPath(Q417_E2E_SIM_INPOUT32);
}
std::string RunRoot() {
    return sim::WindowsPath(Q417_E2E_RUN_ROOT);
}

}  // namespace e2e::kit
