// ReportChannel: where the command protocol sends its output reports. TUsbLink is the real one
// (the HID write channel); tests record what is sent.
#pragma once

#include "usb/UsbReport.h"

namespace usb {

class ReportChannel {
  public:
    // Writes one output report; failures are handled inside and never reported. Any thread. May
    // block while another writer holds the channel (at most about 10 s), so callers must not
    // hold a lock that such a writer could be waiting for.
    virtual void SendReport(const UsbReport& report) = 0;
    // The module is open for writing. Any thread; the answer may be stale at once.
    virtual bool Connected() const = 0;

  protected:
    ~ReportChannel() = default;
};

}  // namespace usb
