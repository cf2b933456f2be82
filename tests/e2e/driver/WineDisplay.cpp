#include "e2e/driver/WineDisplay.h"

#include <windows.h>

namespace e2e {

bool RunningUnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

bool UseUnmanagedWindows() {
    if (!RunningUnderWine()) return true;
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\X11 Driver", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    static const char kNo[] = "N";
    const bool set = RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>(kNo),
                                    sizeof kNo) == ERROR_SUCCESS;
    RegCloseKey(key);
    return set;
}

}  // namespace e2e
