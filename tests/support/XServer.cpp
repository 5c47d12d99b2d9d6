#include "tests/support/XServer.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <QByteArray>
#include <QDeadlineTimer>
#include <QProcessEnvironment>
#include <QStringList>
#include <QThread>
#include <cstdio>
#include <stdexcept>

// Xlib comes last: its macros (None, Bool, Status...) clash with Qt's names.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "tools/RequestWindowClose.h"

namespace corvald::test {

namespace {

// A window can close between being listed and being asked about; the calls then
// fail and say so. Xlib's default handler would end the test program instead.
int NoteXError(Display* /*display*/, XErrorEvent* error) {
  if (error->error_code != BadWindow && error->error_code != BadDrawable) {
    std::fprintf(stderr, "X error %d (request %d)\n", error->error_code, error->request_code);
  }
  return 0;
}

constexpr int kScreenWidth = 1024;
constexpr int kScreenHeight = 768;

QString Q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Children die with the test process, even when it is killed.
void DieWithParent() { prctl(PR_SET_PDEATHSIG, SIGKILL); }

int Remaining(const QDeadlineTimer& deadline) {
  return static_cast<int>(std::max<qint64>(deadline.remainingTime(), 0));
}

// A property of a window as bytes, or an empty string.
std::string WindowProperty(Display* connection, Window window, Atom property) {
  Atom type = 0;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  if (XGetWindowProperty(connection, window, property, 0, 4096, False, AnyPropertyType, &type, &format,
                         &items, &after, &data) != Success ||
      data == nullptr) {
    return {};
  }
  std::string value = format == 8 ? std::string(reinterpret_cast<const char*>(data), items) : std::string();
  XFree(data);
  return value;
}

std::string WindowTitle(Display* connection, Window window) {
  std::string title = WindowProperty(connection, window, XInternAtom(connection, "_NET_WM_NAME", False));
  return title.empty() ? WindowProperty(connection, window, XA_WM_NAME) : title;
}

int ChannelShift(unsigned long mask) {
  int shift = 0;
  while (mask != 0 && (mask & 1) == 0) {
    mask >>= 1;
    ++shift;
  }
  return shift;
}

}  // namespace

// ---------------------------------------------------------------- XProgram

XProgram::XProgram(const std::string& display, const std::string& program,
                   const std::vector<std::string>& arguments, const std::filesystem::path& workingFolder) {
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), Q(display));
  environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
  environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
  process_.setProcessEnvironment(environment);
  process_.setWorkingDirectory(QString::fromStdString(workingFolder.string()));
  process_.setChildProcessModifier(DieWithParent);
  QStringList list;
  for (const std::string& argument : arguments) list << Q(argument);
  process_.start(Q(program), list);
  if (!process_.waitForStarted(10000)) throw std::runtime_error("cannot start " + program);
}

XProgram::~XProgram() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

std::optional<int> XProgram::WaitForExit(std::chrono::milliseconds timeout) {
  if (process_.state() != QProcess::NotRunning &&
      !process_.waitForFinished(static_cast<int>(timeout.count()))) {
    return std::nullopt;
  }
  if (process_.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return process_.exitCode();
}

std::optional<std::string> XProgram::ReadLine(std::chrono::milliseconds timeout) {
  const QDeadlineTimer deadline(timeout);
  while (true) {
    pendingOutput_ += process_.readAllStandardOutput().toStdString();
    if (const auto end = pendingOutput_.find('\n'); end != std::string::npos) {
      std::string line = pendingOutput_.substr(0, end);
      pendingOutput_.erase(0, end + 1);
      return line;
    }
    if (deadline.hasExpired() || process_.state() == QProcess::NotRunning) return std::nullopt;
    process_.waitForReadyRead(std::max(Remaining(deadline), 1));
  }
}

void XProgram::WriteLine(std::string_view line) {
  process_.write(QByteArray(line.data(), static_cast<qsizetype>(line.size())) + '\n');
  process_.waitForBytesWritten(5000);
}

std::string XProgram::Errors() { return process_.readAllStandardError().toStdString(); }

// ---------------------------------------------------------------- XServer

XServer::XServer() {
  // -displayfd makes the server pick a free display and write its number once
  // it accepts connections.
  server_.setChildProcessModifier(DieWithParent);
  server_.start(QStringLiteral("Xvfb"),
                {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                 QStringLiteral("0"), QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight),
                 QStringLiteral("-nolisten"), QStringLiteral("tcp")});
  if (!server_.waitForStarted(10000)) throw std::runtime_error("cannot start Xvfb");
  QByteArray number;
  const QDeadlineTimer deadline(20000);
  while (!number.contains('\n') && !deadline.hasExpired() && server_.state() == QProcess::Running) {
    server_.waitForReadyRead(std::max(Remaining(deadline), 1));
    number += server_.readAllStandardOutput();
  }
  if (!number.contains('\n')) throw std::runtime_error("Xvfb did not report its display");
  // Named first: GCC 12 at -O3 takes a literal joined to a temporary string for
  // an overlapping copy (-Wrestrict).
  const std::string displayNumber = number.trimmed().toStdString();
  display_ = ":" + displayNumber;
  connection_ = XOpenDisplay(display_.c_str());
  if (connection_ == nullptr) throw std::runtime_error("cannot connect to Xvfb on " + display_);
  XSetErrorHandler(NoteXError);
}

