// Desktop adapter for tests: records every beep, message box and document request.
//
// A message box returns at once, as if the operator had clicked OK; a test can give it work to
// do while it is "up" (WhileShown), which is where a real box would keep handling window
// messages and timer threads would keep stepping. A document opens when its file name was made
// openable. Safe to call from any thread.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/Desktop.h"

namespace platform {

class VirtualDesktop final : public Desktop {
  public:
    struct Message {
        std::string text;
        std::string caption;
        void* owner = nullptr;  // the owner window set when it was shown
    };
    struct Document {
        std::string file;
        std::string directory;
    };

    void Beep() override;
    void SetOwnerWindow(void* window) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    bool OpenDocument(const std::string& file, const std::string& directory) override;

    // Runs inside every ShowMessage, without the desktop's lock held.
    void WhileShown(std::function<void()> action);
    // OpenDocument succeeds for this file name from now on.
    void MakeOpenable(const std::string& file);

    // Inspection.
    int Beeps() const;
    std::vector<Message> Messages() const;
    std::vector<Document> Documents() const;  // every request, successful or not

  private:
    mutable std::mutex mutex_;
    int beeps_ = 0;
    std::vector<Message> messages_;
    std::vector<Document> documents_;
    std::set<std::string> openable_;
    std::function<void()> whileShown_;
    void* owner_ = nullptr;
};

}  // namespace platform
