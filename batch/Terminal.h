#pragma once

// The terminal as the program's user interface: status texts as progress on
// standard error, messages on standard error, and a main view without a window.

#include <string>
#include <string_view>

namespace corvald::batch {

// The UTF-8 form of an ANSI text for the terminal, with each control
// character as \xHH (its byte in the code page) and "\" as "\\", so that a
// map name stays on its line and sends the terminal no control sequence.
std::string TerminalText(std::string_view ansi);

// Writes the UTF-8 text to standard output. When that fails, says so on
// standard error and returns false.
bool PrintOutput(std::string_view utf8);

// Makes the terminal the program's user interface (see platform/UserInterface.h).
void InstallTerminal(bool quiet);

// From now on SIGINT, SIGTERM and SIGHUP do not end the program at once: they
// close the main view at the next yield, after the map under way, which ends
// the command and runs ShutDown, so that the database is left settled.
void CatchStopSignals();

// The stop signal caught, or 0.
int CaughtStopSignal();

// From now on the latest message is held back until the next one comes or
// ReleaseHeldMessage, for a command whose closing message is its result.
void HoldLastMessage();

// Prints the held message, if any: on standard output as the command's result
// when `asResult`, else on standard error like every other message. False when
// the result could not be written.
bool ReleaseHeldMessage(bool asResult);

}  // namespace corvald::batch
