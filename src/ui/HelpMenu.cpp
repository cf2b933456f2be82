#include "ui/HelpMenu.h"

#include <utility>

namespace ui {

HelpMenu::HelpMenu(platform::Desktop& desktop, std::string programDirectory)
    : desktop_(desktop), programDirectory_(std::move(programDirectory)) {}

std::string HelpMenu::AboutText() {
    return std::string(kProgramName) + " " + kProgramVersion +
           "\n\nEdits and runs programs for up to four stepper motors, driven through a PC "
           "parallel port or the USB motor controller module.\n\nPositions, motor symbols and "
           "program rows follow the runs the module times in \"USB\" mode: after a run that "
           "ends by itself the position is the module's count; after one cut short, the plan's "
           "count corrected to the motor's phase, exact up to about 1000 steps/s and an estimate "
           "above.\n\nEmergency stop: Esc in the main window stops every motor at once and "
           "cancels a reset in progress.";
}

void HelpMenu::About1Click() {
    desktop_.ShowMessage(AboutText(), kAboutCaption);
}

void HelpMenu::Readme1Click() {
    OpenWithFallback("readme.html", "readme.txt");
}

void HelpMenu::Help2Click() {
    OpenWithFallback("help.html", "help.txt");
}

void HelpMenu::HilfeDeutsch1Click() {
    OpenWithFallback("help_german.html", "help_german.txt");
}

void HelpMenu::OpenWithFallback(const char* firstChoice, const char* fallback) {
    // The HTML document is preferred; without it (or without a viewer for it) the plain text.
    // Whether the fallback opened is not reported: there is nothing more to try.
    if (!desktop_.OpenDocument(firstChoice, programDirectory_))
        desktop_.OpenDocument(fallback, programDirectory_);
}

}  // namespace ui
