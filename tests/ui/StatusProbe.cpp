// A small program for the real-X test of the status window. It loads the
// server database of its current folder, shows the main window and says
// "main-shown"; then, after a line on its standard input (the test clicks the
// main window and asks it to close in between), it calls SetStatus, says what
// reached the main window meanwhile, and keeps busy for two seconds without
// yielding while the test takes its screenshot. Then it runs the event loop
// until the program ends and says what reached the main window in the end.
#include <QApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <QWindow>
#include <chrono>
#include <iostream>
#include <string>

#include "platform/Fonts.h"
#include "store/modDatabase.h"
#include "tests/ui/WindowChecks.h"
#include "ui/Windows.h"
#include "ui/frmLoading.h"
#include "ui/frmMain.h"

namespace {

std::string Seen(const corvald::test::EventCounter& events) {
  return "presses=" + std::to_string(events.Count(QEvent::MouseButtonPress)) +
         " closes=" + std::to_string(events.Count(QEvent::Close));
}

void KeepBusy(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  corvald::RegisterFonts();
  corvald::InstallWindows();
  corvald::test::EventCounter mainEvents;

  // As start-up does: the main window loads from the database in the current
  // folder, and the status window that loading showed goes.
  if (!corvald::LoadServerDatabase()) return 2;
  corvald::UnloadLoading();
  corvald::ShowMain();
  corvald::frmMain()->installEventFilter(&mainEvents);
  QElapsedTimer waited;
  waited.start();
  while (!corvald::frmMain()->windowHandle()->isExposed() && waited.elapsed() < 10000) {
    QCoreApplication::processEvents();
    QThread::msleep(5);
  }
  QCoreApplication::processEvents();
  std::cout << "main-shown" << std::endl;

  std::string go;
  std::getline(std::cin, go);
  QThread::msleep(300);  // lets the X events that the test caused arrive

  corvald::SetStatus("Checking zlib.dll ...");
  std::cout << "status-shown " << Seen(mainEvents) << std::endl;
  KeepBusy(std::chrono::seconds(2));

  QTimer::singleShot(10000, &app, [] { QCoreApplication::exit(3); });
  const int code = QApplication::exec();
  std::cout << "ended " << Seen(mainEvents) << std::endl;
  return code;
}
