#include "project/ProgramListModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace project {
namespace {

using Model = ProgramListModel;

std::vector<std::string> Row(const Model& list, int32_t row) {
    std::vector<std::string> texts;
    for (int c = 0; c < Model::kColumnCount; ++c)
        texts.push_back(list.Text(row, c));
    return texts;
}

Model::Texts Typed(const char* steps) {
    return {steps, "1.2.3", "Pause", "5-"};
}

TEST(ProgramListModel, ColumnCaptionsAndWidths) {
    const char* captions[] = {"#", "Steps", "Freq. [Hz]", "Direction", "Start/Stop"};
    const int widths[] = {36, 52, 64, 64, 64};
    for (int c = 0; c < Model::kColumnCount; ++c) {
        EXPECT_STREQ(Model::kColumns[c].Caption, captions[c]);
        EXPECT_EQ(Model::kColumns[c].Width, widths[c]);
    }
}

TEST(ProgramListModel, RowsFromValuesShowTheFileFormatting) {
    Model list;
    list.AppendValues({400, 250.0, 0.5, motion::kDirRight});
    list.AppendValues({-3, 0.004, 12.345, motion::kDirLeft});
    list.AppendValues({0, 1.0, 0.0, motion::kDirNone});
    EXPECT_EQ(Row(list, 0), (std::vector<std::string>{"1", "400", "250.00", "Right", "0.50"}));
    EXPECT_EQ(Row(list, 1), (std::vector<std::string>{"2", "-3", "0.00", "Left", "12.35"}));
    EXPECT_EQ(Row(list, 2), (std::vector<std::string>{"3", "0", "1.00", "None", "0.00"}));
    EXPECT_EQ(list.RowTexts(1).Frequency, "0.00");
}

TEST(ProgramListModel, TypedRowsKeepTheirTextsAndNumbersFollowPositions) {
    Model list;
    list.Append(Typed("a"));
    list.AppendValues({7, 7.0, 0.0, motion::kDirRight});
    list.Append(Typed("c"));
    list.Insert(1, Typed("new"));  // before the second row
    ASSERT_EQ(list.Count(), 4);
    EXPECT_EQ(Row(list, 1), (std::vector<std::string>{"2", "new", "1.2.3", "Pause", "5-"}));
    EXPECT_EQ(Row(list, 2), (std::vector<std::string>{"3", "7", "7.00", "Right", "0.00"}));
    EXPECT_EQ(list.Text(3, Model::kSteps), "c");

    list.Change(2, Typed("changed"));
    EXPECT_EQ(Row(list, 2), (std::vector<std::string>{"3", "changed", "1.2.3", "Pause", "5-"}));

    list.Delete(0);
    EXPECT_EQ(list.Text(0, Model::kNumber), "1");
    EXPECT_EQ(list.Text(0, Model::kSteps), "new");
    EXPECT_EQ(list.Text(2, Model::kNumber), "3");

    // Outside the list: Insert appends, Change and Delete do nothing, Text is empty.
    list.Insert(-1, Typed("end1"));
    list.Insert(99, Typed("end2"));
    list.Change(99, Typed("x"));
    list.Delete(-1);
    list.Delete(5);
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list.Text(3, Model::kSteps), "end1");
    EXPECT_EQ(list.Text(4, Model::kSteps), "end2");
    EXPECT_EQ(list.Text(5, Model::kNumber), "");
    EXPECT_EQ(list.Text(0, Model::kColumnCount), "");

    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}

}  // namespace
}  // namespace project
