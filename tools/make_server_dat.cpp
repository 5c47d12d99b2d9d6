// make_server_dat <out-file> [--empty]
//
// Makes a new server database: the table "Maps" (Number INTEGER, Data BLOB)
// with the non-unique index "Number", keyed with the server's password. Without
// --empty it holds a few dozen sample maps, each stored as its compressed blob.
// An existing file is never overwritten.

#include <filesystem>
#include <iostream>
#include <string_view>

#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "store/engine/Sqlite.h"
#include "tools/SampleMaps.h"

namespace {

using corvald::engine::detail::Affinity;
using corvald::engine::detail::Connection;
using corvald::engine::detail::Statement;

constexpr std::string_view kPassword = "brevola";

void FillDatabase(const Connection& database, bool empty) {
  database.Execute("BEGIN");
  database.Execute("CREATE TABLE Maps (Number INTEGER, Data BLOB)");
  database.Execute("CREATE INDEX Number ON Maps (Number)");
  if (!empty) {
    Statement insert(database, "INSERT INTO Maps (Number, Data) VALUES (?1, ?2)");
    for (const corvald::tools::SampleMap& map : corvald::tools::SampleMaps()) {
      insert.BindInt64(1, map.number);
      insert.BindField(2, corvald::CompressData(map.record), Affinity::kBlob);
      insert.Run();
    }
  }
  database.Execute("COMMIT");
}

void MakeServerDatabase(const std::filesystem::path& file, bool empty) {
  sqlite3* handle = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (handle == nullptr) throw std::bad_alloc();
  const Connection database(handle, file.string());
  if (rc != SQLITE_OK) database.Raise(rc);
  const int keyed = sqlite3_key(handle, kPassword.data(), static_cast<int>(kPassword.size()));
  if (keyed != SQLITE_OK) database.Raise(keyed);
  FillDatabase(database, empty);
}

}  // namespace

int main(int argc, char** argv) {
  const bool empty = argc == 3 && std::string_view(argv[2]) == "--empty";
  if (argc != 2 && !empty) {
    std::cerr << "usage: make_server_dat <out-file> [--empty]\n";
    return 2;
  }
  const std::filesystem::path file(argv[1]);
  std::error_code error;
  if (std::filesystem::exists(std::filesystem::symlink_status(file, error))) {
    std::cerr << "make_server_dat: " << file.string() << " already exists; not overwritten\n";
    return 1;
  }
  try {
    MakeServerDatabase(file, empty);
  } catch (const corvald::Failure& failure) {
    std::filesystem::remove(file, error);
    std::cerr << "make_server_dat: " << failure.Description() << " (" << failure.Number() << ")\n";
    return 1;
  }
  return 0;
}
