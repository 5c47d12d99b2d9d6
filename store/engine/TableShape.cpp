// The columns and the ordering index of a table, from SQLite's table and index pragmas.
#include "store/engine/TableShape.h"

#include "platform/Failure.h"

namespace corvald::engine::detail {

std::optional<std::string> ExistingTableName(const Connection& connection, std::string_view name) {
  Statement query(connection,
                  "SELECT name FROM sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE");
  query.BindText(1, name);
  std::optional<std::string> found;
  query.ForEachRow([&found](Statement& row) { found = row.ColumnUtf8(0); });
  return found;
}

std::vector<Column> TableColumns(const Connection& connection, std::string_view table) {
  // Columns of table_info: cid, name, type, notnull, dflt_value, pk.
  Statement query(connection, "PRAGMA table_info(" + QuoteIdentifier(table) + ")");
  std::vector<Column> columns;
  query.ForEachRow([&columns](Statement& row) {
    columns.push_back({row.ColumnUtf8(1), AffinityOfDeclaredType(row.ColumnUtf8(2))});
  });
  return columns;
}

std::size_t TableIndex(const Connection& connection, std::string_view table,
                       const std::vector<Column>& columns, std::string_view indexName) {
  // Columns of index_list: seq, name, unique, origin, partial.
  Statement list(connection, "PRAGMA index_list(" + QuoteIdentifier(table) + ")");
  std::optional<std::string> index;
  list.ForEachRow([&](Statement& row) {
    if (SameName(row.ColumnUtf8(1), indexName)) index = row.ColumnUtf8(1);
  });
  if (!index) Raise(err::kNotAnIndex, indexName);

  // Columns of index_xinfo: seqno, cid, name, desc, coll, key. The row id and
  // other non-key entries do not count.
  Statement info(connection, "PRAGMA index_xinfo(" + QuoteIdentifier(*index) + ")");
  std::vector<std::optional<std::size_t>> keys;
  bool plain = true;
  info.ForEachRow([&](Statement& row) {
    if (row.ColumnInt64(5) == 0) return;
    keys.push_back(row.ColumnInt64(1) < 0 ? std::nullopt : FindColumn(columns, row.ColumnUtf8(2)));
    plain = plain && row.ColumnInt64(3) == 0 && SameName(row.ColumnUtf8(4), "BINARY");
  });
  if (keys.size() != 1 || !keys[0] || !plain) {
    Raise(err::kEngineError, "the index '" + *index + "' is not on one field, ascending");
  }
  return *keys[0];
}

std::optional<std::size_t> FindColumn(const std::vector<Column>& columns, std::string_view name) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (SameName(columns[i].name, name)) return i;
  }
  return std::nullopt;
}

}  // namespace corvald::engine::detail
