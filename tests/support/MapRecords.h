#pragma once

// Map records as the server stores them and the texts the program shows about
// them, shared by the tests of loading, listing, dumping and converting.

#include <cstdint>
#include <string>
#include <string_view>

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

// The start of the report of a failure that nothing handles on the way.
inline std::string GenericReport(int number) { return "Unexpected error #" + std::to_string(number) + ": "; }

// The start of the report of a map that the dump could not write.
inline constexpr char kDumpReport[] =
    "Report the following error code and description to the program administrator!\r\n\r\nMap #";

inline constexpr char kNoDatabase[] =
    "File: 'server.dat' not found! This file is required in order to extract the maps list from the "
    "database...";

}  // namespace corvald::test
