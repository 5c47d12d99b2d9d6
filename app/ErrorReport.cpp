// The unexpected-failure report: its message box, ShutDown, and the exit code
// it leaves for the program.
#include "app/ErrorReport.h"

#include <QCoreApplication>

#include "app/modCorvald.h"
#include "platform/UserInterface.h"

namespace corvald {

namespace {
int exitCode = 0;
}

void ReportUnexpected(int number, const std::string& description) noexcept {
  exitCode = 1;
  try {
    MsgBox("Unexpected error #" + std::to_string(number) + ": " + description);
  } catch (...) {
    // Nothing more can be reported; the program ends all the same.
  }
  ShutDown();
  QCoreApplication::exit(exitCode);
}

int UnexpectedExitCode() { return exitCode; }

}  // namespace corvald
