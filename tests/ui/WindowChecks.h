#pragma once

#include <QColor>
#include <QEvent>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QWidget>
#include <map>

#include "ui/Art.h"

namespace corvald::test {

// Counts the events of each type that reach the objects it watches.
class EventCounter : public QObject {
 public:
  int Count(QEvent::Type type) const {
    const auto found = counts_.find(type);
    return found == counts_.end() ? 0 : found->second;
  }

 protected:
  bool eventFilter(QObject* target, QEvent* event) override {
    ++counts_[event->type()];
    return QObject::eventFilter(target, event);
  }

 private:
  std::map<QEvent::Type, int> counts_;
};

inline QImage BannerImage() { return BannerPicture().toImage().convertToFormat(QImage::Format_RGB32); }

// Close to the status text's colour (anti-aliased edges are not counted).
inline bool IsTextColour(QRgb pixel) {
  const QColor text(194, 173, 154);
  return std::abs(qRed(pixel) - text.red()) <= 24 && std::abs(qGreen(pixel) - text.green()) <= 24 &&
         std::abs(qBlue(pixel) - text.blue()) <= 24;
}

// The text-coloured pixels of an area of an image.
inline int TextPixels(const QImage& image, const QRect& area) {
  int count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    for (int x = area.left(); x <= area.right(); ++x) count += IsTextColour(image.pixel(x, y)) ? 1 : 0;
  }
  return count;
}

// The pixels of the status window's picture at `origin` that differ from the
// banner, leaving out `except` (in window coordinates).
inline int PixelsOffBanner(const QImage& image, QPoint origin, const QRect& except) {
  const QImage banner = BannerImage();
  int differing = 0;
  for (int y = 0; y < banner.height(); ++y) {
    for (int x = 0; x < banner.width(); ++x) {
      if (except.contains(x, y)) continue;
      if (image.pixel(origin.x() + x, origin.y() + y) != banner.pixel(x, y)) ++differing;
    }
  }
  return differing;
}

// A window's top-level geometry is centred on this screen area (to within the
// pixel that an odd difference leaves).
inline bool IsCentredIn(const QRect& window, const QRect& screen) {
  return std::abs((window.left() - screen.left()) - (screen.right() - window.right())) <= 1 &&
         std::abs((window.top() - screen.top()) - (screen.bottom() - window.bottom())) <= 1;
}

}  // namespace corvald::test
