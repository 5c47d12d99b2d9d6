// close_window <window id>: asks an X window to close, as a window manager's
// close button does.
#include <cstdio>
#include <cstdlib>

#include "tools/RequestWindowClose.h"

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: close_window <window id>\n");
    return 2;
  }
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "close_window: cannot open the display\n");
    return 1;
  }
  corvald::RequestWindowClose(display, static_cast<Window>(std::strtoul(argv[1], nullptr, 0)));
  XCloseDisplay(display);
  return 0;
}
