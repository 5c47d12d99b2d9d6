#pragma once

// Map records as the server stores them and the texts the program shows about
// them, shared by the tests of loading, listing, dumping and converting.

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codec/modCompress.h"
#include "store/modConst.h"
#include "tests/support/DatabaseFixture.h"

namespace corvald::test {

// A map record whose first 30 characters are `name` padded with blanks, then `rest`.
inline std::string NamedRecord(std::string name, std::string_view rest = "tiles") {
  name.resize(MAP_NAME_LEN, ' ');
  return name + std::string(rest);
}

// A row of "Maps" holding such a record, compressed as the server stores it.
inline MapRow NamedRow(std::int64_t number, const std::string& name) {
  return {number, CompressData(NamedRecord(name))};
}

// Rows of "Maps" holding these records by number, compressed as the server stores them.
inline std::vector<MapRow> CompressedRows(const std::vector<std::pair<std::int64_t, std::string>>& records) {
  std::vector<MapRow> rows;
  for (const auto& [number, record] : records) rows.push_back({number, CompressData(record)});
  return rows;
}

// Lays out the current folder as the program finds it: a "server.dat" that the
// shell made with these rows, and a "Maps" folder holding these files by name.
inline void LayOutProgramFolder(const std::vector<MapRow>& rows,
                                const std::map<std::string, std::string>& mapFiles = {}) {
  MakeMapsDatabase("server.dat", kServerPassword, rows);
  std::filesystem::create_directory("Maps");
  for (const auto& [name, bytes] : mapFiles) std::ofstream("Maps/" + name, std::ios::binary) << bytes;
}

// The start of the report of a failure that nothing handles on the way.
inline std::string GenericReport(int number) { return "Unexpected error #" + std::to_string(number) + ": "; }

// Whether a box said `expected`: the text itself, or, for a generic report, its
// start followed by a description.
inline testing::AssertionResult IsReport(const std::string& text, const std::string& expected) {
  const bool generic = expected.starts_with("Unexpected");
  if (text.starts_with(expected) && (!generic || text.size() > expected.size())) {
    return testing::AssertionSuccess();
  }
  return testing::AssertionFailure() << "the box said \"" << text << "\"";
}

// The start of the report of a map that the dump could not write.
inline constexpr char kDumpReport[] =
    "Report the following error code and description to the program administrator!\r\n\r\nMap #";

inline constexpr char kNoDatabase[] =
    "File: 'server.dat' not found! This file is required in order to extract the maps list from the "
    "database...";

}  // namespace corvald::test
