#pragma once

class QWidget;

namespace corvald {

// Creates the main window if needed and shows it modeless, centred on the
// screen.
void ShowMain();

// Raises the main window's close request when it is open and not already
// closing; its close handler ends the program through ShutDown.
void UnloadMain();

// The open main window, or nullptr (also while it is closing).
QWidget* frmMain();

}  // namespace corvald
