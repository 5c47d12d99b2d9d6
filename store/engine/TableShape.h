#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/engine/Sqlite.h"

namespace corvald::engine::detail {

struct Column {
  std::string name;
  Affinity affinity;
};

struct IndexKey {
  std::size_t column;  // position in the table's columns
  bool descending;
  std::string collation;
};

// The ordering columns of an index; none stands for the order rows were added in.
struct IndexShape {
  std::vector<IndexKey> keys;
};

// The table's name as the database spells it, found without regard to case.
std::optional<std::string> ExistingTableName(const Connection& connection, std::string_view name);

std::vector<Column> TableColumns(const Connection& connection, std::string_view table);

// The named index of the table; fails with 3015 when the table has none of that name.
IndexShape TableIndex(const Connection& connection, std::string_view table,
                      const std::vector<Column>& columns, std::string_view indexName);

// Position of the named column, or nothing.
std::optional<std::size_t> FindColumn(const std::vector<Column>& columns, std::string_view name);

}  // namespace corvald::engine::detail
