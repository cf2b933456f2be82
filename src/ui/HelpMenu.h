// The Help menu: the About message and the documents that ship beside the program, opened with
// the desktop's registered viewer. Portable (reaches the desktop only through its port), so the
// fallback rules are tested natively.
//
// Promises: a document is asked for by its bare file name with the program directory as the
// working directory, so the process's current directory never matters; the plain-text fallback
// is tried exactly once, only after the first choice failed; a failure shows nothing.
#pragma once

#include <string>

#include "platform/Desktop.h"

namespace ui {

class HelpMenu {
  public:
    static constexpr const char* kProgramName = "Q417_Stepper";
    static constexpr const char* kProgramVersion = "1.0";
    static constexpr const char* kAboutCaption = "About";

    // programDirectory: where the program and its documents are (trailing separator or not).
    HelpMenu(platform::Desktop& desktop, std::string programDirectory);

    // Window's thread only, like the desktop calls they make.
    void About1Click();         // "About"
    void Readme1Click();        // "Readme": readme.html, else readme.txt
    void Help2Click();          // "Help (English)": help.html, else help.txt
    void HilfeDeutsch1Click();  // "Hilfe (Deutsch)": help_german.html, else help_german.txt

    // The About message: the program's name and version and what it does.
    static std::string AboutText();

  private:
    void OpenWithFallback(const char* firstChoice, const char* fallback);

    platform::Desktop& desktop_;
    std::string programDirectory_;
};

}  // namespace ui
