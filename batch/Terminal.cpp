// The user interface of corvald-batch: what corvald shows in its windows, as
// terminal output, and the main window's load without a window.
#include "batch/Terminal.h"

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvald.h"
#include "batch/Progress.h"
#include "platform/AnsiCodePage.h"
#include "platform/UserInterface.h"
#include "ui/MapListing.h"

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

// The UTF-8 form of a message, with its CR LF line breaks as plain ones.
std::string MessageText(std::string_view ansi) {
  std::string text = AnsiToUtf8(ansi);
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
  }
  return text;
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

const std::vector<std::string>& MainViewFileList() {
  static const std::vector<std::string> kNone;
  const MainView& view = View();
  return view.open && !view.closing ? view.fileList : kNone;
}

}  // namespace

void InstallTerminal(bool quiet) {
  SetUpProgress(quiet);
  SetUserInterface({
      .showStatus = [](std::string_view text) { ShowProgress(AnsiToUtf8(text)); },
      .closeStatus = ClearProgress,
      .showMessage = ShowMessage,
      // No window events wait: nothing to let run.
      .yield = [] {},
      .showMain = OpenMainView,
      .closeMain = CloseMainView,
      .fileList = MainViewFileList,
  });
}

void HoldLastMessage() { Held().holding = true; }

void ReleaseHeldMessage(bool asResult) {
  HeldMessages& held = Held();
  held.holding = false;
  if (!held.last) return;
  if (asResult) {
    ClearProgress();
    std::printf("%s\n", held.last->c_str());
    std::fflush(stdout);
  } else {
    PrintToError(*held.last);
  }
  held.last.reset();
}

}  // namespace corvald::batch
