#pragma once

// A Jet 3 or Jet 4 database file, read through libmdb and never written: its
// password checked as Jet checks it, its tables, and the rows of one table.

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

// Opens a Jet database (a program path) read-only. A password stored in the
// file must equal `password` (ANSI bytes): 3031 otherwise; a file without one
// opens whatever is given. Fails with 3170 for an Access format that is not
// read here and with 3049 for a file that libmdb cannot open or whose list of
// tables cannot be read whole.
std::shared_ptr<File> Open(std::string_view fileName, std::string_view password);

// The name of the file's table called `name` (UTF-8), found without regard to
// case, or nothing.
std::optional<std::string> TableName(const File& file, std::string_view name);

// The rows of that table, in the order they are stored until an index is set.
// Indexes on one Long Integer field, ascending, are read; rows of equal key
// keep their stored order. Fields of type Long Integer, OLE Object and Memo
// are read; writes fail with 3027. A row count other than the table's own, a
// map of used pages libmdb cannot follow, a page or long value beyond the file
// or a long value shorter or longer than its header says fail with 3049.
std::unique_ptr<detail::RowSource> OpenRows(std::shared_ptr<File> file, const std::string& table);

}  // namespace corvald::engine::jet
