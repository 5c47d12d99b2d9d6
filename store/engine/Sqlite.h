#pragma once

// Thin owners of SQLite handles for the engine layer.

#include <sqlcipher/sqlite3.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "store/Engine.h"

namespace corvald::engine::detail {

// One open connection; closes when its last owner lets go.
class Connection {
 public:
  // Takes over `handle`; `fileName` is the program's name of the file, for
  // messages, and `nativeFile` the file itself, symbolic links followed.
  Connection(sqlite3* handle, std::string fileName, std::filesystem::path nativeFile);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* Handle() const { return handle_; }
  const std::string& FileName() const { return fileName_; }
  const std::filesystem::path& NativeFile() const { return nativeFile_; }

  // Keeps the derived key (DerivedKey.h) until this connection closes.
  void HoldKey() { holdsKey_ = true; }

  // Runs statements, passing over any rows they return.
  void Execute(std::string_view sql) const;
  // Runs one statement and returns the first column of its last row as text
  // (empty when it returns none), e.g. the mode that "PRAGMA journal_mode" reports or sets.
  std::string TextOf(std::string_view sql) const;

  // Before the first write: commits go through a write-ahead log, not synced
  // one by one: a crash of the process loses no committed row, and a power cut
  // only the last ones, until FinishWriting syncs them all. Readers in other
  // programs are not blocked by the writer. Where the log cannot be used
  // (another program has the database open, or a file system without shared
  // memory), the rollback journal stays and every commit is synced, the
  // journal's deletion included.
  void PrepareForWriting();

  // After the last write of a command: a write-ahead log is folded into the
  // file, synced, and the file goes back to a rollback journal, so that no side
  // file stays and readers that may not write the folder can open it. Where
  // another program keeps the log in use for longer than 2 seconds, the log is
  // synced and stays for that program to fold in. Every committed row is on
  // disk when this returns.
  void FinishWriting();

  // Leaves write-ahead logging: the log goes into the file, and the log and
  // its index are removed. That needs every other connection gone, so it is
  // retried for up to 2 seconds; then it fails with 3260, files as they were.
  void LeaveWriteAheadLog() const;

  // Ends every read of this connection that is still under way (a walk that a
  // recordset keeps open) before a write: what a statement under way reads of
  // rows its own connection changes is undefined in SQLite.
  void EndReads() const;

  // Throws the engine failure for a result code of this connection.
  [[noreturn]] void Raise(int resultCode) const;

 private:
  sqlite3* handle_;
  std::string fileName_;
  std::filesystem::path nativeFile_;
  bool holdsKey_ = false;
  bool preparedForWriting_ = false;
};

struct ValueDeleter {
  void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
};
// A column value copied out of a statement, with its exact storage class.
using StoredValue = std::unique_ptr<sqlite3_value, ValueDeleter>;

// How a column converts the strings it is given (SQLite's affinity rules).
enum class Affinity { kText, kNumeric, kBlob };
Affinity AffinityOfDeclaredType(std::string_view declaredType);

// A prepared statement. ForEachRow and Run reset it after every use, so that no
// statement keeps a read transaction open between calls; only a walk by Step
// stays open until it ends or is reset.
class Statement {
 public:
  Statement(const Connection& connection, std::string_view sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void BindInt64(int index, std::int64_t value);
  void BindText(int index, std::string_view utf8);
  void BindStored(int index, const sqlite3_value* value);
  // Binds bytes as a blob without copying them: they must live until the
  // statement has run.
  void BindBlob(int index, std::string_view bytes);
  // Binds a field value; strings go in as text (converted to UTF-8) or as a blob
  // according to the column's affinity; a blob as BindBlob binds it.
  void BindField(int index, const Value& value, Affinity affinity);

  // Steps through the result rows, calling `onRow` for each, then resets.
  void ForEachRow(const std::function<void(Statement&)>& onRow);
  // Runs the statement to its end, then resets.
  void Run();
  // Steps to the next result row: false at the end, where the read is over. A
  // failure resets the statement and throws.
  bool Step();
  // Whether a walk by Step is under way.
  bool Walking() const { return sqlite3_stmt_busy(handle_) != 0; }
  void Reset();

  // Columns of the current row, while inside ForEachRow or after Step.
  std::int64_t ColumnInt64(int column) const;
  std::string ColumnUtf8(int column) const;
  Value ColumnField(int column) const;
  StoredValue ColumnStored(int column) const;

 private:
  void CheckBind(int resultCode) const;

  const Connection& connection_;
  sqlite3_stmt* handle_ = nullptr;
};

// "name" quoted as an SQL identifier.
std::string QuoteIdentifier(std::string_view name);

// Names compare as SQLite compares identifiers: ASCII letters without case.
bool SameName(std::string_view a, std::string_view b);

}  // namespace corvald::engine::detail