XServer::~XServer() {
  if (connection_ != nullptr) XCloseDisplay(connection_);
  server_.terminate();
  if (!server_.waitForFinished(5000)) {
    server_.kill();
    server_.waitForFinished(5000);
  }
}

QSize XServer::ScreenSize() const { return {kScreenWidth, kScreenHeight}; }

std::unique_ptr<XProgram> XServer::Start(const std::string& program,
                                         const std::vector<std::string>& arguments,
                                         const std::filesystem::path& workingFolder) const {
  return std::make_unique<XProgram>(display_, program, arguments, workingFolder);
}

QImage XServer::Screenshot() const {
  const Window root = DefaultRootWindow(connection_);
  XImage* shot = XGetImage(connection_, root, 0, 0, kScreenWidth, kScreenHeight, AllPlanes, ZPixmap);
  if (shot == nullptr) throw std::runtime_error("cannot read the screen");
  const int redShift = ChannelShift(shot->red_mask);
  const int greenShift = ChannelShift(shot->green_mask);
  const int blueShift = ChannelShift(shot->blue_mask);
  QImage image(kScreenWidth, kScreenHeight, QImage::Format_RGB32);
  for (int y = 0; y < kScreenHeight; ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < kScreenWidth; ++x) {
      const unsigned long pixel = XGetPixel(shot, x, y);
      line[x] = qRgb(static_cast<int>((pixel & shot->red_mask) >> redShift),
                     static_cast<int>((pixel & shot->green_mask) >> greenShift),
                     static_cast<int>((pixel & shot->blue_mask) >> blueShift));
    }
  }
  XDestroyImage(shot);
  return image;
}

std::vector<XWindow> XServer::FindWindows(std::string_view title) const {
  Window root = 0;
  Window parent = 0;
  Window* children = nullptr;
  unsigned int count = 0;
  std::vector<XWindow> found;
  XSync(connection_, False);
  if (XQueryTree(connection_, DefaultRootWindow(connection_), &root, &parent, &children, &count) == 0)
    return found;
  for (unsigned int i = 0; i < count; ++i) {
    XWindowAttributes attributes;
    if (XGetWindowAttributes(connection_, children[i], &attributes) == 0) continue;
    if (attributes.map_state != IsViewable) continue;
    if (WindowTitle(connection_, children[i]) == title) found.push_back(children[i]);
  }
  if (children != nullptr) XFree(children);
  return found;
}

std::optional<XWindow> XServer::WaitForWindow(std::string_view title,
                                              std::chrono::milliseconds timeout) const {
  const QDeadlineTimer deadline(timeout);
  while (true) {
    if (const auto windows = FindWindows(title); !windows.empty()) return windows.front();
    if (deadline.hasExpired()) return std::nullopt;
    QThread::msleep(10);
  }
}

bool XServer::WaitForNoWindow(std::string_view title, std::chrono::milliseconds timeout) const {
  const QDeadlineTimer deadline(timeout);
  while (!FindWindows(title).empty()) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(10);
  }
  return true;
}

QRect XServer::WindowGeometry(XWindow window) const {
  XWindowAttributes attributes;
  if (XGetWindowAttributes(connection_, window, &attributes) == 0) return {};
  int x = 0;
  int y = 0;
  Window child = 0;
  XTranslateCoordinates(connection_, window, DefaultRootWindow(connection_), 0, 0, &x, &y, &child);
  return {x, y, attributes.width, attributes.height};
}

void XServer::Click(XWindow window, int x, int y) const {
  QProcess xdotool;
  QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
  environment.insert(QStringLiteral("DISPLAY"), Q(display_));
  xdotool.setProcessEnvironment(environment);
  xdotool.start(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QStringLiteral("--window"), QString::number(window),
                 QString::number(x), QString::number(y), QStringLiteral("click"), QStringLiteral("1")});
  if (!xdotool.waitForFinished(10000) || xdotool.exitStatus() != QProcess::NormalExit ||
      xdotool.exitCode() != 0) {
    throw std::runtime_error("xdotool failed: " + xdotool.readAllStandardError().toStdString());
  }
  XSync(connection_, False);
}

void XServer::RequestClose(XWindow window) const { RequestWindowClose(connection_, window); }

}  // namespace corvald::test
