#pragma once

#include <string>
#include <vector>

#include "platform/MessageBox.h"

namespace corvald::test {

// Answers every message box at once and remembers what it said, for as long as
// the recorder lives.
class MessageBoxRecorder {
 public:
  struct Box {
    std::string text;
    MsgIcon icon;
  };

  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  const std::vector<Box>& Boxes() const { return boxes_; }
  std::vector<std::string> Texts() const;

 private:
  std::vector<Box> boxes_;
};

}  // namespace corvald::test
