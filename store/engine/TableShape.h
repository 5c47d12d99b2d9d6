#pragma once

// The columns and the ordering index of a table, as the database describes them.

#include <cstddef>
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

// The table's name as the database spells it, found without regard to case.
std::optional<std::string> ExistingTableName(const Connection& connection, std::string_view name);

std::vector<Column> TableColumns(const Connection& connection, std::string_view table);

// The position among `columns` of the one column that the named index of the
// table orders by. Fails with 3015 when the table has no index of that name, and
// with 3000 when the index is not on one column, ascending, in binary order.
std::size_t TableIndex(const Connection& connection, std::string_view table,
                       const std::vector<Column>& columns, std::string_view indexName);

// Position of the named column, or nothing.
std::optional<std::size_t> FindColumn(const std::vector<Column>& columns, std::string_view name);

}  // namespace corvald::engine::detail
