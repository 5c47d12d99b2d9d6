// Progress on standard error, rewritten in place on a terminal.
#include "batch/Progress.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace corvald::batch {

namespace {

enum class Form { kQuiet, kLine, kPlain };

struct State {
  Form form = Form::kPlain;
  bool lineShowing = false;
  std::size_t total = 0;
  std::size_t done = 0;
  std::chrono::steady_clock::time_point start;
};

State& Current() {
  static State state;
  return state;
}

// " 12/300, 85 maps/s" for a counted step; empty before counting starts.
std::string CountText(const State& state) {
  if (state.total == 0) return {};
  std::string text = "  " + std::to_string(state.done) + "/" + std::to_string(state.total);
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - state.start;
  if (elapsed.count() > 0) {
    text += ", " + std::to_string(static_cast<long long>(static_cast<double>(state.done) / elapsed.count())) +
            " maps/s";
  }
  return text;
}

}  // namespace

void SetUpProgress(bool quiet) {
  Current().form = quiet ? Form::kQuiet : isatty(STDERR_FILENO) ? Form::kLine : Form::kPlain;
}

void CountMapsOf(std::size_t total) {
  State& state = Current();
  state.total = total;
  state.done = 0;
  state.start = std::chrono::steady_clock::now();
}

void ShowProgress(std::string_view text) {
  State& state = Current();
  if (state.total != 0) ++state.done;
  switch (state.form) {
    case Form::kQuiet:
      return;
    case Form::kPlain:
      std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
      return;
    case Form::kLine: {
      const std::string count = CountText(state);
      std::fprintf(stderr, "\r\033[K%.*s%s", static_cast<int>(text.size()), text.data(), count.c_str());
      std::fflush(stderr);
      state.lineShowing = true;
      return;
    }
  }
}

void ClearProgress() {
  State& state = Current();
  if (!state.lineShowing) return;
  std::fputs("\r\033[K", stderr);
  std::fflush(stderr);
  state.lineShowing = false;
}

}  // namespace corvald::batch
