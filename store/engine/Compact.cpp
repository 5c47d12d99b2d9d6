#include <cstdio>
#include <filesystem>

#include "platform/AnsiCodePage.h"
#include "platform/Files.h"
#include "store/Engine.h"
#include "store/EngineErrors.h"
#include "store/engine/Open.h"

namespace corvald::engine {

namespace {

// Creates the destination as an empty file, failing if anything of that name
// exists: SQLite takes an empty file for an empty database.
void CreateEmptyFile(const std::filesystem::path& native, std::string_view name) {
  std::FILE* file = std::fopen(native.c_str(), "wbx");
  if (file == nullptr) {
    std::error_code error;
    if (std::filesystem::exists(std::filesystem::symlink_status(native, error))) {
      RaiseEngine(err::kDatabaseExists, name);
    }
    RaiseEngine(err::kCannotOpen, name);
  }
  std::fclose(file);
}

void CopyInto(const detail::Connection& source, const std::string& destinationUtf8,
              const std::string& keyUtf8) {
  detail::Statement attach(source, "ATTACH DATABASE ?1 AS compacted KEY ?2");
  attach.BindText(1, destinationUtf8);
  attach.BindText(2, keyUtf8);
  attach.Run();
  try {
    source.Execute("SELECT sqlcipher_export('compacted')");
    // sqlcipher_export leaves the user version behind.
    detail::Statement version(source, "PRAGMA main.user_version");
    std::int64_t userVersion = 0;
    version.ForEachRow([&userVersion](detail::Statement& row) { userVersion = row.ColumnInt64(0); });
    source.Execute("PRAGMA compacted.user_version = " + std::to_string(userVersion));
  } catch (...) {
    sqlite3_exec(source.Handle(), "DETACH DATABASE compacted", nullptr, nullptr, nullptr);
    throw;
  }
  source.Execute("DETACH DATABASE compacted");
}

}  // namespace

void DBEngine::CompactDatabase(std::string_view source, std::string_view destination,
                               std::string_view /*destinationLocale: the copy keeps the source's password*/,
                               std::int16_t options, std::string_view sourceLocale) {
  if (options != 0) RaiseEngine(err::kInvalidArgument, "compaction options " + std::to_string(options));
  const std::filesystem::path nativeDestination = NativePath(destination);

  const std::string password = detail::PasswordFromConnect(sourceLocale);
  // Read-write, because the attached copy shares the source connection's access.
  const auto connection = detail::OpenKeyed(source, password, false);
  CreateEmptyFile(nativeDestination, destination);
  try {
    CopyInto(*connection, nativeDestination.string(), AnsiToUtf8(password));
  } catch (...) {
    std::error_code ignored;
    std::filesystem::remove(nativeDestination, ignored);
    throw;
  }
}

}  // namespace corvald::engine
