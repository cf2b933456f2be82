// The Help menu's documents and their plain-text fallbacks, on the recording desktop.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/virtual/VirtualDesktop.h"
#include "ui/HelpMenu.h"

namespace ui {
namespace {

constexpr const char* kProgramDirectory = "C:\\Programs\\Stepper\\";

std::vector<std::string> FilesAsked(const platform::VirtualDesktop& desktop) {
    std::vector<std::string> files;
    for (const auto& document : desktop.Documents()) {
        EXPECT_EQ(document.directory, kProgramDirectory) << document.file;
        files.push_back(document.file);
    }
    return files;
}

struct MenuCase {
    void (HelpMenu::*click)();
    const char* html;
    const char* text;
};
const MenuCase kMenuItems[] = {
    {&HelpMenu::Readme1Click, "readme.html", "readme.txt"},
    {&HelpMenu::Help2Click, "help.html", "help.txt"},
    {&HelpMenu::HilfeDeutsch1Click, "help_german.html", "help_german.txt"},
};

TEST(HelpMenuTest, HtmlPresentNeverTouchesTheText) {
    for (const MenuCase& item : kMenuItems) {
        platform::VirtualDesktop desktop;
        desktop.MakeOpenable(item.html);
        desktop.MakeOpenable(item.text);
        HelpMenu menu(desktop, kProgramDirectory);
        (menu.*item.click)();
        EXPECT_THAT(FilesAsked(desktop), ::testing::ElementsAre(item.html));
    }
}

TEST(HelpMenuTest, OnlyTheTextPresentOpensIt) {
    for (const MenuCase& item : kMenuItems) {
        platform::VirtualDesktop desktop;
        desktop.MakeOpenable(item.text);
        HelpMenu menu(desktop, kProgramDirectory);
        (menu.*item.click)();
        EXPECT_THAT(FilesAsked(desktop), ::testing::ElementsAre(item.html, item.text));
    }
}

TEST(HelpMenuTest, NeitherPresentTriesEachOnceAndShowsNothing) {
    for (const MenuCase& item : kMenuItems) {
        platform::VirtualDesktop desktop;
        HelpMenu menu(desktop, kProgramDirectory);
        (menu.*item.click)();
        EXPECT_THAT(FilesAsked(desktop), ::testing::ElementsAre(item.html, item.text));
        EXPECT_TRUE(desktop.Messages().empty());
        EXPECT_EQ(desktop.Beeps(), 0);
    }
}

TEST(HelpMenuTest, AboutShowsNameVersionAndPurposeCaptionedAbout) {
    platform::VirtualDesktop desktop;
    HelpMenu menu(desktop, kProgramDirectory);
    menu.About1Click();
    const auto messages = desktop.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].caption, "About");
    EXPECT_THAT(messages[0].text, ::testing::HasSubstr("Q417_Stepper 1.0"));
    EXPECT_THAT(messages[0].text, ::testing::HasSubstr("stepper motors"));
    EXPECT_THAT(messages[0].text, ::testing::HasSubstr("Emergency stop: Esc"));
    EXPECT_THAT(messages[0].text, ::testing::HasSubstr("follow the runs the module times"));
    EXPECT_TRUE(desktop.Documents().empty());
}

}  // namespace
}  // namespace ui
