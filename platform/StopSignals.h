#pragma once

// The stop signals of a program with an event loop.

#include <functional>

namespace corvald {

// From now on SIGINT, SIGTERM and SIGHUP no longer end the program at once:
// each runs `onStop` from the event loop, the next time it runs.
void OnStopSignals(std::function<void()> onStop);

}  // namespace corvald
