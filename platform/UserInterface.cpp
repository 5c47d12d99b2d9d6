// The user interface that the running program has filled in, and the calls that reach it.
#include "platform/UserInterface.h"

#include <cassert>

namespace corvald {

namespace {

UserInterface& Current() {
  static UserInterface ui;
  return ui;
}

MessageBoxHandler& Handler() {
  static MessageBoxHandler handler;
  return handler;
}

StatusListener& Listener() {
  static StatusListener listener;
  return listener;
}

}  // namespace

void SetUserInterface(UserInterface ui) {
  assert(ui.showStatus && ui.waitingLeft && ui.showWaiting && ui.closeStatus && ui.showMessage && ui.yield &&
         ui.showMain && ui.closeMain && ui.fileList);
  Current() = std::move(ui);
}

void SetStatus(std::string_view text) {
  if (Listener()) Listener()(text);
  Current().showStatus(text, false);
}

void SetProgress(std::string_view text) {
  if (Listener()) Listener()(text);
  Current().showStatus(text, true);
}

std::optional<std::chrono::nanoseconds> ProgressWaitingLeft() { return Current().waitingLeft(); }

void ShowWaitingProgress() { Current().showWaiting(); }

void UnloadLoading() { Current().closeStatus(); }

void MsgBox(std::string_view text, MsgIcon icon) {
  if (Handler()) {
    Handler()(std::string(text), icon);
    return;
  }
  Current().showMessage(text, icon);
}

void DoEvents() { Current().yield(); }

void ShowMain() { Current().showMain(); }

void UnloadMain() { Current().closeMain(); }

const std::vector<std::string>& FileListEntries() { return Current().fileList(); }

void SetMessageBoxHandler(MessageBoxHandler handler) { Handler() = std::move(handler); }

void SetStatusListener(StatusListener listener) { Listener() = std::move(listener); }

}  // namespace corvald
