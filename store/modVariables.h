#pragma once

// Shared variables of the program's whole run.

#include <cstdint>

namespace corvald {

// The row count of the table "Maps", as the main window last read and showed it.
extern std::int32_t MapCount;

}  // namespace corvald
