// The fonts that the windows ask for resolve to the same faces on every
// machine that has the program's font packages.
#include <gtest/gtest.h>

#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>

#include "platform/Fonts.h"

namespace corvald {
namespace {

TEST(FontsTest, PointSizesBecomePixelsAt96Dpi) {
  struct Case {
    double points;
    int pixels;
  };
  for (const Case c : {Case{12, 16}, Case{8.25, 11}, Case{9, 12}, Case{10, 13}, Case{0.5, 1}}) {
    const QFont font = PixelFont("Times New Roman", c.points, false);
    EXPECT_EQ(font.pixelSize(), c.pixels) << c.points;
  }
}

TEST(FontsTest, StyleIsBoldOrRegularNeverItalicOrUnderlined) {
  const QFont bold = PixelFont("Tahoma", 8.25, true);
  const QFont regular = PixelFont("Tahoma", 8.25, false);
  EXPECT_EQ(bold.family(), "Tahoma");
  EXPECT_TRUE(bold.bold());
  EXPECT_FALSE(regular.bold());
  EXPECT_FALSE(bold.italic() || bold.underline() || regular.italic() || regular.underline());
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
