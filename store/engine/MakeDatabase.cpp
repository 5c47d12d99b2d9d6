// Creating and filling a new server database, with every result of the database
// library checked.

#include "store/engine/MakeDatabase.h"

#include <cstring>
#include <new>

#include "platform/FileErrors.h"
#include "platform/FileReplacement.h"
#include "store/engine/Sqlite.h"
#include "store/modConst.h"

namespace corvald::engine {

namespace {

// Runs every statement of `script`.
void ExecuteScript(const detail::Connection& database, const char* script) {
  const int rc = sqlite3_exec(database.Handle(), script, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) database.Raise(rc);
}

// Keys the new, empty file and writes the schema and the rows; raises the
// failure of the first step that the database library refuses.
void KeyAndFill(const std::filesystem::path& file, const std::vector<MapsRow>& rows) {
  sqlite3* handle = nullptr;
  const int opened = sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READWRITE, nullptr);
  if (handle == nullptr) throw std::bad_alloc();
  const detail::Connection database(handle, file.string(), file);
  if (opened != SQLITE_OK) database.Raise(opened);
  const int keyed = sqlite3_key(handle, kServerPassword, static_cast<int>(std::strlen(kServerPassword)));
  if (keyed != SQLITE_OK) database.Raise(keyed);

  database.Execute("BEGIN");
  ExecuteScript(database, kMapsSchema);
  const std::string insert = std::string("INSERT INTO ") + kMapsTable + " (" + kNumberField + ", " +
                             kDataField + ") VALUES (?1, ?2)";
  detail::Statement statement(database, insert);
  for (const MapsRow& row : rows) {
    statement.BindInt64(1, row.number);
    statement.BindBlob(2, row.blob);
    statement.Run();
  }
  database.Execute("COMMIT");
}

}  // namespace

void MakeServerDatabase(const std::filesystem::path& file, const std::vector<MapsRow>& rows) {
  // Created empty first, so that a file of that name which exists already is
  // found before anything is written.
  if (const int error = CreateNewFile(file, 0666); error != 0) RaiseFileError(error, file);
  try {
    KeyAndFill(file, rows);
  } catch (...) {
    // A write that failed can leave the rollback journal behind too.
    std::error_code ignored;
    std::filesystem::remove(file, ignored);
    std::filesystem::remove(file.native() + "-journal", ignored);
    throw;
  }
}

}  // namespace corvald::engine
