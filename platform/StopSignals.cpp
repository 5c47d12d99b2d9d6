// Stop signals turned into event-loop work through a pipe.
#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>

namespace corvald {

namespace {

int signalPipe[2] = {-1, -1};

void NoteSignal(int /*signal*/) {
  const char byte = 1;
  // The pipe is non-blocking: when it is full, the loop has wakes enough.
  if (write(signalPipe[1], &byte, 1) < 0) {
  }
}

}  // namespace

void OnStopSignals(std::function<void()> onStop) {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [onStop = std::move(onStop)] {
    char bytes[64];
    while (read(signalPipe[0], bytes, sizeof bytes) > 0) {
    }
    onStop();
  });
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace corvald
