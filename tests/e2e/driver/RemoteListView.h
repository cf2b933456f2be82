// RemoteListView: reads a list view of another process. A list view answers LVM_GETITEMTEXTA
// into a buffer of the caller's address space only within its own process, so the request and
// its text buffer are placed into the program's memory (VirtualAllocEx) and read back from there.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace e2e {

class RemoteListView {
  public:
    // process: a handle with VM operation, read and write access (the one CreateProcess gave).
    RemoteListView(HANDLE process, HWND list);
    ~RemoteListView();
    RemoteListView(const RemoteListView&) = delete;
    RemoteListView& operator=(const RemoteListView&) = delete;

    int Count() const;
    // The row selected, or -1.
    int Selected() const;
    std::string ItemText(int row, int column) const;
    // The texts of a row's columns 0 .. columns-1.
    std::vector<std::string> Row(int row, int columns) const;
    // Every row.
    std::vector<std::vector<std::string>> Rows(int columns) const;

  private:
    static constexpr size_t kTextRoom = 512;
    HANDLE process_;
    HWND list_;
    char* remote_ = nullptr;  // an LVITEMA followed by the text buffer, in the program
};

}  // namespace e2e
