// Desktop adapter for native runs, which have no desktop: every request is written to stderr as
// one line, and no document is ever opened.
#pragma once

#include "platform/Desktop.h"

namespace platform {

class PosixDesktop final : public Desktop {
  public:
    void Beep() override;
    void SetOwnerWindow(void*) override {}
    void ShowMessage(const std::string& text, const std::string& caption) override;
    // Writes the request and reports failure: nothing was opened.
    bool OpenDocument(const std::string& file, const std::string& directory) override;
};

}  // namespace platform
