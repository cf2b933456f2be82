// A place that shows a line of text, such as the motor panel's position button. The motor
// writes its position into it from whichever thread takes the step (often a timer thread), so
// a window's implementation posts the text to its own thread rather than touching a control.
#pragma once

#include <string_view>

namespace motion {

class TextDisplay {
  public:
    virtual void SetText(std::string_view text) = 0;

  protected:
    ~TextDisplay() = default;
};

}  // namespace motion
