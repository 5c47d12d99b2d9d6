#pragma once

// The program's constants: the server database's file, password, table, fields and
// index, and the limits of the map table. There is no configuration; tools,
// benchmarks and tests take these names from here too.

#include <algorithm>
#include <array>
#include <string_view>

namespace corvald {

inline constexpr const char* kServerFile = "server.dat";
inline constexpr const char* kCompactFile = "server.tmp";
inline constexpr char kServerPassword[] = "brevola";
// The connect string that gives the engine the password: ";pwd=" and the password.
inline constexpr auto kServerConnectText = [] {
  constexpr std::string_view kKey = ";pwd=";
  std::array<char, kKey.size() + sizeof kServerPassword> text{};
  std::ranges::copy(kKey, text.begin());
  std::ranges::copy(std::string_view(kServerPassword), text.begin() + kKey.size());
  return text;
}();
inline constexpr const char* kServerConnect = kServerConnectText.data();
inline constexpr const char* kMapsTable = "Maps";
inline constexpr const char* kNumberField = "Number";
inline constexpr const char* kDataField = "Data";
inline constexpr const char* kNumberIndex = "Number";
// The table as the server keeps it; the program itself never creates or alters it.
inline constexpr const char* kMapsSchema =
    "CREATE TABLE Maps (Number INTEGER, Data BLOB);\n"
    "CREATE INDEX Number ON Maps (Number);\n";

inline constexpr const char* kMapsFolder = "Maps";

inline constexpr int kTableRecordset = 1;

// Map numbers 1 to MAX_MAPS have a slot; a name is the first MAP_NAME_LEN
// characters of a map record.
inline constexpr int MAX_MAPS = 3000;
inline constexpr int MAP_NAME_LEN = 30;

}  // namespace corvald
