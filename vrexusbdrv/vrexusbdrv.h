/* vrexusbdrv.dll: finds one USB HID device by vendor and product id and reports its device path
 * and HID capabilities. The library keeps no state between calls; it opens no handle that
 * outlives a call. The program loads it by name for one search and unloads it at once.
 *
 * Exported by name, undecorated: "vrexusb_FindDevice" (no "_name@16"), __stdcall.
 *
 *   uint8_t __stdcall vrexusb_FindDevice(int32_t vendorId, int32_t productId,
 *                                        void* pathRecord, VrexusbCaps* capsRecord);
 *
 * vendorId, productId: compared with the device's 16-bit ids widened without sign, so a value
 *   outside 0..65535 never matches.
 * pathRecord: null, or a path record (vrexusb_records.h). For the device found, the path is
 *   written from byte 4 and the rest of the record's N - 4 bytes are zeroed. A path that does
 *   not fit with its terminating zero is not cut: the N - 4 bytes are all zeroed (an empty path,
 *   which opens nothing) rather than a truncated one, which might name some other device. A
 *   record whose N is 4 or less gets nothing written.
 * capsRecord: null, or 64 bytes that receive the device's HIDP_CAPS (only when the platform
 *   could read them).
 * Result: 1 when a device with both ids was found (the first in the platform's enumeration
 *   order), 0 when none was; with 0 neither record is touched.
 *
 * A failing HID or SetupAPI call during the search is shown in a modal message box captioned
 * "DisplayLastError" (no owner window), which blocks the calling thread until it is closed; the
 * search then goes on. May be called from any thread.
 */
#ifndef VREXUSBDRV_VREXUSBDRV_H
#define VREXUSBDRV_VREXUSBDRV_H

#include "vrexusb_records.h"

#ifdef __cplusplus
extern "C" {
#endif

uint8_t VREXUSB_CALL vrexusb_FindDevice(int32_t vendorId, int32_t productId, void* pathRecord,
                                        VrexusbCaps* capsRecord);

#ifdef __cplusplus
}
#endif

#endif /* VREXUSBDRV_VREXUSBDRV_H */
