#pragma once

// A cursor along a SQLCipher table in the order of its index: what a
// table-type recordset reads and writes through.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/engine/Sqlite.h"
#include "store/engine/TableShape.h"

namespace corvald::engine::detail {

// One row as a recordset holds it: its row id, the exact value of its index
// column (to find the rows that follow it), and the field values read so far.
// A walk reads every field; other moves read none, and a field is read when
// it is asked for, so that a row's large data is read only when wanted.
struct Row {
  std::int64_t rowid = 0;
  StoredValue key;
  std::vector<std::optional<Value>> fields;
};

// Reads a table in the order of the index on one column (that column, then row
// id), or without an index in row id order. Moving
// on from the first row starts a walk, one statement kept open, so that reading
// the whole table is one read of it; the walk ends at the table's end, at any
// other call, and before any write on the connection.
// A walk stopped half-way keeps the table read (other programs cannot write
// it) until that next call. Otherwise each step asks for the first row after
// the current one, so rows added or changed meanwhile are seen.
class Cursor {
 public:
  Cursor(std::shared_ptr<Connection> connection, std::string table, std::vector<Column> columns,
         std::optional<std::size_t> key);

  const std::vector<Column>& Columns() const { return columns_; }
  bool HasIndex() const { return key_.has_value(); }
  // The position of the index column, whose value each row brings along.
  std::optional<std::size_t> KeyColumn() const { return key_; }

  std::optional<Row> First();
  std::optional<Row> After(const Row& row);
  // The first row, in index order, whose index column equals the key.
  std::optional<Row> FirstEqual(std::int64_t key);
  std::optional<Row> WithRowid(std::int64_t rowid);
  // One field of the row with this row id; fails with 3167 when the row is gone.
  Value ReadField(std::int64_t rowid, std::size_t column);
  std::int64_t Count();

  // Adds a row with these values in these (one or more) columns; the others take their defaults.
  void Insert(const std::vector<std::size_t>& columns, const std::vector<std::optional<Value>>& values);
  // Sets these columns of the row with this row id; returns how many rows changed.
  int UpdateRow(std::int64_t rowid, const std::vector<std::size_t>& columns,
                const std::vector<std::optional<Value>>& values);

 private:
  Statement& Prepared(const std::string& sql);
  // The row of a result; its fields only when the result holds them.
  Row ReadRow(const Statement& result, bool withFields) const;
  std::optional<Row> FetchOne(Statement& statement);
  // Moves the walk on by one row without reading it; false, with the walk
  // over, at the end.
  bool StepWalk();
  // The walk's next row; none, with the walk over, at the end.
  std::optional<Row> WalkOn();
  void EndWalk();
  std::string KeyExpression() const;
  // The rows that meet `condition` (none: every row), in index order: their
  // row ids and keys, and with `withFields` their fields. Without, only the
  // first of them.
  std::string SelectWhere(const std::string& condition, bool withFields = false) const;

  std::shared_ptr<Connection> connection_;
  std::string table_;
  std::vector<Column> columns_;
  std::optional<std::size_t> key_;
  std::string rowid_;
  std::string orderBy_;
  std::map<std::string, std::unique_ptr<Statement>> statements_;
  // Every row in index order, and the row id of the row it stands on.
  Statement* walk_ = nullptr;
  std::int64_t walkRowid_ = 0;
  // The row id of the first row, while First was the last call.
  std::optional<std::int64_t> firstRowid_;
};

}  // namespace corvald::engine::detail
