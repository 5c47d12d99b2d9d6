#pragma once

// Asking an X window to close as a window manager does, for the tools and
// benchmarks that close the program's windows.

#include <X11/Xlib.h>

namespace corvald {

// Asks an X window to close as a window manager's close button does
// (WM_DELETE_WINDOW), so that the program runs its own close handling. Works
// without a window manager.
inline void RequestWindowClose(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
}

}  // namespace corvald
