#include "e2e/driver/RemoteListView.h"

#include <commctrl.h>

#include "e2e/driver/RemoteControls.h"

namespace e2e {

RemoteListView::RemoteListView(HANDLE process, HWND list) : process_(process), list_(list) {
    remote_ = static_cast<char*>(VirtualAllocEx(process_, nullptr, sizeof(LVITEMA) + kTextRoom,
                                                MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

RemoteListView::~RemoteListView() {
    if (remote_ != nullptr) VirtualFreeEx(process_, remote_, 0, MEM_RELEASE);
}

int RemoteListView::Count() const {
    DWORD_PTR count = 0;
    if (!SendMessageTimeoutA(list_, LVM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &count))
        return -1;
    return static_cast<int>(count);
}

int RemoteListView::Selected() const {
    DWORD_PTR row = 0;
    if (!SendMessageTimeoutA(list_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED,
                             SMTO_ABORTIFHUNG, kSendTimeoutMs, &row))
        return -1;
    return static_cast<int>(static_cast<LRESULT>(row));
}

std::string RemoteListView::ItemText(int row, int column) const {
    if (remote_ == nullptr) return {};
    char* remoteText = remote_ + sizeof(LVITEMA);
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.iSubItem = column;
    item.pszText = remoteText;
    item.cchTextMax = static_cast<int>(kTextRoom);
    const char empty[1] = {'\0'};
    if (!WriteProcessMemory(process_, remote_, &item, sizeof item, nullptr) ||
        !WriteProcessMemory(process_, remoteText, empty, 1, nullptr))
        return {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(list_, LVM_GETITEMTEXTA, static_cast<WPARAM>(row),
                             reinterpret_cast<LPARAM>(remote_), SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &length))
        return {};
    // The list may answer with a pointer of its own instead of filling the buffer.
    LVITEMA answered{};
    if (!ReadProcessMemory(process_, remote_, &answered, sizeof answered, nullptr)) return {};
    char text[kTextRoom] = {};
    if (!ReadProcessMemory(process_, answered.pszText, text, kTextRoom - 1, nullptr)) return {};
    return text;
}

std::vector<std::string> RemoteListView::Row(int row, int columns) const {
    std::vector<std::string> texts;
    for (int column = 0; column < columns; ++column)
        texts.push_back(ItemText(row, column));
    return texts;
}

std::vector<std::vector<std::string>> RemoteListView::Rows(int columns) const {
    std::vector<std::vector<std::string>> rows;
    const int count = Count();
    for (int row = 0; row < count; ++row)
        rows.push_back(Row(row, columns));
    return rows;
}

}  // namespace e2e
