#pragma once

// The window program's user interface: the status window, message boxes, the
// main window and the event loop's yield.

namespace corvald {

// Makes the windows the program's user interface (see platform/UserInterface.h).
void InstallWindows();

}  // namespace corvald
