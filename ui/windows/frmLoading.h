#pragma once

// The status window: one line of text on the banner, drawn at most once a frame
// when paced.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/UserInterface.h"

class QWidget;

namespace corvald {

// Shows the status window if it is not showing, replaces its text with this
// ANSI byte string and repaints it before returning, so that the text is on
// the screen while the caller goes on working without yielding. With `paced`,
// a text that comes within a screen frame (16 ms) of the last one drawn waits
// instead: the next text replaces it, or DrawWaitingStatus draws it. No user
// input and no close request is handled inside; close requests that arrive
// while the window is being opened are delivered once the caller returns to
// the event loop.
void ShowStatusWindow(std::string_view text, bool paced);

// Draws the text that waits for its frame, if one does; with `dueOnly`, only
// once a frame has passed since the last one drawn.
void DrawWaitingStatus(bool dueOnly);

// How long the text that waits has until its frame has passed (none left once
// it has); nothing when no text waits.
std::optional<std::chrono::nanoseconds> StatusWaitingLeft();

// Closes and destroys the status window; nothing happens when it is not open.
void CloseStatusWindow();

// The open status window, or nullptr.
QWidget* frmLoading();

// Seam for tests: the clock, in nanoseconds, by which the texts are paced; an
// empty function restores the steady clock.
void SetStatusClock(std::function<std::int64_t()> clock);

}  // namespace corvald
