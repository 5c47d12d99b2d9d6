#pragma once

#include <QImage>
#include <QProcess>
#include <QRect>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct _XDisplay;

namespace corvald::test {

// An X window id.
using XWindow = unsigned long;

// A program running on a test X server. It is killed if it still runs when
// the object ends.
class XProgram {
 public:
  XProgram(const std::string& display, const std::string& program, const std::vector<std::string>& arguments,
           const std::filesystem::path& workingFolder);
  ~XProgram();
  XProgram(const XProgram&) = delete;
  XProgram& operator=(const XProgram&) = delete;

  // The exit code once the program has ended normally; nullopt when it still
  // runs after the timeout (it is left running) or when it crashed.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);

  // The next line that the program writes to its standard output, without the
  // line break; nullopt when none comes within the timeout.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);

  // Writes a line (a line break is added) to the program's standard input.
  void WriteLine(std::string_view line);

  // Everything the program has written to its standard error so far.
  std::string Errors();

 private:
  QProcess process_;
  std::string pendingOutput_;
};

// A private Xvfb server (1024 x 768, 24-bit colour, no window manager) on a
// free display, stopped when the object ends. Throws std::runtime_error when
// the server cannot be started.
class XServer {
 public:
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // The display name, e.g. ":7".
  const std::string& Display() const { return display_; }
  QSize ScreenSize() const;

  // Starts a program on this display (DISPLAY set, QT_QPA_PLATFORM=xcb).
  std::unique_ptr<XProgram> Start(
      const std::string& program, const std::vector<std::string>& arguments = {},
      const std::filesystem::path& workingFolder = std::filesystem::current_path()) const;

  // The whole screen as it is now.
  QImage Screenshot() const;

  // The mapped top-level windows whose title is exactly this text.
  std::vector<XWindow> FindWindows(std::string_view title) const;

  // The first such window to appear within the timeout.
  std::optional<XWindow> WaitForWindow(std::string_view title, std::chrono::milliseconds timeout) const;

  // Whether no such window is left within the timeout.
  bool WaitForNoWindow(std::string_view title, std::chrono::milliseconds timeout) const;

  // A window's client area in screen coordinates.
  QRect WindowGeometry(XWindow window) const;

  // Moves the pointer to this point of the window (client coordinates) and
  // clicks the left button (xdotool, through the XTEST extension).
  void Click(XWindow window, int x, int y) const;

  // Asks a window to close as a window manager's close button does
  // (WM_DELETE_WINDOW).
  void RequestClose(XWindow window) const;

 private:
  QProcess server_;
  std::string display_;
  _XDisplay* connection_ = nullptr;
};

}  // namespace corvald::test
