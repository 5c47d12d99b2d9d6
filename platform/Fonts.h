#pragma once

// The fonts that the windows ask for by name, laid out alike on every screen.

#include <QFont>
#include <string_view>

namespace corvald {

// Makes the fonts that the windows name available to Qt. Tahoma ships with
// Wine in a folder that fontconfig does not search; it is registered from
// there when present. Safe to call more than once.
void RegisterFonts();

// The font a window asks for by name and point size, sized in pixels as at
// 96 dpi (12 points = 16 pixels), so that text lays out the same whatever the
// screen's resolution. Never italic or underlined.
QFont PixelFont(std::string_view family, double points, bool bold);

}  // namespace corvald
