// The two decisions of the device search that need no system call: whether a device's ids match
// the ones asked for, and how a device path goes into the caller's path record. Kept apart from
// the SetupAPI code so that they are tested natively, on every record size.
#pragma once

#include <cstdint>
#include <cstring>

#include "vrexusb_records.h"

namespace vrexusb {

// The device's 16-bit ids, widened without sign, against the caller's 32-bit signed ones: an
// argument outside 0..65535 never matches, even when its low 16 bits equal the device's id.
inline bool IdsMatch(uint16_t deviceVendor, uint16_t deviceProduct, int32_t vendorId,
                     int32_t productId) {
    return static_cast<int32_t>(deviceVendor) == vendorId &&
           static_cast<int32_t>(deviceProduct) == productId;
}

// Writes path into the record whose first word holds its total size N. Nothing is written at or
// after byte N. The path fills the N - 4 bytes from byte 4 and zeroes follow it to the end; a
// path that does not fit with its terminator leaves those bytes all zero (an empty path), since
// a cut path could name another device. A record of 4 bytes or less has no room: untouched.
inline void WritePathRecord(void* record, const char* path) {
    uint32_t size = 0;
    std::memcpy(&size, record, sizeof size);
    if (size <= sizeof size) return;
    const size_t room = size - sizeof size;
    char* text = static_cast<char*>(record) + sizeof size;
    const size_t length = std::strlen(path);
    if (length < room) {
        std::memcpy(text, path, length);
        std::memset(text + length, 0, room - length);
    } else {
        std::memset(text, 0, room);
    }
}

}  // namespace vrexusb
