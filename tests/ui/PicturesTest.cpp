// The icon and the banner that the program carries as resources.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>
#include <array>
#include <set>
#include <utility>

#include "tests/ui/WindowChecks.h"
#include "ui/Art.h"

namespace corvald {
namespace {

QByteArray Resource(const char* path) {
  ApplicationIcon();  // makes sure the pictures are registered
  QFile file(QString::fromUtf8(path));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint16 Word(const QByteArray& bytes, qsizetype at) {
  return qFromLittleEndian<quint16>(bytes.constData() + at);
}

// Each size twice, with a palette and in true colour: transparent corners, an
// opaque middle.
TEST(PicturesTest, IconHoldsEachSizeInPaletteAndTrueColour) {
  const QByteArray icon = Resource(":/corvald/icon.ico");
  QBuffer buffer;
  buffer.setData(icon);
  QImageReader reader(&buffer, "ico");
  ASSERT_EQ(reader.imageCount(), 6);
  std::set<std::pair<int, int>> images;  // size, bits per pixel as the directory gives them
  for (int i = 0; i < 6; ++i) {
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
    EXPECT_EQ(image.width(), image.height());
    images.insert({static_cast<quint8>(icon[6 + 16 * i]), Word(icon, 6 + 16 * i + 6)});
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_EQ(qAlpha(image.pixel(image.width() / 2, image.height() / 2)), 255);
  }
  EXPECT_EQ(images, (std::set<std::pair<int, int>>{{16, 8}, {16, 32}, {32, 8}, {32, 32}, {48, 8}, {48, 32}}));
}

// An uncompressed 24-bit bitmap of the status window's size.
TEST(PicturesTest, BannerIsAnUncompressedTrueColourBitmapOfTheWindowsSize) {
  const QByteArray banner = Resource(":/corvald/banner.bmp");
  EXPECT_EQ(banner.left(2), "BM");
  EXPECT_EQ(banner.size(), 54 + 300 * 3 * 39);
  EXPECT_EQ(BannerPicture().size(), QSize(300, 39));
}

// A dark blue-grey panel with a bevelled frame: lit along the top and left,
// shaded along the bottom and right.
TEST(PicturesTest, BannerIsADarkBlueGreyPanelWithABevel) {
  const QImage banner = test::BannerImage();
  auto mean = [&](const QRect& area) {
    double r = 0, g = 0, b = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
      for (int x = area.left(); x <= area.right(); ++x) {
        r += qRed(banner.pixel(x, y));
        g += qGreen(banner.pixel(x, y));
        b += qBlue(banner.pixel(x, y));
      }
    }
    const double n = area.width() * area.height();
    return std::array<double, 3>{r / n, g / n, b / n};
  };
  auto brightness = [](const std::array<double, 3>& c) { return (c[0] + c[1] + c[2]) / 3; };

  const auto panel = mean(QRect(4, 4, 292, 31));
  EXPECT_LT(brightness(panel), 90);
  EXPECT_GT(panel[2], panel[0] + 8);  // bluish
  EXPECT_GT(panel[2], panel[1]);

  EXPECT_GT(brightness(mean(QRect(1, 0, 298, 1))), brightness(panel) + 30);   // top edge
  EXPECT_GT(brightness(mean(QRect(0, 1, 1, 37))), brightness(panel) + 30);    // left edge
  EXPECT_LT(brightness(mean(QRect(1, 38, 298, 1))), brightness(panel) - 20);  // bottom edge
  EXPECT_LT(brightness(mean(QRect(299, 1, 1, 37))), brightness(panel) - 20);  // right edge

  // Textured, not flat.
  std::set<QRgb> colours;
  for (int x = 4; x < 296; ++x) colours.insert(banner.pixel(x, 20));
  EXPECT_GT(colours.size(), 5u);
}

// The committed pictures are exactly what the script draws.
TEST(PicturesTest, ScriptReproducesTheCommittedPictures) {
  const QString source = QStringLiteral(CORVALD_SOURCE_DIR);
  QTemporaryDir out;
  ASSERT_TRUE(out.isValid());
  QProcess script;
  script.start(QStringLiteral("python3"), {source + QStringLiteral("/tools/make_art.py"), out.path()});
  ASSERT_TRUE(script.waitForFinished(60000));
  ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();

  for (const QString& name : {QStringLiteral("icon.ico"), QStringLiteral("banner.bmp")}) {
    QFile drawn(out.path() + QLatin1Char('/') + name);
    QFile committed(source + QStringLiteral("/resources/") + name);
    ASSERT_TRUE(drawn.open(QIODevice::ReadOnly));
    ASSERT_TRUE(committed.open(QIODevice::ReadOnly));
    EXPECT_TRUE(drawn.readAll() == committed.readAll()) << name.toStdString() << " differs";
    EXPECT_TRUE(committed.readAll().isEmpty());
  }
}

}  // namespace
}  // namespace corvald
