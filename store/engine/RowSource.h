#pragma once

// What a table-type recordset reads and writes through: the rows of one table
// in the order of its current index, at most one of them current. One
// implementation serves SQLCipher databases, one Jet databases.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/Engine.h"

namespace corvald::engine::detail {

class RowSource {
 public:
  virtual ~RowSource() = default;

  // Position of the named field (UTF-8, found without regard to case), or nothing.
  virtual std::optional<std::size_t> ColumnOf(std::string_view name) const = 0;
  virtual std::size_t ColumnCount() const = 0;

  // Orders the rows by the named index; fails with 3015 when the table has none
  // of that name.
  virtual void SetIndex(std::string_view name) = 0;
  virtual bool HasIndex() const = 0;

  // Make the first row, the next row, or the first row whose first index key
  // equals `key` current; false, with no row current, when there is none.
  virtual bool ToFirst() = 0;
  virtual bool ToNext() = 0;
  virtual bool ToFirstEqual(std::int64_t key) = 0;

  // A field of the current row, read when first asked for; the reference
  // holds until the source moves.
  virtual const Value& Field(std::size_t column) = 0;
  // The same value, moved out; asking for the field again reads it anew.
  virtual Value TakeField(std::size_t column) = 0;
  virtual std::int64_t Count() = 0;

  // Adds a row with the values of these columns (each set in `values`); the
  // current row stays.
  virtual void Insert(const std::vector<std::size_t>& columns,
                      const std::vector<std::optional<Value>>& values) = 0;
  // Sets these columns of the current row; fails with 3167 when it is gone.
  virtual void UpdateCurrent(const std::vector<std::size_t>& columns,
                             const std::vector<std::optional<Value>>& values) = 0;
};

class Connection;

// The rows of a table of a SQLCipher database.
std::unique_ptr<RowSource> OpenSqlRows(std::shared_ptr<Connection> connection, std::string table);

}  // namespace corvald::engine::detail
