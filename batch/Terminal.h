#pragma once

// The terminal as the program's user interface: status texts as progress on
// standard error, messages on standard error, and a main view without a window.

namespace corvald::batch {

// Makes the terminal the program's user interface (see platform/UserInterface.h).
void InstallTerminal(bool quiet);

// From now on the latest message is held back until the next one comes or
// ReleaseHeldMessage, for a command whose closing message is its result.
void HoldLastMessage();

// Prints the held message, if any: on standard output as the command's result
// when `asResult`, else on standard error like every other message.
void ReleaseHeldMessage(bool asResult);

}  // namespace corvald::batch
