// Writes a picture drawn by the program to a file: PNG through the system's image codecs (the
// Windows Imaging Component, which every Windows since Vista has and Wine provides), and BMP only
// where no PNG encoder can be had.
//
// Threads: the window's thread (it may initialise COM there).
#pragma once

#include <windows.h>

#include <string>

namespace ui {

// A 24-bit top-down picture in memory: rows of width BGR pixels, each padded to 4 bytes.
struct ImagePixels {
    const void* bits = nullptr;
    int width = 0;
    int height = 0;
    UINT Stride() const { return (static_cast<UINT>(width) * 3 + 3) & ~3u; }
};

// Writes image to path as PNG. Where the PNG codec is missing it writes a BMP instead, under path
// with its extension replaced by ".bmp". Returns the path written, or "" when nothing could be
// written (no such folder, a read-only file, a full disk).
std::string WriteImageFile(const std::string& path, const ImagePixels& image);

}  // namespace ui
