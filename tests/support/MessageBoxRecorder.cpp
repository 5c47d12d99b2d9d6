#include "tests/support/MessageBoxRecorder.h"

namespace corvald::test {

MessageBoxRecorder::MessageBoxRecorder(std::function<void(const std::string& text)> whileShowing) {
  SetMessageBoxHandler([this, whileShowing](const std::string& text, MsgIcon icon) {
    boxes_.push_back({text, icon});
    if (whileShowing) whileShowing(text);
  });
}

MessageBoxRecorder::~MessageBoxRecorder() { SetMessageBoxHandler({}); }

std::vector<std::string> MessageBoxRecorder::Texts() const {
  std::vector<std::string> texts;
  for (const Box& box : boxes_) texts.push_back(box.text);
  return texts;
}

}  // namespace corvald::test
