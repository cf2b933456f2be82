// vrexusbdrv.dll as the program uses it: loaded by name, its one export looked up by its
// undecorated name and called through a __stdcall pointer. Runs under Wine, whose own HID
// interfaces must be passed over; none has the module's ids. The matching rules are checked
// against those interfaces, found here by an enumeration of the test's own.
#include <gtest/gtest.h>

#include <windows.h>
// After <windows.h>, which they need.
extern "C" {
#include <hidsdi.h>
}
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "vrexusbdrv/vrexusbdrv.h"

namespace {

constexpr int32_t kVendor = 6017;   // 0x1781
constexpr int32_t kProduct = 2240;  // 0x08C0

class LocatorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        library_ = LoadLibraryA("vrexusbdrv.dll");
        ASSERT_NE(library_, nullptr) << "LoadLibraryA failed, error " << GetLastError();
        find_ = reinterpret_cast<VrexusbFindDeviceProc>(
            reinterpret_cast<void*>(GetProcAddress(library_, "vrexusb_FindDevice")));
        ASSERT_NE(find_, nullptr);
    }
    void TearDown() override {
        if (library_ != nullptr) {
            EXPECT_TRUE(FreeLibrary(library_));
        }
    }

    HMODULE library_ = nullptr;
    VrexusbFindDeviceProc find_ = nullptr;
};

// The names in the module's export directory, read from its loaded image.
std::vector<std::string> ExportNames(HMODULE module, DWORD* functionCount) {
    const auto* base = reinterpret_cast<const uint8_t*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    std::vector<std::string> names;
    *functionCount = 0;
    if (entry.VirtualAddress == 0) return names;
    const auto* directory =
        reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    *functionCount = directory->NumberOfFunctions;
    const auto* nameRvas = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    for (DWORD i = 0; i < directory->NumberOfNames; ++i) {
        names.emplace_back(reinterpret_cast<const char*>(base + nameRvas[i]));
    }
    return names;
}

TEST_F(LocatorTest, ExportsExactlyOneUndecoratedFunction) {
    DWORD functions = 0;
    const std::vector<std::string> names = ExportNames(library_, &functions);
    EXPECT_EQ(functions, 1u);
    EXPECT_EQ(names, std::vector<std::string>{"vrexusb_FindDevice"});
    // The decorated forms a mingw or MSVC build would leave without the .def file.
    EXPECT_EQ(GetProcAddress(library_, "vrexusb_FindDevice@16"), nullptr);
    EXPECT_EQ(GetProcAddress(library_, "_vrexusb_FindDevice@16"), nullptr);
}

struct Records {
    VrexusbPathRecord path;
    VrexusbCaps caps;
};

// A pattern no search would write: any byte changed shows a touched record.
Records Patterned() {
    Records records;
    std::memset(&records, 0xA5, sizeof records);
    records.path.Size = VREXUSB_PATH_RECORD_SIZE;
    return records;
}

TEST_F(LocatorTest, IdsNoDeviceHasLeaveBothRecordsUntouched) {
    struct Case {
        const char* what;
        int32_t vendor;
        int32_t product;
    };
    const Case cases[] = {
        {"the module's ids (not plugged in)", kVendor, kProduct},
        {"vendor above 65535 with the module's low 16 bits", kVendor + 0x10000, kProduct},
        {"product above 65535 with the module's low 16 bits", kVendor, kProduct + 0x10000},
        {"negative ids", -1, -1},
        {"largest 16-bit ids", 0xFFFF, 0xFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Records records = Patterned();
        const Records before = records;
        EXPECT_EQ(find_(c.vendor, c.product, &records.path, &records.caps), 0);
        EXPECT_EQ(std::memcmp(&records, &before, sizeof records), 0);
    }
}

TEST_F(LocatorTest, NullRecordsAreAllowed) {
    EXPECT_EQ(find_(kVendor, kProduct, nullptr, nullptr), 0);
    Records records = Patterned();
    const Records before = records;
    EXPECT_EQ(find_(kVendor, kProduct, &records.path, nullptr), 0);
    EXPECT_EQ(find_(kVendor, kProduct, nullptr, &records.caps), 0);
    EXPECT_EQ(std::memcmp(&records, &before, sizeof records), 0);
}

// A present HID interface that opens for reading and writing, as the test's own search sees it.
struct PresentDevice {
    std::string path;
    uint16_t vendor = 0;
    uint16_t product = 0;
    uint16_t inputLength = 0;
    uint16_t outputLength = 0;
};

std::vector<PresentDevice> PresentDevices() {
    std::vector<PresentDevice> devices;
    GUID guid;
    HidD_GetHidGuid(&guid);
    HDEVINFO set =
        SetupDiGetClassDevsA(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return devices;
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof iface;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &guid, i, &iface); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailA(set, &iface, nullptr, 0, &size, nullptr);
        std::vector<char> buffer(size + 1, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof *detail;
        if (!SetupDiGetDeviceInterfaceDetailA(set, &iface, detail, size, nullptr, nullptr)) {
            continue;
        }
        HANDLE h =
            CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        PresentDevice device;
        device.path = detail->DevicePath;
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        PHIDP_PREPARSED_DATA preparsed = nullptr;
        HIDP_CAPS caps{};
        if (HidD_GetAttributes(h, &attributes) && HidD_GetPreparsedData(h, &preparsed)) {
            if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
                device.vendor = attributes.VendorID;
                device.product = attributes.ProductID;
                device.inputLength = caps.InputReportByteLength;
                device.outputLength = caps.OutputReportByteLength;
                devices.push_back(device);
            }
            HidD_FreePreparsedData(preparsed);
        }
        CloseHandle(h);
    }
    SetupDiDestroyDeviceInfoList(set);
    return devices;
}

