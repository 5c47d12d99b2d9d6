#include <QApplication>

#include "app/ErrorReport.h"
#include "app/modCorvald.h"
#include "platform/Allocator.h"
#include "platform/Fonts.h"
#include "platform/StopSignals.h"
#include "platform/UserInterface.h"
#include "ui/Windows.h"

int main(int argc, char* argv[]) {
  corvald::KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  corvald::RegisterFonts();
  corvald::InstallWindows();
  // A stop signal closes the main window, as its close box does: ShutDown then
  // leaves the database settled.
  corvald::OnStopSignals(corvald::UnloadMain);
  bool running = false;
  if (!corvald::Guarded([&] { running = corvald::Main(); }) || !running) return 1;
  const int code = QApplication::exec();
  return corvald::UnexpectedExitCode() != 0 ? corvald::UnexpectedExitCode() : code;
}
