#include "platform/posix/PosixDesktop.h"

#include <cstdio>

namespace platform {

// One fprintf per line: stdio locks the stream for the call, so lines from different threads
// never interleave.

void PosixDesktop::Beep() {
    std::fprintf(stderr, "[beep]\n");
}

void PosixDesktop::ShowMessage(const std::string& text, const std::string& caption) {
    std::fprintf(stderr, "[message] %s: %s\n", caption.c_str(), text.c_str());
}

bool PosixDesktop::OpenDocument(const std::string& file, const std::string& directory) {
    std::fprintf(stderr, "[open] %s (in %s): no viewer in this build\n", file.c_str(),
                 directory.c_str());
    return false;
}

Desktop& SystemDesktop() {
    static PosixDesktop desktop;
    return desktop;
}

}  // namespace platform
