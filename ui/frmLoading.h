#pragma once

#include <string_view>

#include "platform/UserInterface.h"

class QWidget;

namespace corvald {

// Shows the status window if it is not showing, replaces its text with this
// ANSI byte string and repaints it before returning, so that the text is on
// the screen while the caller goes on working without yielding. With `paced`,
// a text that comes within a screen frame (16 ms) of the last one drawn is
// drawn with the next text or the next window events instead. No user input
// and no close request is handled inside; close requests that arrive while the
// window is being opened are delivered once the caller returns to the event
// loop.
void ShowStatusWindow(std::string_view text, bool paced);

// Closes and destroys the status window; nothing happens when it is not open.
void CloseStatusWindow();

// The open status window, or nullptr.
QWidget* frmLoading();

}  // namespace corvald
