// The status window on the offscreen platform: its look and its life cycle.
// What SetStatus lets run while it opens the window is the real-X test's.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <string>

#include "platform/Fonts.h"
#include "tests/ui/WindowChecks.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald {
namespace {

const QRect kLabelArea(8, 8, 281, 25);

QLabel* StatusLabel() {
  return frmLoading() == nullptr ? nullptr : frmLoading()->findChild<QLabel*>(QStringLiteral("lblStatus"));
}

QImage Picture(QWidget& window) { return window.grab().toImage().convertToFormat(QImage::Format_RGB32); }

QRect ScreenArea() { return QGuiApplication::primaryScreen()->availableGeometry(); }

// The leftmost and rightmost columns of the label area that hold text.
std::pair<int, int> TextColumns(const QImage& picture) {
  int first = picture.width();
  int last = -1;
  for (int x = kLabelArea.left(); x <= kLabelArea.right(); ++x) {
    if (test::TextPixels(picture, QRect(x, kLabelArea.top(), 1, kLabelArea.height())) == 0) continue;
    first = std::min(first, x);
    last = std::max(last, x);
  }
  return {first, last};
}

class StatusWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { RegisterFonts(); }
  void TearDown() override {
    UnloadMain();
    UnloadLoading();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
};

TEST_F(StatusWindowTest, TextIsReadInTheAnsiCodePageAndDrawnCentredOverTheBanner) {
  enum class Layout { kCentred, kFillsTheLabel, kBlank, kAny };
  const struct {
    const char* what;
    std::string bytes;
    QString shown;
    Layout layout;
  } cases[] = {
      {"plain", "Loading Maps..", "Loading Maps..", Layout::kCentred},
      {"code page", "Dumping Map #7 - Caf\xE9 \x80\x99 ...",
       QString::fromUtf8("Dumping Map #7 - Caf\u00E9 \u20AC\u2122 ..."), Layout::kCentred},
      {"too long, keeping its start", "Dumping Map #3000 - " + std::string(30, 'W') + " ...",
       QString::fromStdString("Dumping Map #3000 - " + std::string(30, 'W') + " ..."),
       Layout::kFillsTheLabel},
      // The label is transparent: with no text the whole window is the banner.
      {"empty", "", "", Layout::kBlank},
      {"not cut at a zero byte", std::string("ab\0cd", 5), QString::fromUtf8("ab\0cd", 5), Layout::kAny},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetStatus(c.bytes);

    QWidget* window = frmLoading();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Loading Server");
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(window->size(), QSize(300, 39));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_TRUE(test::IsCentredIn(window->frameGeometry(), ScreenArea()));
    EXPECT_EQ(StatusLabel()->text(), c.shown);

    const QImage picture = Picture(*window);
    EXPECT_EQ(test::PixelsOffBanner(picture, {0, 0}, c.layout == Layout::kBlank ? QRect() : kLabelArea), 0);
    const auto [first, last] = TextColumns(picture);
    if (c.layout == Layout::kCentred) {
      EXPECT_GT(test::TextPixels(picture, kLabelArea), 40);
      const int labelMiddle = kLabelArea.left() + kLabelArea.width() / 2;
      EXPECT_LE(std::abs((first + last) / 2 - labelMiddle), 3) << first << ".." << last;
    }
    if (c.layout == Layout::kFillsTheLabel) {
      EXPECT_LE(first, kLabelArea.left() + 2);
      EXPECT_GE(last, kLabelArea.right() - 8);
    }
    UnloadLoading();
  }
}

// A later call changes only the text; a hidden window shows again, centred;
// unloading destroys it, as often as it is called, and the next call makes a
// fresh one.
TEST_F(StatusWindowTest, OneWindowLivesFromTheFirstCallUntilItIsUnloaded) {
  EXPECT_EQ(frmLoading(), nullptr);
  UnloadLoading();
  EXPECT_EQ(frmLoading(), nullptr);

  SetStatus("Opening Server Database..");
  QPointer<QWidget> first = frmLoading();
  ASSERT_NE(first, nullptr);
  first->move(10, 20);
  SetStatus("Loading Maps..");
  EXPECT_EQ(frmLoading(), first);
  EXPECT_EQ(first->pos(), QPoint(10, 20));
  EXPECT_EQ(StatusLabel()->text(), "Loading Maps..");

  first->hide();
  SetStatus("second");
  EXPECT_EQ(frmLoading(), first);
  EXPECT_TRUE(first->isVisible());
  EXPECT_TRUE(test::IsCentredIn(first->frameGeometry(), ScreenArea()));
  EXPECT_EQ(StatusLabel()->text(), "second");

  first->move(5, 5);
  UnloadLoading();
  UnloadLoading();
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_TRUE(first.isNull());

  SetStatus("Converting Map #2");
  ASSERT_NE(frmLoading(), nullptr);
  EXPECT_TRUE(frmLoading()->isVisible());
  EXPECT_TRUE(test::IsCentredIn(frmLoading()->frameGeometry(), ScreenArea()));
  EXPECT_EQ(StatusLabel()->text(), "Converting Map #2");
}

}  // namespace
}  // namespace corvald