// The first present interface with both ids is reported, path and capabilities; interfaces
// before it with only the vendor id are passed over.
TEST_F(LocatorTest, ReportsTheFirstInterfaceWithBothIds) {
    const std::vector<PresentDevice> devices = PresentDevices();
    if (devices.empty()) GTEST_SKIP() << "no openable HID interface on this machine";
    for (size_t i = 0; i < devices.size(); ++i) {
        const PresentDevice& device = devices[i];
        SCOPED_TRACE(device.path);
        size_t first = 0;
        while (devices[first].vendor != device.vendor || devices[first].product != device.product) {
            ++first;
        }
        Records records = Patterned();
        ASSERT_EQ(find_(device.vendor, device.product, &records.path, &records.caps), 1);
        EXPECT_STREQ(records.path.Path, devices[first].path.c_str());
        const size_t length = devices[first].path.size();
        for (size_t b = length; b < sizeof records.path.Path; ++b) {
            ASSERT_EQ(records.path.Path[b], 0) << "byte " << b << " after the path";
        }
        EXPECT_EQ(records.caps.InputReportByteLength, devices[first].inputLength);
        EXPECT_EQ(records.caps.OutputReportByteLength, devices[first].outputLength);

        // Null records: still found.
        EXPECT_EQ(find_(device.vendor, device.product, nullptr, nullptr), 1);
        // Widened ids: the same low 16 bits above 65535 match nothing.
        Records untouched = Patterned();
        const Records before = untouched;
        EXPECT_EQ(find_(device.vendor + 0x10000, device.product, &untouched.path, nullptr), 0);
        EXPECT_EQ(find_(device.vendor, device.product + 0x10000, nullptr, &untouched.caps), 0);
        EXPECT_EQ(std::memcmp(&untouched, &before, sizeof untouched), 0);
    }
}

// The path record's own size bounds what is written: an exact fit gets the path, one byte less
// gets an empty path, and nothing past the record changes.
TEST_F(LocatorTest, PathRecordSizeBoundsTheWrite) {
    const std::vector<PresentDevice> devices = PresentDevices();
    if (devices.empty()) GTEST_SKIP() << "no openable HID interface on this machine";
    const PresentDevice& device = devices.front();
    const uint32_t exact = static_cast<uint32_t>(4 + device.path.size() + 1);
    struct Case {
        uint32_t size;
        bool pathFits;
    };
    for (const Case c : {Case{exact, true}, Case{exact - 1, false}, Case{5, false}}) {
        SCOPED_TRACE(c.size);
        std::vector<char> record(exact + 64, '\x5A');
        std::memcpy(record.data(), &c.size, 4);
        ASSERT_EQ(find_(device.vendor, device.product, record.data(), nullptr), 1);
        const std::string written(record.data() + 4, c.size - 4);
        if (c.pathFits) {
            EXPECT_EQ(written, device.path + '\0');
        } else {
            EXPECT_EQ(written, std::string(c.size - 4, '\0'));
        }
        for (size_t b = c.size; b < record.size(); ++b) {
            ASSERT_EQ(record[b], '\x5A') << "byte " << b << " past the record was written";
        }
    }
}

}  // namespace
