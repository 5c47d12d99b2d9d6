// Start-up as the user sees it: the program started on a private Xvfb, timed
// from the moment it is started until its status window shows text and until
// its main window is visible, by polling the X server every millisecond.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/PerfProtocol.h"
#include "tools/RequestWindowClose.h"

namespace corvald::perf {

namespace {

using Clock = std::chrono::steady_clock;

// The status label's area in the status window, and the text's colour.
constexpr int kLabelX = 8, kLabelY = 8, kLabelWidth = 281, kLabelHeight = 25;
constexpr int kTextRed = 194, kTextGreen = 173, kTextBlue = 154;
constexpr int kEnoughTextPixels = 40;

// Starts a program with the environment extended by `environment`; returns its
// process id. Standard output goes to `outputFd` when it is not -1.
pid_t Spawn(const std::vector<std::string>& command, const std::vector<std::string>& environment,
            const std::filesystem::path& folder, int outputFd = -1, int keepFd = -1) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const std::string& variable : environment) putenv(const_cast<char*>(variable.c_str()));
    if (outputFd >= 0) dup2(outputFd, STDOUT_FILENO);
    if (keepFd >= 0) fcntl(keepFd, F_SETFD, 0);
    std::vector<char*> arguments;
    for (const std::string& part : command) arguments.push_back(const_cast<char*>(part.c_str()));
    arguments.push_back(nullptr);
    execvp(arguments[0], arguments.data());
    _exit(127);
  }
  return pid;
}

// The viewable top-level window with this title, or 0.
Window ViewableWindow(Display* display, const char* title) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (!XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) return 0;
  for (unsigned i = 0; i < count && found == 0; ++i) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, children[i], &attributes) || attributes.map_state != IsViewable) {
      continue;
    }
    char* name = nullptr;
    if (XFetchName(display, children[i], &name) && name != nullptr) {
      if (std::string(name) == title) found = children[i];
      XFree(name);
    }
  }
  if (children != nullptr) XFree(children);
  return found;
}

bool IsTextColour(unsigned long pixel) {
  const int red = static_cast<int>((pixel >> 16) & 0xFF), green = static_cast<int>((pixel >> 8) & 0xFF),
            blue = static_cast<int>(pixel & 0xFF);
  return std::abs(red - kTextRed) <= 24 && std::abs(green - kTextGreen) <= 24 &&
         std::abs(blue - kTextBlue) <= 24;
}

// Whether the status label of this window shows text.
bool ShowsText(Display* display, Window window) {
  XImage* image = XGetImage(display, window, kLabelX, kLabelY, kLabelWidth, kLabelHeight, AllPlanes, ZPixmap);
  if (image == nullptr) return false;
  int textPixels = 0;
  for (int y = 0; y < kLabelHeight; ++y) {
    for (int x = 0; x < kLabelWidth; ++x) textPixels += IsTextColour(XGetPixel(image, x, y)) ? 1 : 0;
  }
  XDestroyImage(image);
  return textPixels > kEnoughTextPixels;
}

double Since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

PrivateXvfb::PrivateXvfb() {
  int fds[2];
  if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
  pid_ =
      Spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1024x768x24", "-nolisten", "tcp"},
            {}, "/", -1, fds[1]);
  close(fds[1]);
  std::string number;
  char c = 0;
  while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
  close(fds[0]);
  if (number.empty()) throw std::runtime_error("Xvfb did not start");
  name_ = ":" + number;
  display_ = XOpenDisplay(name_.c_str());
  if (display_ == nullptr) throw std::runtime_error("cannot connect to Xvfb");
}

PrivateXvfb::~PrivateXvfb() {
  if (display_ != nullptr) XCloseDisplay(display_);
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

Report MeasureScreen(const std::filesystem::path& program) {
  PrivateXvfb x;
  // Errors for windows that vanish between the listing and the look are expected.
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  Report report;
  const auto start = Clock::now();
  const pid_t pid =
      Spawn({program.string()}, {"DISPLAY=" + x.Name(), "QT_QPA_PLATFORM=xcb"}, program.parent_path());
  const auto deadline = start + std::chrono::seconds(120);
  Window main = 0;
  while (main == 0 && Clock::now() < deadline) {
    if (report.count("first_text") == 0) {
      const Window status = ViewableWindow(x.Connection(), "Loading Server");
      if (status != 0 && ShowsText(x.Connection(), status)) report["first_text"] = Since(start);
    }
    main = ViewableWindow(x.Connection(), "Corvald Converter");
    if (main != 0) {
      report["main_shown"] = Since(start);
      report["peak_bytes"] =
          static_cast<double>(PeakResidentBytes("/proc/" + std::to_string(pid) + "/status"));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  if (main != 0) RequestWindowClose(x.Connection(), main);
  for (int waited = 0; waited < 10000; waited += 10) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return report;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return report;
}

}  // namespace corvald::perf
