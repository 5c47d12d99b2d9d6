#pragma once

// The main window's two commands: writing every loaded map into a map file of its
// own, and storing every map file of the "Maps" folder in the server database.

#include <cstdint>
#include <string>
#include <string_view>

namespace corvald {

// Dump: writes the record of every slot of MapList that holds a map into its map
// file, replacing the file whole, and closes the status window after the last
// slot. A file name that the file system rejects (52 or 76) is rebuilt without the
// characters that file names may not hold and written once more. Any other
// failure, a rejected rebuilt name, or a rejected name before the first or after
// the last slot is reported with the slot number in a message box, after which
// the program shuts down; the files written before it stay. Returns true when
// every map was written, false after such a report.
bool cmdButton1_Click();

// How many dumps have started in this run. The convert reads map files ahead of
// their turn, and a dump run while it yields may rewrite them.
int DumpsStarted();

// The dump's progress text for map n with its shown name.
std::string DumpStatusText(std::int32_t n, std::string_view name);

// Convert: stores every ".map4" file of the main window's file list (the list is
// read again before every entry) under the map number its name carries, in list
// order, and ends with the number of files converted. Shows a message and stores
// nothing when "server.dat" is missing, is a Jet database (which the program
// does not write) or the list holds no ".map4" name. After
// each file it lets pending window events run; when they shut the program down,
// it ends at once, without a message. Files are read and compressed ahead of
// their turn on every core; each is stored, and its failure reported, in its
// turn. Its texts are paced to the screen as the dump's are; a text that waits
// is drawn once its frame has passed, also while the program waits for the
// workers, and before it stores a large blob or waits for the disk. Failures
// are not handled here: they go to the caller, and the rows stored before
// stay. The closing count comes once every row is in the database file
// itself. Returns true when it ended with the number of files converted; false
// after an early message or a shutdown.
bool cmdButton2_Click();

// Whether the name ends in ".map4", in any letter case, as Windows compares file
// names: the entries of the file list that the convert command takes.
bool IsMapFileName(std::string_view name);

}  // namespace corvald
