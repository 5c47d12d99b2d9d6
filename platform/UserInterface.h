#pragma once

// What the program shows its user and when it lets the user act: the status
// text, messages, the main window and the yield. The program that runs the
// commands fills these in, corvald with its windows and corvald-batch with its
// terminal, so that start-up, the database steps and both commands exist once.

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvald {

enum class MsgIcon { kNone, kCritical };

struct UserInterface {
  // Shows the progress text at once; the caller goes on without yielding.
  // With `paced`, a text that comes within a screen frame of the last one
  // shown may wait instead: for the next text, for the yield once the frame
  // has passed, or for showWaiting.
  std::function<void(std::string_view text, bool paced)> showStatus;
  // How long the paced text that waits may still wait before it is shown,
  // nothing when none waits; and showing it at once.
  std::function<std::optional<std::chrono::nanoseconds>()> waitingLeft;
  std::function<void()> showWaiting;
  // Takes the progress text away; nothing happens when none shows.
  std::function<void()> closeStatus;
  // Tells the user something (an ANSI byte string) and returns once confirmed.
  std::function<void(std::string_view text, MsgIcon icon)> showMessage;
  // Lets the user act on what is shown, then returns.
  std::function<void()> yield;
  // Opens the main view of the loaded maps; failures go to the caller.
  std::function<void()> showMain;
  // Closes the main view, which ends the program through ShutDown; nothing
  // happens when it is not open or already closing.
  std::function<void()> closeMain;
  // The map folder's file names as the main view found them when it opened
  // (ANSI names); empty when it is not open. The reference holds until it closes.
  std::function<const std::vector<std::string>&()> fileList;
};

// Makes `ui` the one that the functions below reach. Every member must be set.
void SetUserInterface(UserInterface ui);

// Shows the status text (an ANSI byte string).
void SetStatus(std::string_view text);
// Shows the progress text of a command that goes through many maps: a text
// that comes within a screen frame (16 ms) of the last one drawn, which no
// screen could show, waits; the next text replaces it, and the next yield
// draws it once the frame has passed.
void SetProgress(std::string_view text);
// How long a progress text that waits may wait still, until its frame has
// passed; nothing when none waits. The program waits no longer than that
// without drawing it.
std::optional<std::chrono::nanoseconds> ProgressWaitingLeft();
// Draws at once a progress text that still waits, before the program waits
// long (for the disk) or works long without a new text.
void ShowWaitingProgress();
// Closes the status display; nothing happens when it is not showing.
void UnloadLoading();
// Shows a message captioned "Corvald" with an OK button only and returns once
// the user has confirmed it. The text is an ANSI byte string.
void MsgBox(std::string_view text, MsgIcon icon = MsgIcon::kNone);
// Lets pending user input and close requests run, then returns; a progress
// text that has waited a frame is drawn first.
void DoEvents();
void ShowMain();
void UnloadMain();
const std::vector<std::string>& FileListEntries();

// Seam for tests: while a handler is set, MsgBox hands it the message instead of
// showing it. An empty function restores the user interface's own messages.
using MessageBoxHandler = std::function<void(const std::string& text, MsgIcon icon)>;
void SetMessageBoxHandler(MessageBoxHandler handler);

// Seam for tests: while a listener is set, SetStatus and SetProgress hand it
// every text before showing it. SetProgress's texts may come faster than a
// screen shows them, so the listener is where every text is seen.
using StatusListener = std::function<void(std::string_view text)>;
void SetStatusListener(StatusListener listener);

}  // namespace corvald
