#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace corvald::test {

// Answers every message box at once and remembers what it said, for as long as
// the recorder lives. `whileShowing`, if given, runs while each box would be on
// the screen, so that a test can look at what stands behind it.
class MessageBoxRecorder {
 public:
  struct Box {
    std::string text;
    MsgIcon icon;
  };

  explicit MessageBoxRecorder(std::function<void(const std::string& text)> whileShowing = {});
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  const std::vector<Box>& Boxes() const { return boxes_; }
  std::vector<std::string> Texts() const;

 private:
  std::vector<Box> boxes_;
};

}  // namespace corvald::test
