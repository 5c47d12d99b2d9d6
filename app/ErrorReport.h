#pragma once

// The report for a failure that nothing else handles, and the guard that
// sends every escaping failure there.

#include <string>

#include "platform/Failure.h"

namespace corvald {

// The report for a failure that nothing else handles: a message box with its
// number and description, then ShutDown, and the program ends with exit code 1.
void ReportUnexpected(int number, const std::string& description) noexcept;

// 1 once ReportUnexpected has run, else 0.
int UnexpectedExitCode();

// Runs an event handler or start-up step so that no exception ever leaves it:
// an escaping failure gets the unexpected-failure report. Returns whether the
// body ran to its end.
template <class Body>
bool Guarded(Body&& body) noexcept {
  try {
    body();
    return true;
  } catch (...) {
    const NumberedFailure failure = CurrentFailure();
    ReportUnexpected(failure.number, failure.description);
  }
  return false;
}

}  // namespace corvald
