// UsbProtocolWindow: what the command protocol changes in the main window. The protocol calls
// it on the USB receive thread; the window's implementation posts each call to its own thread
// (a control is never touched from another thread) and returns at once.
#pragma once

#include <cstdint>

namespace usb {

class UsbProtocolWindow {
  public:
    // A module reset is over: the Reset button shows "Reset" again. button 1 to 4: that motor's
    // panel button (bStop1, Button45, Button46, Button47); 0: the common one (Button39).
    virtual void ShowResetCaption(int32_t button) = 0;
    // Every motor's module reset is over: the reset-idle flag becomes true.
    virtual void SetResetIdle() = 0;
    // "Run in order" enabled (all four motors finished) or disabled, as the receive thread saw
    // the motors; the window checks them again when it acts on this.
    virtual void EnableRunInOrder(bool enabled) = 0;

  protected:
    ~UsbProtocolWindow() = default;
};

}  // namespace usb
