#pragma once

// Making a new server database from given rows, for the tools and benchmarks
// that need one; the program itself only ever opens an existing one.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace corvald::engine {

// One row of the maps table: a map number and the blob stored under it.
struct MapsRow {
  std::int64_t number;
  std::string blob;
};

// Creates `file` (a native path) as a database keyed with the server's password,
// holding the maps table and its index, with `rows` added in this order in one
// transaction. An existing file is never touched: it fails with 58. Any other
// failure, of the file system or of the database library at any step, is raised
// as its failure after the new file and its journal have been removed again.
void MakeServerDatabase(const std::filesystem::path& file, const std::vector<MapsRow>& rows);

}  // namespace corvald::engine
