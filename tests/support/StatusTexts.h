#pragma once

// What the status window is given to show.

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/UserInterface.h"

namespace corvald::test {

// Every text that the status window takes, once for each change, for as long
// as the object lives. `onChange`, if given, hears each new text as it comes.
class StatusTexts {
 public:
  explicit StatusTexts(std::function<void(const std::string& text)> onChange = {}) {
    SetStatusListener([this, onChange = std::move(onChange)](std::string_view text) {
      if (shown.empty() || shown.back() != text) {
        shown.emplace_back(text);
        if (onChange) onChange(shown.back());
      }
    });
  }
  ~StatusTexts() { SetStatusListener({}); }
  StatusTexts(const StatusTexts&) = delete;
  StatusTexts& operator=(const StatusTexts&) = delete;

  std::vector<std::string> shown;
};

}  // namespace corvald::test
