// The status window on a real X server: its text is on the screen while the
// caller keeps busy, and neither a click nor a close request runs inside
// SetStatus; both arrive once the caller is back in the event loop.
#include <gtest/gtest.h>

#include <QDir>

#include "tests/support/DatabaseFixture.h"
#include "tests/support/TempProgramFolder.h"
#include "tests/support/XServer.h"
#include "tests/ui/WindowChecks.h"

namespace corvald {
namespace {

using namespace std::chrono_literals;

TEST(StatusWindowOnX, TextShowsWhileTheCallerIsBusyAndInputWaits) {
  // The probe starts in a folder with a server database, from which the main
  // window loads.
  test::TempProgramFolder folder;
  test::MakeMapsDatabase("server.dat", test::kServerPassword, {});
  test::XServer x;
  const auto probe = x.Start(CORVALD_STATUS_PROBE);
  ASSERT_EQ(probe->ReadLine(30s), "main-shown") << probe->Errors();

  const auto main = x.WaitForWindow("Corvald Converter", 5s);
  ASSERT_TRUE(main.has_value());
  EXPECT_EQ(x.WindowGeometry(*main), QRect(375, 331, 274, 106));
  x.Click(*main, 20, 20);
  x.RequestClose(*main);
  probe->WriteLine("go");

  ASSERT_EQ(probe->ReadLine(30s), "status-shown presses=0 closes=0") << probe->Errors();
  // The probe is busy for two seconds now: what is on the screen was drawn
  // inside SetStatus.
  const QImage screen = x.Screenshot();
  const auto loading = x.FindWindows("Loading Server");
  ASSERT_EQ(loading.size(), 1u);
  const QRect window = x.WindowGeometry(loading.front());
  EXPECT_EQ(window, QRect(362, 364, 300, 39));

  const QRect label(8, 8, 281, 25);
  const int textPixels = test::TextPixels(screen, label.translated(window.topLeft()));
  const int offBanner = test::PixelsOffBanner(screen, window.topLeft(), label);
  if (textPixels <= 40 || offBanner != 0) {
    const QString saved = QDir::temp().filePath(QStringLiteral("corvald-status-window.png"));
    screen.save(saved);
    ADD_FAILURE() << "text pixels " << textPixels << ", pixels off the banner " << offBanner
                  << "; screen saved to " << saved.toStdString();
  }

  EXPECT_EQ(probe->ReadLine(30s), "ended presses=1 closes=1") << probe->Errors();
  EXPECT_EQ(probe->WaitForExit(10s), 0);
  EXPECT_TRUE(x.WaitForNoWindow("Corvald Converter", 5s));
}

}  // namespace
}  // namespace corvald
