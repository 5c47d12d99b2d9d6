// The status window on the offscreen platform: its look, its life cycle and
// what SetStatus lets run while it opens the window.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QWindow>
#include <string>

#include "platform/Fonts.h"
#include "store/modDatabase.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/TempProgramFolder.h"
#include "tests/ui/WindowChecks.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald {
namespace {

using test::EventCounter;

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

TEST_F(StatusWindowTest, NothingIsOpenBeforeTheFirstCall) { EXPECT_EQ(frmLoading(), nullptr); }

TEST_F(StatusWindowTest, FirstCallOpensTheBannerCentredWithTheText) {
  SetStatus("Checking zlib.dll ...");

  QWidget* window = frmLoading();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->objectName(), "frmLoading");
  EXPECT_EQ(window->windowTitle(), "Loading Server");
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_EQ(window->size(), QSize(300, 39));
  EXPECT_EQ(window->minimumSize(), window->maximumSize());
  EXPECT_TRUE(test::IsCentredIn(window->frameGeometry(), ScreenArea())) << window->frameGeometry().x();
  EXPECT_EQ(window->windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));

  QLabel* label = StatusLabel();
  ASSERT_NE(label, nullptr);
  EXPECT_EQ(label->text(), "Checking zlib.dll ...");
  EXPECT_EQ(label->geometry(), kLabelArea);
  EXPECT_TRUE(label->alignment().testFlag(Qt::AlignHCenter));
  EXPECT_FALSE(label->autoFillBackground());
  EXPECT_EQ(label->palette().color(QPalette::WindowText), QColor(194, 173, 154));
  const QFont font = label->font();
  EXPECT_EQ(font.family(), "Times New Roman");
  EXPECT_EQ(font.pixelSize(), 16);
  EXPECT_TRUE(font.bold());
  EXPECT_FALSE(font.italic());
  EXPECT_FALSE(font.underline());
}

TEST_F(StatusWindowTest, TextIsDrawnCentredOverTheBannerAndNothingElseIsPainted) {
  SetStatus("Loading Maps..");
  const QImage picture = Picture(*frmLoading());

  EXPECT_GT(test::TextPixels(picture, kLabelArea), 40);
  EXPECT_EQ(test::PixelsOffBanner(picture, {0, 0}, kLabelArea), 0);
  const auto [first, last] = TextColumns(picture);
  const int labelMiddle = kLabelArea.left() + kLabelArea.width() / 2;
  EXPECT_LE(std::abs((first + last) / 2 - labelMiddle), 3) << first << ".." << last;
}

TEST_F(StatusWindowTest, EmptyTextOpensTheWindowWithABlankLabel) {
  SetStatus("");

  ASSERT_NE(frmLoading(), nullptr);
  EXPECT_TRUE(frmLoading()->isVisible());
  EXPECT_EQ(StatusLabel()->text(), "");
  // The label is transparent: with no text the whole window is the banner.
  EXPECT_EQ(test::PixelsOffBanner(Picture(*frmLoading()), {0, 0}, QRect()), 0);
}

TEST_F(StatusWindowTest, TextIsReadInTheAnsiCodePage) {
  SetStatus("Dumping Map #7 - Caf\xE9 \x80\x99 ...");
  EXPECT_EQ(StatusLabel()->text(), QString::fromUtf8("Dumping Map #7 - Caf\u00E9 \u20AC\u2122 ..."));
}

TEST_F(StatusWindowTest, TextIsNotCutAtAZeroByte) {
  SetStatus(std::string_view("ab\0cd", 5));
  EXPECT_EQ(StatusLabel()->text().size(), 5);
}

TEST_F(StatusWindowTest, TooLongTextKeepsItsStartAndStaysInsideTheLabel) {
  SetStatus("Dumping Map #3000 - " + std::string(30, 'W') + " ...");
  const QImage picture = Picture(*frmLoading());

  EXPECT_EQ(test::PixelsOffBanner(picture, {0, 0}, kLabelArea), 0);
  const auto [first, last] = TextColumns(picture);
  EXPECT_LE(first, kLabelArea.left() + 2);
  EXPECT_GE(last, kLabelArea.right() - 8);
}

TEST_F(StatusWindowTest, LaterCallChangesOnlyTheText) {
  SetStatus("Opening Server Database..");
  QWidget* window = frmLoading();
  window->move(10, 20);

  SetStatus("Loading Maps..");

  EXPECT_EQ(frmLoading(), window);
  EXPECT_EQ(window->pos(), QPoint(10, 20));
  EXPECT_EQ(StatusLabel()->text(), "Loading Maps..");
}

TEST_F(StatusWindowTest, UnloadDestroysTheWindowAndTheNextCallMakesAFreshOne) {
  SetStatus("Converting Map #1");
  QPointer<QWidget> first = frmLoading();
  first->move(5, 5);

  UnloadLoading();
  EXPECT_EQ(frmLoading(), nullptr);
  EXPECT_TRUE(first.isNull());

  SetStatus("Converting Map #2");
  ASSERT_NE(frmLoading(), nullptr);
  EXPECT_TRUE(frmLoading()->isVisible());
  EXPECT_TRUE(test::IsCentredIn(frmLoading()->frameGeometry(), ScreenArea()));
  EXPECT_EQ(StatusLabel()->text(), "Converting Map #2");
}

TEST_F(StatusWindowTest, UnloadWhenClosedDoesNothing) {
  UnloadLoading();
  EXPECT_EQ(frmLoading(), nullptr);

  SetStatus("x");
  UnloadLoading();
  UnloadLoading();
  EXPECT_EQ(frmLoading(), nullptr);
}

TEST_F(StatusWindowTest, HiddenWindowIsShownAgainCentred) {
  SetStatus("first");
  QWidget* window = frmLoading();
  window->move(1, 1);
  window->hide();

  SetStatus("second");

  EXPECT_EQ(frmLoading(), window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(test::IsCentredIn(window->frameGeometry(), ScreenArea()));
  EXPECT_EQ(StatusLabel()->text(), "second");
}

// A close request that the window system delivers while SetStatus waits for
// its window must not run inside SetStatus, but must run once the caller is
// back in the event loop.
TEST_F(StatusWindowTest, CloseRequestDuringOpeningWaitsForTheEventLoop) {
  // The main window loads from the server database.
  test::TempProgramFolder folder;
  test::MakeMapsDatabase("server.dat", test::kServerPassword, {});
  ASSERT_TRUE(LoadServerDatabase());
  UnloadLoading();
  ShowMain();
  QWidget* main = frmMain();
  ASSERT_NE(main, nullptr);
  EventCounter closes;
  main->installEventFilter(&closes);
  QCoreApplication::processEvents();

  // Queued before SetStatus, so its wait would deliver it; the marker shows
  // that the wait did process queued events.
  EventCounter marker;
  QObject markerTarget;
  markerTarget.installEventFilter(&marker);
  QCoreApplication::postEvent(main->windowHandle(), new QCloseEvent);
  QCoreApplication::postEvent(&markerTarget, new QEvent(QEvent::User));

  SetStatus("Checking zlib.dll ...");

  EXPECT_EQ(marker.Count(QEvent::User), 1) << "SetStatus processed no events";
  EXPECT_EQ(closes.Count(QEvent::Close), 0);
  EXPECT_EQ(frmMain(), main);
  EXPECT_NE(frmLoading(), nullptr);

  QCoreApplication::processEvents();

  EXPECT_EQ(closes.Count(QEvent::Close), 1);
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr);
}

}  // namespace
}  // namespace corvald
