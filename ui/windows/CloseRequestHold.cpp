// Holding back close requests while a window is being opened, and posting them
// again afterwards.

#include "ui/windows/CloseRequestHold.h"

#include <QCloseEvent>
#include <QCoreApplication>

namespace corvald {

CloseRequestHold::CloseRequestHold() { QCoreApplication::instance()->installEventFilter(this); }

CloseRequestHold::~CloseRequestHold() {
  QCoreApplication::instance()->removeEventFilter(this);
  for (const QPointer<QWindow>& window : held_) {
    if (window) QCoreApplication::postEvent(window, new QCloseEvent);
  }
}

bool CloseRequestHold::eventFilter(QObject* target, QEvent* event) {
  // The window system's request, and a top-level widget's close() from code,
  // both reach the QWindow.
  if (event->type() != QEvent::Close || !target->isWindowType()) return false;
  held_.emplace_back(static_cast<QWindow*>(target));
  return true;
}

}  // namespace corvald
