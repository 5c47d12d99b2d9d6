#pragma once

// The program's lifetime: start-up, the one routine that ends the program, and
// the file probes that the store and the commands use.

#include <filesystem>
#include <string_view>

namespace corvald {

// Start-up in `folder`: makes it the current directory, creates "Maps" there,
// checks the codec library, opens the server database and shows the main view.
// Returns true when the main view is open; false when start-up has stopped
// (after its message and ShutDown). Other failures go to the caller.
bool StartUp(const std::filesystem::path& folder);

// Start-up in the folder that holds the program file. Returns true when the
// main window is open and the program should run its event loop; false when
// start-up has stopped (after its message and ShutDown).
bool Main();

// The one routine that ends the program: closes and releases the database
// objects, then unloads both windows. Never fails; safe to run twice and
// inside itself.
void ShutDown();

// Whether the listing of the path yields an ordinary file (not a directory, not
// hidden). Wildcards in the last part of the path match by pattern.
bool FileExists(std::string_view path);

// Like FileExists, but directories count too.
bool DirExists(std::string_view path);

}  // namespace corvald
