#pragma once

namespace corvald {

// The server database: file, password and table. There is no configuration.
inline constexpr const char* kServerFile = "server.dat";
inline constexpr const char* kCompactFile = "server.tmp";
inline constexpr const char* kServerConnect = ";pwd=brevola";
inline constexpr const char* kMapsTable = "Maps";
inline constexpr const char* kNumberIndex = "Number";

inline constexpr int kTableRecordset = 1;

}  // namespace corvald
