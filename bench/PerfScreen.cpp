// Start-up and the convert as the user sees them: the program started on a
// private Xvfb, timed from the moment it is started until its status window
// shows text and until its main window is visible, and from a click on its
// convert button until the closing message shows, by polling the X server
// every millisecond; and corvald-batch beside it, timed from its output.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
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
// The middle of "Convert map files to database" in the main window.
constexpr int kConvertButtonX = 136, kConvertButtonY = 88;

// Starts a program with the environment extended by `environment`; returns its
// process id. Standard output goes to `outputFd` and standard error to
// `errorFd` when they are not -1.
pid_t Spawn(const std::vector<std::string>& command, const std::vector<std::string>& environment,
            const std::filesystem::path& folder, int outputFd = -1, int keepFd = -1, int errorFd = -1) {
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const std::string& variable : environment) putenv(const_cast<char*>(variable.c_str()));
    if (outputFd >= 0) dup2(outputFd, STDOUT_FILENO);
    if (errorFd >= 0) dup2(errorFd, STDERR_FILENO);
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

// Polls every millisecond until the window with this title is viewable; 0 past the deadline.
Window AwaitWindow(Display* display, const char* title, Clock::time_point deadline) {
  for (;;) {
    if (const Window found = ViewableWindow(display, title); found != 0) return found;
    if (Clock::now() >= deadline) return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// Presses and releases the left mouse button at (x, y) of the window, as a
// person's mouse does; returns once the X server has both.
void Click(Display* display, Window window, int x, int y) {
  int left = 0, top = 0;
  Window child = 0;
  XTranslateCoordinates(display, window, DefaultRootWindow(display), x, y, &left, &top, &child);
  XTestFakeMotionEvent(display, DefaultScreen(display), left, top, CurrentTime);
  XTestFakeButtonEvent(display, 1, True, CurrentTime);
  XTestFakeButtonEvent(display, 1, False, CurrentTime);
  XSync(display, False);
}

// Waits for the process to end, at most 10 seconds, then kills it.
void AwaitExit(pid_t pid) {
  for (int waited = 0; waited < 10000; waited += 10) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

// Runs a program in its own folder to its end with standard output and error
// read line by line; `line` sees each line, and whether it came on standard
// error. Throws when the program fails.
template <typename Line>
void RunReadingLines(const std::vector<std::string>& command, const std::filesystem::path& folder,
                     Line&& line) {
  int out[2], error[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(error, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = Spawn(command, {}, folder, out[1], -1, error[1]);
  close(out[1]);
  close(error[1]);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {error[0], POLLIN, 0}};
  std::string pending[2];
  int open = 2;
  while (open > 0 && poll(fds, 2, -1) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      pending[i].append(buffer, static_cast<std::size_t>(got));
      for (std::size_t end; (end = pending[i].find('\n')) != std::string::npos;) {
        line(std::string_view(pending[i]).substr(0, end), i == 1);
        pending[i].erase(0, end + 1);
      }
    }
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("failed: " + command[0]);
}

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

Report MeasureWindow(const std::filesystem::path& program, bool convert) {
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
  if (main != 0 && convert) {
    // The main window takes input once the status window has closed.
    while (ViewableWindow(x.Connection(), "Loading Server") != 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sync();
    Click(x.Connection(), main, kConvertButtonX, kConvertButtonY);
    const auto clicked = Clock::now();
    const Window box = AwaitWindow(x.Connection(), "Corvald", clicked + std::chrono::seconds(300));
    if (box != 0) {
      report["convert"] = Since(clicked);
      RequestWindowClose(x.Connection(), box);
      while (ViewableWindow(x.Connection(), "Corvald") != 0 && Since(clicked) < 310) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    }
  }
  if (main != 0) RequestWindowClose(x.Connection(), main);
  AwaitExit(pid);
  return report;
}

double MeasureBatchConvert(const std::filesystem::path& batch) {
  std::optional<Clock::time_point> first;
  std::optional<double> seconds;
  sync();
  RunReadingLines({batch.string(), "convert"}, batch.parent_path(), [&](std::string_view line, bool error) {
    if (error && !first && line.starts_with("Converting Map #")) first = Clock::now();
    if (!error && first && line.ends_with(" Maps converted!")) seconds = Since(*first);
  });
  if (!seconds) throw std::runtime_error("corvald-batch convert did not end with its count");
  return *seconds;
}

double MeasureBatchList(const std::filesystem::path& batch) {
  return Seconds([&] {
    RunReadingLines({batch.string(), "-q", "list"}, batch.parent_path(), [](auto, bool) {});
  });
}

}  // namespace corvald::perf
