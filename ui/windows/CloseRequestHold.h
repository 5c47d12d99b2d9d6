#pragma once

// Holding back close requests while code that must not be interrupted runs.

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <vector>

namespace corvald {

// While it lives, close requests (the window system's, and closes from code)
// are kept from every window of the program; they are posted again when it
// ends, so they run once control is back in the event loop.
class CloseRequestHold : public QObject {
 public:
  CloseRequestHold();
  ~CloseRequestHold() override;
  CloseRequestHold(const CloseRequestHold&) = delete;
  CloseRequestHold& operator=(const CloseRequestHold&) = delete;

 protected:
  bool eventFilter(QObject* target, QEvent* event) override;

 private:
  std::vector<QPointer<QWindow>> held_;
};

}  // namespace corvald
