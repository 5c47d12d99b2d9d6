// Centring a top-level window on its screen, frame included.

#include "ui/windows/Centring.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace corvald {

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  // With the native window made, the frame's size is known where the window
  // system tells it in advance.
  window.winId();
  QRect frame(QPoint(0, 0), window.frameGeometry().size());
  frame.moveCenter(screen->availableGeometry().center());
  window.move(frame.topLeft());
}

}  // namespace corvald
