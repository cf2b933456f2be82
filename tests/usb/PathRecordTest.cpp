// The locator's two rules that need no system: id matching with widened 16-bit ids, and the path
// written into a caller's record of any size without a byte past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "vrexusbdrv/PathRecord.h"

namespace vrexusb {
namespace {

TEST(IdsMatch, WidenedIdsMatchOnlyTheirOwnValue) {
    struct Case {
        uint16_t deviceVendor, deviceProduct;
        int32_t vendor, product;
        bool match;
    };
    const Case cases[] = {
        {0x1781, 0x08C0, 6017, 2240, true},
        {0x1781, 0x08C1, 6017, 2240, false},  // vendor alone is not enough
        {0x1782, 0x08C0, 6017, 2240, false},
        {0x1781, 0x08C0, 6017 + 0x10000, 2240, false},  // same low 16 bits, above 65535
        {0x1781, 0x08C0, 6017, 2240 + 0x10000, false},
        {0xFFFF, 0xFFFF, 65535, 65535, true},  // widened without sign
        {0xFFFF, 0xFFFF, -1, -1, false},
        {0x0000, 0x0000, 0, 0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IdsMatch(c.deviceVendor, c.deviceProduct, c.vendor, c.product), c.match)
            << std::hex << c.deviceVendor << ":" << c.deviceProduct << " asked " << c.vendor << ":"
            << c.product;
    }
}

constexpr char kGuard = '\x5A';

// A record of `size` bytes (its size word says so) inside a larger guarded buffer.
std::vector<char> Record(uint32_t size, size_t guardBytes = 32) {
    std::vector<char> buffer(std::max<size_t>(size, 4) + guardBytes, kGuard);
    std::memcpy(buffer.data(), &size, 4);
    return buffer;
}

TEST(WritePathRecord, FitsOrLeavesAnEmptyPathNeverWritingPastTheRecord) {
    const std::string path = "\\\\?\\hid#vid_1781&pid_08c0#7&1a2b3c&0&0000#{4d1e55b2}";
    const uint32_t exact = static_cast<uint32_t>(4 + path.size() + 1);
    struct Case {
        const char* what;
        uint32_t size;
        bool fits;
    };
    const Case cases[] = {
        {"the program's 1024-byte record", 1024, true},
        {"exact fit, terminator in the last byte", exact, true},
        {"one byte short: no cut path", exact - 1, false},
        {"room for the terminator only", 5, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<char> record = Record(c.size);
        WritePathRecord(record.data(), path.c_str());
        uint32_t size = 0;
        std::memcpy(&size, record.data(), 4);
        EXPECT_EQ(size, c.size) << "the size word is the caller's";
        const std::string text(record.data() + 4, c.size - 4);
        const std::string expected = c.fits ? path + std::string(c.size - 4 - path.size(), '\0')
                                            : std::string(c.size - 4, '\0');
        EXPECT_EQ(text, expected);
        for (size_t b = c.size; b < record.size(); ++b) {
            ASSERT_EQ(record[b], kGuard) << "byte " << b << " past the record";
        }
    }
}

// Records too small to hold even a terminator are left as they are, size word included; the
// size word is never taken for unsigned room that wraps around.
TEST(WritePathRecord, RecordsWithoutRoomAreUntouched) {
    for (uint32_t size : {0u, 1u, 3u, 4u}) {
        SCOPED_TRACE(size);
        std::vector<char> record = Record(size);
        const std::vector<char> before = record;
        WritePathRecord(record.data(), "\\\\?\\hid#x");
        EXPECT_EQ(record, before);
    }
}

}  // namespace
}  // namespace vrexusb
