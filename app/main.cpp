// corvald, the window program: its entry point runs start-up, then the event
// loop until the main window has closed.
#include <QApplication>

#include "app/ErrorReport.h"
#include "app/modCorvald.h"
#include "platform/Allocator.h"
#include "platform/Fonts.h"
#include "platform/MessageBox.h"
#include "platform/StopSignals.h"
#include "platform/UserInterface.h"
#include "ui/windows/Windows.h"

int main(int argc, char* argv[]) {
  corvald::KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  corvald::RegisterFonts();
  corvald::InstallWindows();
  bool running = false;
  if (!corvald::Guarded([&] { running = corvald::Main(); }) || !running) return 1;
  // From here a stop signal confirms an open message box and closes the main
  // window, as its close box does: ShutDown then leaves the database settled.
  // During start-up it ends the program at once, which leaves a whole database
  // at any moment.
  corvald::OnStopSignals([] {
    corvald::ConfirmMessageBoxes();
    corvald::UnloadMain();
  });
  const int code = QApplication::exec();
  return corvald::UnexpectedExitCode() != 0 ? corvald::UnexpectedExitCode() : code;
}
