#pragma once

// A Jet 3 or Jet 4 database file, read through libmdb: its password checked as
// Jet checks it, its tables, and the rows of one table. A Jet 4 file whose
// table "Maps" the writer knows is written by rewriting it whole.

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "store/engine/RowSource.h"
#include "store/jet/JetHeader.h"

namespace corvald::engine::jet {

class File;

// The Access format of a file (a program path) by its first bytes; kOther also
// for a file that cannot be read.
Format FormatOfFile(std::string_view fileName);

// Opens a Jet database (a program path). A password stored in the file must
// equal `password` (ANSI bytes): 3031 otherwise; a file without one opens
// whatever is given. Fails with 3170 for an Access format that is not read
// here and with 3049 for a file that libmdb cannot open or whose list of
// tables cannot be read whole. Opened for writing, it fails with 3260 where
// another program holds a lock in the file's lock file, and its table "Maps"
// is checked for the writer.
std::shared_ptr<File> Open(std::string_view fileName, std::string_view password, bool readOnly);

// Why the writer leaves the file alone (completing "this program does not
// write it:"), or nothing when it writes it.
std::optional<std::string> WhyNotWritten(File& file);

// Rewrites the file with Maps compacted (its rows, in index order, and
// nothing else); false where this process may not give the new file the
// file's owner, with nothing done. The file must be written.
bool Compact(File& file);

// Commits the writes made to Maps since the last commit: the file rewritten
// whole replaces the old one. Nothing happens when nothing was written.
void FinishWriting(File& file);

// The name of the file's table called `name` (UTF-8), found without regard to
// case, or nothing.
std::optional<std::string> TableName(const File& file, std::string_view name);

// The rows of that table, in the order they are stored until an index is set.
// Indexes on one Long Integer field, ascending, are read; rows of equal key
// keep their stored order. Fields of type Long Integer, OLE Object and Memo
// are read. Rows of Maps are added and their Data changed when the file is
// written (a row so written reads only its Number until the commit); writes
// fail with 3027 for any other table. A row count other than the table's own, a
// map of used pages libmdb cannot follow, a page or long value beyond the file
// or a long value shorter or longer than its header says fail with 3049.
std::unique_ptr<detail::RowSource> OpenRows(std::shared_ptr<File> file, const std::string& table);

}  // namespace corvald::engine::jet
