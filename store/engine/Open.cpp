// Opening an encrypted database file with its password, telling a wrong
// password from a file that is no database.
#include "store/engine/Open.h"

#include <filesystem>
#include <fstream>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "platform/FileReplacement.h"
#include "platform/Files.h"
#include "store/engine/DerivedKey.h"

namespace corvald::engine::detail {

namespace {

constexpr std::uintmax_t kSmallestPageSize = 1024;

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return text;
}

bool HasPlainHeader(const std::filesystem::path& native) {
  static constexpr std::string_view kPlainHeader("SQLite format 3\0", 16);
  std::ifstream in(native, std::ios::binary);
  std::string start(kPlainHeader.size(), '\0');
  in.read(start.data(), static_cast<std::streamsize>(start.size()));
  return in && start == kPlainHeader;
}

bool CouldBeEncryptedDatabase(const std::filesystem::path& native, std::uintmax_t size) {
  return size % kSmallestPageSize == 0 && !HasPlainHeader(native);
}

}  // namespace

std::string PasswordFromConnect(std::string_view connect) {
  while (!connect.empty()) {
    const std::size_t end = std::min(connect.find(';'), connect.size());
    const std::string_view part = connect.substr(0, end);
    connect.remove_prefix(std::min(end + 1, connect.size()));
    const std::size_t equals = part.find('=');
    if (equals != std::string_view::npos && SameName(Trimmed(part.substr(0, equals)), "pwd")) {
      return std::string(part.substr(equals + 1));
    }
  }
  return {};
}

std::shared_ptr<Connection> OpenKeyed(std::string_view fileName, std::string_view password, bool readOnly) {
  // Through a symbolic link, the database is the file it points to: its side
  // files and its compacted copy belong beside that file.
  const std::filesystem::path native = FileBehindLinks(NativePath(fileName));
  std::error_code error;
  const auto status = std::filesystem::status(native, error);
  if (!std::filesystem::exists(status)) Raise(err::kDatabaseNotFound, fileName);
  if (!std::filesystem::is_regular_file(status)) Raise(err::kCannotOpen, fileName);
  const std::uintmax_t size = std::filesystem::file_size(native, error);
  if (error) Raise(err::kCannotOpen, fileName);
  // SQLite would take a file shorter than a page for a new, empty database, and
  // a compaction would then write one over it; an encrypted database holds at
  // least one page.
  if (size < kSmallestPageSize) Raise(err::kNotADatabase, fileName);

  // Without SQLITE_OPEN_CREATE, so that a file that vanished is not made anew.
  sqlite3* handle = nullptr;
  const int rc = sqlite3_open_v2(native.c_str(), &handle,
                                 readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE, nullptr);
  if (handle == nullptr) throw std::bad_alloc();
  auto connection = std::make_shared<Connection>(handle, std::string(fileName), native);
  if (rc == SQLITE_CANTOPEN) Raise(err::kCannotOpen, fileName);
  if (rc != SQLITE_OK) connection->Raise(rc);

  sqlite3_busy_timeout(handle, 2000);
  if (!password.empty()) ApplyKey(*connection, AnsiToUtf8(password));

  // Rows are read and written in one pass, where a page cache of SQLite's
  // default 2 MiB holds nothing that is read again.
  sqlite3_exec(handle, "PRAGMA cache_size = -256", nullptr, nullptr, nullptr);
  // Setting a wrong key succeeds; the first read of the file tells.
  const int checked = sqlite3_exec(handle, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (checked == SQLITE_NOTADB) {
    Raise(CouldBeEncryptedDatabase(native, size) ? err::kWrongPassword : err::kNotADatabase, fileName);
  }
  if (checked != SQLITE_OK) connection->Raise(checked);
  return connection;
}

}  // namespace corvald::engine::detail
