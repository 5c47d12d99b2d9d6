// Connections and statements over SQLite, and SQLite's result codes turned
// into engine failures.
#include "store/engine/Sqlite.h"

#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "platform/FileReplacement.h"
#include "store/engine/DerivedKey.h"

namespace corvald::engine::detail {

Connection::Connection(sqlite3* handle, std::string fileName, std::filesystem::path nativeFile)
    : handle_(handle), fileName_(std::move(fileName)), nativeFile_(std::move(nativeFile)) {}

Connection::~Connection() {
  sqlite3_close_v2(handle_);
  if (holdsKey_) ReleaseKey();
}

void Connection::Execute(std::string_view sql) const {
  Statement statement(*this, sql);
  statement.Run();
}

std::string Connection::TextOf(std::string_view sql) const {
  Statement statement(*this, sql);
  std::string text;
  statement.ForEachRow([&text](Statement& row) { text = row.ColumnUtf8(0); });
  return text;
}

void Connection::PrepareForWriting() {
  if (preparedForWriting_) return;
  // Switching needs every other connection gone; while another program holds the
  // database (or where the file system has no shared memory) the mode stays.
  std::string mode;
  if (sqlite3_exec(handle_, "PRAGMA journal_mode = WAL", nullptr, nullptr, nullptr) == SQLITE_OK) {
    mode = TextOf("PRAGMA journal_mode");
  }
  // In the log, a commit survives a crash of the process unsynced, and
  // FinishWriting syncs them all at once. With a rollback journal, a commit is
  // the journal's deletion, which only EXTRA syncs.
  Execute(mode == "wal" ? "PRAGMA synchronous = NORMAL" : "PRAGMA synchronous = EXTRA");
  // SQLCipher overwrites every page it frees with zeros by default, so that
  // a blob replaced takes twice its pages in the log and in the cipher. The
  // pages are encrypted either way, and the next start-up's compaction leaves
  // no free page in the file.
  Execute("PRAGMA secure_delete = OFF");
  preparedForWriting_ = true;
}

void Connection::FinishWriting() {
  if (!preparedForWriting_) return;
  EndReads();
  if (TextOf("PRAGMA journal_mode") == "wal") {
    // The checkpoint that leaving the log makes, and the file's new header, are
    // synced in full, and so is the folder once the header's journal is gone:
    // else a power cut brings that journal back, and only a writer may open
    // the file.
    Execute("PRAGMA synchronous = EXTRA");
    try {
      LeaveWriteAheadLog();
    } catch (const Failure& failure) {
      if (failure.Number() != err::kLocked) throw;
      // Another program keeps the log; its commits are on disk once the log is.
      std::filesystem::path log = nativeFile_;
      log += "-wal";
      if (const int error = SyncToDisk(log); error != 0) {
        corvald::Raise(err::kEngineError, std::string(std::strerror(error)) + " (" + fileName_ + "-wal)");
      }
    }
  }
  preparedForWriting_ = false;
}

void Connection::LeaveWriteAheadLog() const {
  constexpr auto kBusyWait = std::chrono::seconds(2);
  constexpr auto kRetryPause = std::chrono::milliseconds(20);
  const auto deadline = std::chrono::steady_clock::now() + kBusyWait;
  for (;;) {
    try {
      if (TextOf("PRAGMA journal_mode = DELETE") == "delete") return;
    } catch (const Failure& failure) {
      if (failure.Number() != err::kLocked) throw;
    }
    if (std::chrono::steady_clock::now() >= deadline) corvald::Raise(err::kLocked, fileName_);
    std::this_thread::sleep_for(kRetryPause);
  }
}

void Connection::EndReads() const {
  for (sqlite3_stmt* statement = sqlite3_next_stmt(handle_, nullptr); statement != nullptr;
       statement = sqlite3_next_stmt(handle_, statement)) {
    if (sqlite3_stmt_busy(statement) != 0 && sqlite3_stmt_readonly(statement) != 0) sqlite3_reset(statement);
  }
}

void Connection::Raise(int resultCode) const {
  switch (resultCode & 0xff) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      corvald::Raise(err::kDamaged, fileName_);
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      corvald::Raise(err::kLocked, fileName_);
    case SQLITE_READONLY:
      corvald::Raise(err::kReadOnly, fileName_);
    default:
      corvald::Raise(err::kEngineError, Utf8ToAnsi(sqlite3_errmsg(handle_)) + " (" + fileName_ + ")");
  }
}

