#pragma once

// What the status window shows, as the user sees it drawn.

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QObject>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/AnsiCodePage.h"

namespace corvald::test {

// Every text that the status label is drawn with, once for each change, for as
// long as the object lives; the empty label of a window just opened is left out.
// `onChange`, if given, hears each new text as it is first drawn.
class StatusTexts : public QObject {
 public:
  explicit StatusTexts(std::function<void(const std::string& text)> onChange = {})
      : onChange_(std::move(onChange)) {
    QCoreApplication::instance()->installEventFilter(this);
  }
  ~StatusTexts() override { QCoreApplication::instance()->removeEventFilter(this); }

  std::vector<std::string> shown;

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    if (event->type() == QEvent::Paint && target->objectName() == "lblStatus") {
      const std::string text = ToAnsi(static_cast<QLabel*>(target)->text());
      if (!text.empty() && (shown.empty() || shown.back() != text)) {
        shown.push_back(text);
        if (onChange_) onChange_(text);
      }
    }
    return false;
  }

 private:
  std::function<void(const std::string&)> onChange_;
};

}  // namespace corvald::test
