// Registering the Wine fonts with Qt, and fonts sized in pixels.
#include "platform/Fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QString>
#include <cmath>

namespace corvald {

namespace {

constexpr const char* kWineFontFiles[] = {"/usr/share/wine/fonts/tahoma.ttf",
                                          "/usr/share/wine/fonts/tahomabd.ttf"};

}  // namespace

void RegisterFonts() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  for (const char* file : kWineFontFiles) {
    if (QFile::exists(file)) QFontDatabase::addApplicationFont(file);
  }
}

QFont PixelFont(std::string_view family, double points, bool bold) {
  QFont font(QString::fromUtf8(family.data(), static_cast<qsizetype>(family.size())));
  font.setPixelSize(static_cast<int>(std::lround(points * 96.0 / 72.0)));
  font.setBold(bold);
  font.setItalic(false);
  font.setUnderline(false);
  return font;
}

}  // namespace corvald
