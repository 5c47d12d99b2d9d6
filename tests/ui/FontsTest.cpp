// The fonts that the windows ask for resolve to the same faces on every
// machine that has the program's font packages.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>

#include "platform/Fonts.h"

namespace corvald {
namespace {

// Point sizes become pixels at 96 dpi; the style is bold or regular, never
// italic or underlined.
TEST(FontsTest, PointSizesBecomePixelsAt96DpiInBoldOrRegular) {
  for (const auto& [points, pixels] : {std::pair{12.0, 16}, {8.25, 11}, {9.0, 12}, {10.0, 13}, {0.5, 1}}) {
    for (const bool bold : {false, true}) {
      const QFont font = PixelFont("Tahoma", points, bold);
      EXPECT_EQ(font.family(), "Tahoma");
      EXPECT_EQ(font.pixelSize(), pixels) << points;
      EXPECT_EQ(font.bold(), bold);
      EXPECT_FALSE(font.italic() || font.underline());
    }
  }
}

TEST(FontsTest, TimesNewRomanResolvesToAMetricCompatibleFace) {
  const QString family = QFontInfo(PixelFont("Times New Roman", 12, true)).family();
  EXPECT_TRUE(family == "Times New Roman" || family == "Liberation Serif") << family.toStdString();
}

TEST(FontsTest, TahomaIsRegisteredFromWinesFonts) {
  if (!QFile::exists("/usr/share/wine/fonts/tahoma.ttf")) GTEST_SKIP() << "fonts-wine is not installed";
  RegisterFonts();
  RegisterFonts();
  EXPECT_EQ(QFontInfo(PixelFont("Tahoma", 8.25, false)).family(), "Tahoma");
  const QFontInfo bold(PixelFont("Tahoma", 8.25, true));
  EXPECT_EQ(bold.family(), "Tahoma");
  EXPECT_TRUE(bold.bold());
  EXPECT_EQ(QFontDatabase::families().count("Tahoma"), 1);
}

}  // namespace
}  // namespace corvald
