#include "platform/virtual/VirtualDesktop.h"

namespace platform {

void VirtualDesktop::Beep() {
    std::lock_guard lock(mutex_);
    ++beeps_;
}

void VirtualDesktop::SetOwnerWindow(void* window) {
    std::lock_guard lock(mutex_);
    owner_ = window;
}

void VirtualDesktop::ShowMessage(const std::string& text, const std::string& caption) {
    std::function<void()> action;
    {
        std::lock_guard lock(mutex_);
        messages_.push_back({text, caption, owner_});
        action = whileShown_;
    }
    if (action) action();
}

bool VirtualDesktop::OpenDocument(const std::string& file, const std::string& directory) {
    std::lock_guard lock(mutex_);
    documents_.push_back({file, directory});
    return openable_.count(file) != 0;
}

void VirtualDesktop::WhileShown(std::function<void()> action) {
    std::lock_guard lock(mutex_);
    whileShown_ = std::move(action);
}

void VirtualDesktop::MakeOpenable(const std::string& file) {
    std::lock_guard lock(mutex_);
    openable_.insert(file);
}

int VirtualDesktop::Beeps() const {
    std::lock_guard lock(mutex_);
    return beeps_;
}

std::vector<VirtualDesktop::Message> VirtualDesktop::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<VirtualDesktop::Document> VirtualDesktop::Documents() const {
    std::lock_guard lock(mutex_);
    return documents_;
}

}  // namespace platform
