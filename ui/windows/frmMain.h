#pragma once

// The main window: the map count, the list of loaded maps, the two commands
// and the hidden file list of "Maps".

#include <string>
#include <vector>

#include "platform/UserInterface.h"

class QWidget;

namespace corvald {

// Creates and loads the main window if needed and shows it modeless, centred
// on the screen. Loading reads the row count of rsMaps into MapCount, lists
// every map of MapList, creates "Maps" when nothing of that name exists and
// lists its files. A failure while loading (76 when "Maps" is a plain file)
// goes to the caller, and no window is left behind.
void ShowMainWindow();

// Raises the main window's close request when it is open and not already
// closing; its close handler ends the program through ShutDown.
void CloseMainWindow();

// The open main window, or nullptr (also while it is closing).
QWidget* frmMain();

// The entries of the hidden file list, as the main window found them when it
// loaded (ANSI names without the folder); empty when the window is not open.
// The reference holds until the window closes.
const std::vector<std::string>& MainWindowFileList();

}  // namespace corvald