Affinity AffinityOfDeclaredType(std::string_view declaredType) {
  std::string upper;
  for (char c : declaredType) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const auto has = [&upper](std::string_view part) { return upper.find(part) != std::string::npos; };
  if (has("INT")) return Affinity::kNumeric;
  if (has("CHAR") || has("CLOB") || has("TEXT")) return Affinity::kText;
  if (has("BLOB") || upper.empty()) return Affinity::kBlob;
  return Affinity::kNumeric;
}

Statement::Statement(const Connection& connection, std::string_view sql) : connection_(connection) {
  const int rc =
      sqlite3_prepare_v2(connection.Handle(), sql.data(), static_cast<int>(sql.size()), &handle_, nullptr);
  if (rc != SQLITE_OK) connection.Raise(rc);
}

Statement::~Statement() { sqlite3_finalize(handle_); }

void Statement::CheckBind(int resultCode) const {
  if (resultCode != SQLITE_OK) connection_.Raise(resultCode);
}

void Statement::BindInt64(int index, std::int64_t value) {
  CheckBind(sqlite3_bind_int64(handle_, index, value));
}

void Statement::BindText(int index, std::string_view utf8) {
  CheckBind(sqlite3_bind_text64(handle_, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
}

void Statement::BindStored(int index, const sqlite3_value* value) {
  CheckBind(sqlite3_bind_value(handle_, index, value));
}

void Statement::BindBlob(int index, std::string_view bytes) {
  // A null pointer would bind Null; an empty blob must stay an empty blob.
  if (bytes.empty()) {
    CheckBind(sqlite3_bind_zeroblob(handle_, index, 0));
  } else {
    CheckBind(sqlite3_bind_blob64(handle_, index, bytes.data(), bytes.size(), SQLITE_STATIC));
  }
}

void Statement::BindField(int index, const Value& value, Affinity affinity) {
  if (std::holds_alternative<std::int64_t>(value)) {
    BindInt64(index, std::get<std::int64_t>(value));
  } else if (std::holds_alternative<double>(value)) {
    CheckBind(sqlite3_bind_double(handle_, index, std::get<double>(value)));
  } else if (std::holds_alternative<std::string>(value)) {
    const std::string& bytes = std::get<std::string>(value);
    if (affinity != Affinity::kBlob) {
      BindText(index, AnsiToUtf8(bytes));
    } else {
      BindBlob(index, bytes);
    }
  } else {
    CheckBind(sqlite3_bind_null(handle_, index));
  }
}

void Statement::ForEachRow(const std::function<void(Statement&)>& onRow) {
  struct ResetOnExit {
    Statement& statement;
    ~ResetOnExit() { statement.Reset(); }
  } reset{*this};
  for (;;) {
    const int rc = sqlite3_step(handle_);
    if (rc == SQLITE_DONE) return;
    if (rc != SQLITE_ROW) connection_.Raise(rc);
    onRow(*this);
  }
}

void Statement::Run() {
  ForEachRow([](Statement&) {});
}

bool Statement::Step() {
  const int rc = sqlite3_step(handle_);
  if (rc == SQLITE_ROW) return true;
  Reset();
  if (rc != SQLITE_DONE) connection_.Raise(rc);
  return false;
}

void Statement::Reset() {
  sqlite3_reset(handle_);
  sqlite3_clear_bindings(handle_);
}

std::int64_t Statement::ColumnInt64(int column) const { return sqlite3_column_int64(handle_, column); }

std::string Statement::ColumnUtf8(int column) const {
  const auto* text = sqlite3_column_text(handle_, column);
  const int size = sqlite3_column_bytes(handle_, column);
  return text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(text), size);
}

Value Statement::ColumnField(int column) const {
  switch (sqlite3_column_type(handle_, column)) {
    case SQLITE_INTEGER:
      return sqlite3_column_int64(handle_, column);
    case SQLITE_FLOAT:
      return sqlite3_column_double(handle_, column);
    case SQLITE_TEXT:
      return Utf8ToAnsi(ColumnUtf8(column));
    case SQLITE_BLOB: {
      // An empty blob comes back as a null pointer.
      const auto* bytes = static_cast<const char*>(sqlite3_column_blob(handle_, column));
      const int size = sqlite3_column_bytes(handle_, column);
      return bytes == nullptr ? std::string() : std::string(bytes, size);
    }
    default:
      return std::monostate{};
  }
}

StoredValue Statement::ColumnStored(int column) const {
  StoredValue copy(sqlite3_value_dup(sqlite3_column_value(handle_, column)));
  if (copy == nullptr) throw std::bad_alloc();
  return copy;
}

std::string QuoteIdentifier(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  return quoted + "\"";
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace corvald::engine::detail
