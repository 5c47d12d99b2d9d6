#pragma once

// Databases made and read by the sqlcipher shell, so that the engine layer is
// checked against a program nobody here wrote. Paths are native paths (relative
// to the current directory or absolute).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/modConst.h"

namespace corvald::test {

using corvald::kMapsSchema;
using corvald::kServerPassword;

// Runs the sqlcipher shell on `file`, keyed with `key` (no key when empty), with
// `sql` on its standard input; returns what it printed. Throws with the shell's
// output when it reports an error.
std::string RunSqlcipherShell(const std::string& file, std::string_view key, std::string_view sql);

// X'...' for these bytes.
std::string BlobLiteral(std::string_view bytes);

// One row of "Maps"; no number stands for Null.
struct MapRow {
  std::optional<std::int64_t> number;
  std::string data;
  friend bool operator==(const MapRow&, const MapRow&) = default;
};

// Makes a database keyed with `key` holding `schema` (kMapsSchema by default) and
// these rows of "Maps", in this order, through the shell.
void MakeMapsDatabase(const std::string& file, std::string_view key, const std::vector<MapRow>& rows,
                      std::string_view schema = kMapsSchema);

// The rows of "Maps" as the shell reads them, in the order they were added.
std::vector<MapRow> ReadMapsWithShell(const std::string& file, std::string_view key);

}  // namespace corvald::test
