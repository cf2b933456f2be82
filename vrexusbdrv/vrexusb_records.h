/* The records that the caller of vrexusb_FindDevice owns and the library fills, and the calling
 * convention both sides use. Plain C, no system header beyond <stdint.h>, so that portable code
 * (which reaches the library only through a loader) can include it as well as the library.
 *
 * Path record: caller's memory of N bytes. Bytes 0..3 hold N as a 32-bit unsigned word (the word
 * itself included); from byte 4 on the device path as a zero-terminated ANSI string. The library
 * writes nothing at or after byte N. The program passes a VrexusbPathRecord (N = 1024).
 *
 * Capabilities record: 64 bytes with the layout of the platform's HIDP_CAPS structure. The HID
 * link uses only InputReportByteLength and OutputReportByteLength.
 */
#ifndef VREXUSBDRV_VREXUSB_RECORDS_H
#define VREXUSBDRV_VREXUSB_RECORDS_H

#include <stdint.h>

/* vrexusb_FindDevice is __stdcall (WINAPI): the callee pops its 16 bytes of arguments. A caller
 * that assumed cdecl would corrupt its stack on i686. Other platforms (64-bit Windows, POSIX)
 * have a single convention. */
#if defined(_WIN32) && !defined(_WIN64)
#define VREXUSB_CALL __stdcall
#else
#define VREXUSB_CALL
#endif

#define VREXUSB_PATH_RECORD_SIZE 1024u

typedef struct VrexusbPathRecord {
    uint32_t Size; /* VREXUSB_PATH_RECORD_SIZE */
    char Path[VREXUSB_PATH_RECORD_SIZE - 4];
} VrexusbPathRecord;

/* HIDP_CAPS, field for field. */
typedef struct VrexusbCaps {
    uint16_t Usage;
    uint16_t UsagePage;
    uint16_t InputReportByteLength;
    uint16_t OutputReportByteLength;
    uint16_t FeatureReportByteLength;
    uint16_t Reserved[17];
    uint16_t NumberLinkCollectionNodes;
    uint16_t NumberInputButtonCaps;
    uint16_t NumberInputValueCaps;
    uint16_t NumberInputDataIndices;
    uint16_t NumberOutputButtonCaps;
    uint16_t NumberOutputValueCaps;
    uint16_t NumberOutputDataIndices;
    uint16_t NumberFeatureButtonCaps;
    uint16_t NumberFeatureValueCaps;
    uint16_t NumberFeatureDataIndices;
} VrexusbCaps;

/* The exported function's type, for a pointer obtained with GetProcAddress (see vrexusbdrv.h).
 * Result: 1 when a device with both ids was found, 0 otherwise; only that one byte is defined. */
typedef uint8_t(VREXUSB_CALL* VrexusbFindDeviceProc)(int32_t vendorId, int32_t productId,
                                                     void* pathRecord, VrexusbCaps* capsRecord);

#ifdef __cplusplus
static_assert(sizeof(VrexusbPathRecord) == VREXUSB_PATH_RECORD_SIZE, "path record is 1024 bytes");
static_assert(sizeof(VrexusbCaps) == 64, "capabilities record is 64 bytes");
#endif

#endif /* VREXUSBDRV_VREXUSB_RECORDS_H */
