// The bare main window on the offscreen platform: its look, and how closing it
// ends the program through ShutDown.
#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QWindow>

#include "app/modCorvald.h"
#include "tests/ui/WindowChecks.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace corvald {
namespace {

using test::EventCounter;

class MainWindowTest : public ::testing::Test {
 protected:
  void TearDown() override {
    UnloadMain();
    UnloadLoading();
    DeleteClosedWindows();
  }

  static void DeleteClosedWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

  // Opens the main window with the status window still up, as start-up has it,
  // and counts the close events that reach the main window.
  QWidget* OpenBoth() {
    SetStatus("Loading Maps..");
    ShowMain();
    QWidget* main = frmMain();
    if (main != nullptr) main->installEventFilter(&mainEvents_);
    return main;
  }

  EventCounter mainEvents_;
};

TEST_F(MainWindowTest, ShowsTheBareWindowCentred) {
  ShowMain();

  QWidget* window = frmMain();
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_FALSE(window->isModal());
  EXPECT_EQ(window->objectName(), "frmMain");
  EXPECT_EQ(window->windowTitle(), "Corvald Converter");
  EXPECT_EQ(window->size(), QSize(274, 106));
  EXPECT_EQ(window->minimumSize(), QSize(274, 106));
  EXPECT_EQ(window->maximumSize(), QSize(274, 106));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::FramelessWindowHint));
  EXPECT_TRUE(window->windowFlags().testFlag(Qt::WindowTitleHint));
  EXPECT_FALSE(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(
      test::IsCentredIn(window->frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry()));
  EXPECT_EQ(window->windowIcon().availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}}));

  const QImage picture = window->grab().toImage();
  for (const QPoint point : {QPoint(0, 0), QPoint(137, 53), QPoint(273, 105)}) {
    EXPECT_EQ(QColor(picture.pixel(point)), QColor(75, 81, 97)) << point.x() << "," << point.y();
  }
}

TEST_F(MainWindowTest, ShowingTwiceKeepsTheOneWindow) {
  ShowMain();
  QWidget* first = frmMain();
  first->move(3, 4);
  ShowMain();
  EXPECT_EQ(frmMain(), first);
  EXPECT_EQ(first->pos(), QPoint(3, 4));
}

TEST_F(MainWindowTest, UnloadWhenClosedDoesNothing) {
  SetStatus("Checking zlib.dll ...");
  UnloadMain();
  EXPECT_EQ(frmMain(), nullptr);
  // No close handler ran, so nothing was shut down.
  EXPECT_NE(frmLoading(), nullptr);
}

TEST_F(MainWindowTest, UnloadRunsTheCloseHandlerOnceAndDestroysTheWindow) {
  QPointer<QWidget> main = OpenBoth();
  ASSERT_NE(main, nullptr);

  UnloadMain();

  EXPECT_EQ(mainEvents_.Count(QEvent::Close), 1);
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr) << "the close handler did not shut down";
  DeleteClosedWindows();
  EXPECT_TRUE(main.isNull());
}

TEST_F(MainWindowTest, UserCloseShutsDownWithoutASecondCloseRequest) {
  QPointer<QWidget> main = OpenBoth();
  ASSERT_NE(main, nullptr);

  // As the window system delivers the close box.
  QCoreApplication::postEvent(main->windowHandle(), new QCloseEvent);
  QCoreApplication::processEvents();

  EXPECT_EQ(mainEvents_.Count(QEvent::Close), 1);
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr);
  DeleteClosedWindows();
  EXPECT_TRUE(main.isNull());
}

TEST_F(MainWindowTest, ShutDownFromCodeClosesTheMainWindowOnce) {
  QPointer<QWidget> main = OpenBoth();
  ASSERT_NE(main, nullptr);

  ShutDown();
  ShutDown();

  EXPECT_EQ(mainEvents_.Count(QEvent::Close), 1);
  EXPECT_EQ(frmMain(), nullptr);
  EXPECT_EQ(frmLoading(), nullptr);
}

TEST_F(MainWindowTest, ShowAfterUnloadMakesAFreshWindow) {
  ShowMain();
  QPointer<QWidget> first = frmMain();
  UnloadMain();
  DeleteClosedWindows();

  ShowMain();

  EXPECT_TRUE(first.isNull());
  ASSERT_NE(frmMain(), nullptr);
  EXPECT_TRUE(frmMain()->isVisible());
}

}  // namespace
}  // namespace corvald
