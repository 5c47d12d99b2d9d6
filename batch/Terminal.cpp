// The user interface of corvald-batch: what corvald shows in its windows, as
// terminal output, and the main window's load without a window.
#include "batch/Terminal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvald.h"
#include "batch/Progress.h"
#include "platform/AnsiCodePage.h"
#include "platform/UserInterface.h"
#include "ui/commands/MapListing.h"

namespace corvald::batch {

namespace {

// The main view without a window: open once start-up has loaded it, closing
// while ShutDown runs from its close.
struct MainView {
  bool open = false;
  bool closing = false;
  std::vector<std::string> fileList;
};

MainView& View() {
  static MainView view;
  return view;
}

// Messages held back while a command whose last message is its result runs.
struct HeldMessages {
  bool holding = false;
  std::optional<std::string> last;
};

HeldMessages& Held() {
  static HeldMessages held;
  return held;
}

// The terminal form of a message, with its CR LF line breaks as plain ones.
std::string MessageText(std::string_view ansi) {
  std::string text;
  for (;;) {
    const std::size_t end = ansi.find("\r\n");
    text += TerminalText(ansi.substr(0, end));
    if (end == std::string_view::npos) return text;
    text += '\n';
    ansi.remove_prefix(end + 2);
  }
}

void PrintToError(const std::string& text) {
  ClearProgress();
  std::fprintf(stderr, "corvald-batch: %s\n", text.c_str());
  std::fflush(stderr);
}

void ShowMessage(std::string_view ansi, MsgIcon /*icon*/) {
  std::string text = MessageText(ansi);
  HeldMessages& held = Held();
  if (!held.holding) {
    PrintToError(text);
    return;
  }
  if (held.last) PrintToError(*held.last);
  held.last = std::move(text);
}

// What the main window's load does: the row count into MapCount, "Maps"
// created when nothing of that name exists, and its file list. Fails as the
// load fails (76 when "Maps" is a plain file), and the view stays closed.
void OpenMainView() {
  MainView& view = View();
  if (view.open) return;
  ReadMapCount();
  view.fileList = MapFolderFiles();
  view.open = true;
}

// Closing the main view ends the program through ShutDown, as closing the main
// window does; ShutDown's own call to close it again finds it closing.
void CloseMainView() {
  MainView& view = View();
  if (!view.open || view.closing) return;
  view.closing = true;
  ShutDown();
  view.fileList.clear();
  view.open = false;
  view.closing = false;
}

volatile std::sig_atomic_t stopSignal = 0;

// Lets pending user input run: a stop signal caught meanwhile closes the main view.
void Yield() {
  if (stopSignal != 0) CloseMainView();
}

const std::vector<std::string>& MainViewFileList() {
  static const std::vector<std::string> kNone;
  const MainView& view = View();
  return view.open && !view.closing ? view.fileList : kNone;
}

}  // namespace

std::string TerminalText(std::string_view ansi) {
  std::string shown;
  for (const char c : ansi) {
    const char16_t character = AnsiToUnicode(static_cast<unsigned char>(c));
    if (character < 0x20 || (character >= 0x7F && character < 0xA0)) {
      static constexpr char kHex[] = "0123456789ABCDEF";
      const auto byte = static_cast<unsigned char>(c);
      shown += {'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
    } else if (c == '\\') {
      shown += "\\\\";
    } else {
      shown += c;
    }
  }
  return AnsiToUtf8(shown);
}

bool PrintOutput(std::string_view utf8) {
  if (std::fwrite(utf8.data(), 1, utf8.size(), stdout) == utf8.size() && std::fflush(stdout) == 0)
    return true;
  const int error = errno;
  PrintToError(std::string("cannot write to standard output: ") + std::strerror(error));
  return false;
}

void InstallTerminal(bool quiet) {
  SetUpProgress(quiet);
  SetUserInterface({
      .showStatus = [](std::string_view text, bool /*paced*/) { ShowProgress(TerminalText(text)); },
      // Every text is shown as it comes.
      .waitingLeft = [] { return std::optional<std::chrono::nanoseconds>(); },
      .showWaiting = [] {},
      .closeStatus = ClearProgress,
      .showMessage = ShowMessage,
      .yield = Yield,
      .showMain = OpenMainView,
      .closeMain = CloseMainView,
      .fileList = MainViewFileList,
  });
}

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = [](int signal) { stopSignal = signal; };
  sigemptyset(&action.sa_mask);
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

int CaughtStopSignal() { return stopSignal; }

void HoldLastMessage() { Held().holding = true; }

bool ReleaseHeldMessage(bool asResult) {
  HeldMessages& held = Held();
  held.holding = false;
  if (!held.last) return true;
  const std::string text = std::move(*held.last);
  held.last.reset();
  if (!asResult) {
    PrintToError(text);
    return true;
  }
  ClearProgress();
  return PrintOutput(text + "\n");
}

}  // namespace corvald::batch
