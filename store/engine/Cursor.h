#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/engine/Sqlite.h"
#include "store/engine/TableShape.h"

namespace corvald::engine::detail {

// One row as a recordset holds it: its row id, its field values, and the exact
// values of its index columns (to find the rows that follow it).
struct Row {
  std::int64_t rowid = 0;
  std::vector<Value> fields;
  std::vector<StoredValue> keys;
};

// Reads a table in the order of one index (its columns, then row id) by asking,
// at each step, for the first row after the current one. Nothing stays open
// between calls, so rows added or changed meanwhile are seen and every write
// commits at once.
class Cursor {
 public:
  Cursor(std::shared_ptr<Connection> connection, std::string table, std::vector<Column> columns,
         IndexShape index);

  const std::vector<Column>& Columns() const { return columns_; }
  bool HasIndex() const { return !index_.keys.empty(); }

  std::optional<Row> First();
  std::optional<Row> After(const Row& row);
  // The first row, in index order, whose first index column equals the key.
  std::optional<Row> FirstEqual(std::int64_t key);
  std::optional<Row> WithRowid(std::int64_t rowid);
  std::int64_t Count();

  // Adds a row with these values in these columns (the others take their defaults).
  void Insert(const std::vector<std::size_t>& columns, const std::vector<Value>& values);
  // Sets these columns of the row with this row id; returns how many rows changed.
  int UpdateRow(std::int64_t rowid, const std::vector<std::size_t>& columns,
                const std::vector<Value>& values);

 private:
  Statement& Prepared(const std::string& sql);
  std::optional<Row> FetchOne(Statement& statement);
  std::string KeyExpression(std::size_t key) const;
  std::string SelectWhere(const std::string& condition) const;

  std::shared_ptr<Connection> connection_;
  std::string table_;
  std::vector<Column> columns_;
  IndexShape index_;
  std::string rowid_;
  std::string orderBy_;
  std::map<std::string, std::unique_ptr<Statement>> statements_;
};

}  // namespace corvald::engine::detail
