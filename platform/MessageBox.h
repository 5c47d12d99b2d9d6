#pragma once

// The window program's message box.

#include <string_view>

#include "platform/UserInterface.h"

namespace corvald {

// Shows a modal message box captioned "Corvald" with an OK button only and the
// icon, and returns once the user has confirmed it. The text is a byte string
// in the ANSI code page (map names can appear in it).
void ShowMessageBox(std::string_view text, MsgIcon icon);

// Confirms every open message box, as its OK button does: each ShowMessageBox
// returns once control is back in its event loop.
void ConfirmMessageBoxes();

}  // namespace corvald
