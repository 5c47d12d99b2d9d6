#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace corvald {

enum class MsgIcon { kNone, kCritical };

// Shows a modal message box captioned "Corvald" with an OK button only and
// returns once the user has confirmed it. The text is a byte string in the
// ANSI code page (map names can appear in it).
void MsgBox(std::string_view text, MsgIcon icon = MsgIcon::kNone);

// Seam for tests: while a handler is set, MsgBox hands it the box instead of
// showing one. An empty function restores the real boxes.
using MessageBoxHandler = std::function<void(const std::string& text, MsgIcon icon)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

}  // namespace corvald
