#include "project/ProgramListModel.h"

#include <utility>

#include "project/NumberText.h"

namespace project {

const char* ProgramListModel::DirectionText(uint8_t direction) {
    switch (direction) {
        case motion::kDirLeft:
            return "Left";
        case motion::kDirRight:
            return "Right";
        default:
            return "None";
    }
}

void ProgramListModel::AppendValues(const motion::TsmProgramStep& step) {
    rows_.push_back(Row{step, nullptr});
}

void ProgramListModel::Append(Texts texts) {
    rows_.push_back(Row{{}, std::make_unique<Texts>(std::move(texts))});
}

void ProgramListModel::Insert(int32_t index, Texts texts) {
    if (index < 0 || index >= Count()) {
        Append(std::move(texts));
        return;
    }
    rows_.insert(rows_.begin() + index, Row{{}, std::make_unique<Texts>(std::move(texts))});
}

void ProgramListModel::Change(int32_t index, Texts texts) {
    if (index < 0 || index >= Count()) return;
    rows_[static_cast<size_t>(index)].typed = std::make_unique<Texts>(std::move(texts));
}

void ProgramListModel::Delete(int32_t index) {
    if (index < 0 || index >= Count()) return;
    rows_.erase(rows_.begin() + index);
}

void ProgramListModel::Clear() {
    // Releases the storage, as emptying the program does.
    std::vector<Row>().swap(rows_);
}

ProgramListModel::Texts ProgramListModel::RowTexts(int32_t index) const {
    if (index < 0 || index >= Count()) return {};
    const Row& row = rows_[static_cast<size_t>(index)];
    if (row.typed) return *row.typed;
    return {std::to_string(row.values.Steps), FormatFixed2(row.values.Frequency),
            DirectionText(row.values.Direction), FormatFixed2(row.values.RampTime)};
}

std::string ProgramListModel::Text(int32_t row, int column) const {
    if (row < 0 || row >= Count()) return {};
    if (column == kNumber) return std::to_string(row + 1);
    const Row& r = rows_[static_cast<size_t>(row)];
    switch (column) {
        case kSteps:
            return r.typed ? r.typed->Steps : std::to_string(r.values.Steps);
        case kFrequency:
            return r.typed ? r.typed->Frequency : FormatFixed2(r.values.Frequency);
        case kDirection:
            return r.typed ? r.typed->Direction : DirectionText(r.values.Direction);
        case kStartStop:
            return r.typed ? r.typed->StartStop : FormatFixed2(r.values.RampTime);
        default:
            return {};
    }
}

}  // namespace project
