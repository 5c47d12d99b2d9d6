#pragma once

// What the main window's hidden file list holds: the ordinary files of one
// folder, in the list's alphabetical order.

#include <string>
#include <string_view>
#include <vector>

namespace corvald {

// The names (ANSI byte strings without the folder) of the ordinary files in a
// program folder; folders and hidden files are left out. They come in
// alphabetical order ignoring letter case: A to Z count as a to z, and names
// that differ only in case follow their bytes, so the order never depends on
// the system. Fails as opening the folder fails: 76 (path not found) when the
// name is a plain file, 53 when nothing has that name, 70 when the folder may
// not be read.
std::vector<std::string> FileListOf(std::string_view folder);

}  // namespace corvald
