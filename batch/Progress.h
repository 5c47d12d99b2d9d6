#pragma once

// The status text on standard error: on a terminal one line that rewrites
// itself, with the count done, the total and the rate; elsewhere one plain line
// per text; nothing at all when quiet.

#include <cstddef>
#include <string_view>

namespace corvald::batch {

// Chooses the form once: quiet, or by whether standard error is a terminal.
void SetUpProgress(bool quiet);

// From now on every status text stands for one of `total` maps done.
void CountMapsOf(std::size_t total);

// Shows a status text (UTF-8).
void ShowProgress(std::string_view text);

// Takes the rewriting line away, so that other output starts on a clean line;
// nothing happens when none shows.
void ClearProgress();

}  // namespace corvald::batch
