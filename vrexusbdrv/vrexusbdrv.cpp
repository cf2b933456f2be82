// vrexusb_FindDevice: walks the present HID device interfaces with SetupAPI, opens each one for
// synchronous read/write, and reports the first whose vendor and product ids match: its path
// (into the caller's path record) and its HIDP_CAPS (into the caller's capabilities record).
//
// Everything the search uses lives on this call's stack or heap and is released before it
// returns; the library has no global state. Devices that cannot be opened for reading and
// writing (keyboards, mice, the platform's own HID interfaces) are passed over without a word.
#include "vrexusbdrv.h"

#include <windows.h>
// After <windows.h>, which they need. mingw's HID headers lack their own extern "C".
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "PathRecord.h"

// The 32-bit sizes the search relies on (the program that loads this library is 32-bit).
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(sizeof(HIDD_ATTRIBUTES) == 12);
#endif
static_assert(sizeof(HIDP_CAPS) == sizeof(VrexusbCaps));
static_assert(offsetof(HIDP_CAPS, InputReportByteLength) ==
              offsetof(VrexusbCaps, InputReportByteLength));
static_assert(offsetof(HIDP_CAPS, OutputReportByteLength) ==
              offsetof(VrexusbCaps, OutputReportByteLength));
static_assert(offsetof(HIDP_CAPS, NumberFeatureDataIndices) ==
              offsetof(VrexusbCaps, NumberFeatureDataIndices));

namespace {

// Shows "<call> <system message for the last error>" in a box without owner, caption
// "DisplayLastError", and returns when the operator closes it. The text is cut at 1023 chars.
void DisplayLastError(const char* callName) {
    const DWORD code = GetLastError();
    char* message = nullptr;
    FormatMessageA(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&message),
        0, nullptr);
    char text[1024];
    std::snprintf(text, sizeof text, "%s %s", callName, message != nullptr ? message : "");
    MessageBoxA(nullptr, text, "DisplayLastError", MB_OK);
    LocalFree(message);
}

// Reads the matching device's capabilities into capsRecord (when given). Failures are shown and
// leave the record untouched; the device still counts as found.
void ReadCaps(HANDLE device, VrexusbCaps* capsRecord) {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(device, &preparsed)) {
        DisplayLastError("HidD_GetPreparsedData");
        return;
    }
    HIDP_CAPS caps{};
    const bool capsRead = HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS;
    if (!capsRead) DisplayLastError("HidP_GetCaps");
    if (!HidD_FreePreparsedData(preparsed)) DisplayLastError("HidD_FreePreparsedData");
    if (capsRead && capsRecord != nullptr) std::memcpy(capsRecord, &caps, sizeof caps);
}

// Examines one interface of the set; true when it is the device asked for (records filled).
bool ExamineInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& iface, int32_t vendorId,
                      int32_t productId, void* pathRecord, VrexusbCaps* capsRecord) {
    DWORD required = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &required, nullptr);
    // A failed size query reports no size: without room for the size field there is no detail.
    if (required < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    // One zero byte beyond the reported size keeps the path terminated whatever the second call
    // does; a failed call leaves an empty path, which the open below refuses.
    auto* detail = static_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(std::calloc(1, required + 1));
    if (detail == nullptr) return false;
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, required, nullptr, nullptr);

    bool found = false;
    HANDLE device =
        CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (device != INVALID_HANDLE_VALUE) {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        bool matches = false;
        if (!HidD_GetAttributes(device, &attributes)) {
            DisplayLastError("HidD_GetAttributes");
        } else {
            matches =
                vrexusb::IdsMatch(attributes.VendorID, attributes.ProductID, vendorId, productId);
        }
        if (matches) {
            ReadCaps(device, capsRecord);
            if (pathRecord != nullptr) vrexusb::WritePathRecord(pathRecord, detail->DevicePath);
            found = true;
        }
        CloseHandle(device);
    }
    std::free(detail);
    return found;
}

}  // namespace

extern "C" uint8_t VREXUSB_CALL vrexusb_FindDevice(int32_t vendorId, int32_t productId,
                                                   void* pathRecord, VrexusbCaps* capsRecord) {
    GUID hidGuid;
    HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    // A set that could not be had holds no interfaces; it is not destroyed (that would only fail
    // and show a box for a failure that ends the search quietly).
    if (set == INVALID_HANDLE_VALUE) return 0;

    bool found = false;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    for (DWORD index = 0;
         !found && SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, index, &iface); ++index) {
        found = ExamineInterface(set, iface, vendorId, productId, pathRecord, capsRecord);
    }

    if (!SetupDiDestroyDeviceInfoList(set)) DisplayLastError("SetupDiDestroyDeviceInfoList");
    return found ? 1 : 0;
}
