#include "store/engine/Cursor.h"

#include "store/EngineErrors.h"

namespace corvald::engine::detail {

namespace {

// A name for the row id that no column of the table hides.
std::string RowidName(const std::vector<Column>& columns) {
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    if (!FindColumn(columns, name)) return name;
  }
  RaiseEngine(err::kEngineError, "every name of the row id is taken by a column");
}

bool IsNull(const StoredValue& value) { return sqlite3_value_type(value.get()) == SQLITE_NULL; }

}  // namespace

Cursor::Cursor(std::shared_ptr<Connection> connection, std::string table, std::vector<Column> columns,
               IndexShape index)
    : connection_(std::move(connection)),
      table_(std::move(table)),
      columns_(std::move(columns)),
      index_(std::move(index)),
      rowid_(RowidName(columns_)) {
  for (std::size_t key = 0; key < index_.keys.size(); ++key) {
    orderBy_ += KeyExpression(key) + (index_.keys[key].descending ? " DESC, " : ", ");
  }
  orderBy_ += rowid_;
}

std::string Cursor::KeyExpression(std::size_t key) const {
  const IndexKey& indexKey = index_.keys[key];
  return QuoteIdentifier(columns_[indexKey.column].name) + " COLLATE " + QuoteIdentifier(indexKey.collation);
}

std::string Cursor::SelectWhere(const std::string& condition, bool withFields) const {
  std::string sql = "SELECT " + rowid_;
  for (const IndexKey& key : index_.keys) sql += ", " + QuoteIdentifier(columns_[key.column].name);
  if (withFields) {
    for (const Column& column : columns_) sql += ", " + QuoteIdentifier(column.name);
  }
  sql += " FROM " + QuoteIdentifier(table_);
  if (!condition.empty()) sql += " WHERE " + condition;
  return sql + " ORDER BY " + orderBy_ + (withFields ? "" : " LIMIT 1");
}

Statement& Cursor::Prepared(const std::string& sql) {
  std::unique_ptr<Statement>& statement = statements_[sql];
  if (!statement) statement = std::make_unique<Statement>(*connection_, sql);
  return *statement;
}

Row Cursor::ReadRow(const Statement& result, bool withFields) const {
  Row row;
  row.rowid = result.ColumnInt64(0);
  int at = 1;
  for (std::size_t key = 0; key < index_.keys.size(); ++key) row.keys.push_back(result.ColumnStored(at++));
  row.fields.resize(columns_.size());
  if (withFields) {
    for (std::optional<Value>& field : row.fields) field = result.ColumnField(at++);
  }
  return row;
}

std::optional<Row> Cursor::FetchOne(Statement& statement) {
  EndWalk();
  std::optional<Row> found;
  statement.ForEachRow([&](Statement& result) { found = ReadRow(result, false); });
  return found;
}

bool Cursor::StepWalk() {
  try {
    if (!walk_->Step()) return false;
  } catch (...) {
    EndWalk();
    throw;
  }
  walkRowid_ = walk_->ColumnInt64(0);
  return true;
}

std::optional<Row> Cursor::WalkOn() {
  if (!StepWalk()) return std::nullopt;
  return ReadRow(*walk_, true);
}

void Cursor::EndWalk() {
  if (walk_ != nullptr && walk_->Walking()) walk_->Reset();
  firstRowid_.reset();
}

std::optional<Row> Cursor::First() {
  std::optional<Row> first = FetchOne(Prepared(SelectWhere("")));
  if (first) firstRowid_ = first->rowid;
  return first;
}

std::optional<Row> Cursor::After(const Row& row) {
  if (firstRowid_ == row.rowid) {
    // Moving on from the first row starts the walk on the first row, which is
    // `row` unless another program has changed the table since.
    firstRowid_.reset();
    walk_ = &Prepared(SelectWhere("", true));
    StepWalk();
  }
  if (walk_ != nullptr && walk_->Walking() && walkRowid_ == row.rowid) return WalkOn();
  // The rows after `row` share its first `level` key values and come after it in
  // the next key (or, past the last key, in row id). Deepest level first, so that
  // every query runs along the index.
  for (std::size_t level = index_.keys.size() + 1; level-- > 0;) {
    std::string condition;
    for (std::size_t key = 0; key < level; ++key) {
      condition += KeyExpression(key) + " IS ?" + std::to_string(key + 1) + " AND ";
    }
    // Built from named strings: GCC 12 at -O3 takes a literal joined to a
    // temporary string for an overlapping copy (-Wrestrict).
    const std::string number = std::to_string(level + 1);
    const std::string next = "?" + number;
    bool bindNext = true;
    if (level == index_.keys.size()) {
      condition += rowid_ + " > " + next;
    } else if (IsNull(row.keys[level])) {
      // Null sorts before every value.
      if (index_.keys[level].descending) continue;
      condition += KeyExpression(level) + " IS NOT NULL";
      bindNext = false;
    } else if (index_.keys[level].descending) {
      const std::string key = KeyExpression(level);
      condition += "(" + key + " < " + next + " OR " + key + " IS NULL)";
    } else {
      condition += KeyExpression(level) + " > " + next;
    }

    Statement& query = Prepared(SelectWhere(condition));
    for (std::size_t key = 0; key < level; ++key)
      query.BindStored(static_cast<int>(key) + 1, row.keys[key].get());
    if (bindNext) {
      if (level == index_.keys.size()) {
        query.BindInt64(static_cast<int>(level) + 1, row.rowid);
      } else {
        query.BindStored(static_cast<int>(level) + 1, row.keys[level].get());
      }
    }
    if (std::optional<Row> found = FetchOne(query)) return found;
  }
  return std::nullopt;
}

std::optional<Row> Cursor::FirstEqual(std::int64_t key) {
  Statement& query = Prepared(SelectWhere(KeyExpression(0) + " = ?1"));
  query.BindInt64(1, key);
  return FetchOne(query);
}

std::optional<Row> Cursor::WithRowid(std::int64_t rowid) {
  Statement& query = Prepared(SelectWhere(rowid_ + " = ?1"));
  query.BindInt64(1, rowid);
  return FetchOne(query);
}

Value Cursor::ReadField(std::int64_t rowid, std::size_t column) {
  EndWalk();
  Statement& query = Prepared("SELECT " + QuoteIdentifier(columns_[column].name) + " FROM " +
                              QuoteIdentifier(table_) + " WHERE " + rowid_ + " = ?1");
  query.BindInt64(1, rowid);
  std::optional<Value> value;
  query.ForEachRow([&value](Statement& result) { value = result.ColumnField(0); });
  if (!value) RaiseEngine(err::kRecordDeleted);
  return std::move(*value);
}

std::int64_t Cursor::Count() {
  EndWalk();
  Statement& query = Prepared("SELECT count(*) FROM " + QuoteIdentifier(table_));
  std::int64_t count = 0;
  query.ForEachRow([&count](Statement& result) { count = result.ColumnInt64(0); });
  return count;
}

void Cursor::Insert(const std::vector<std::size_t>& columns,
                    const std::vector<std::optional<Value>>& values) {
  connection_->EndReads();
  connection_->PrepareForWriting();
  std::string sql = "INSERT INTO " + QuoteIdentifier(table_);
  if (columns.empty()) {
    sql += " DEFAULT VALUES";
  } else {
    std::string names;
    std::string parameters;
    for (std::size_t i = 0; i < columns.size(); ++i) {
      names += (i == 0 ? "" : ", ") + QuoteIdentifier(columns_[columns[i]].name);
      parameters += (i == 0 ? "?" : ", ?");
    }
    sql += " (" + names + ") VALUES (" + parameters + ")";
  }
  Statement& insert = Prepared(sql);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    insert.BindField(static_cast<int>(i) + 1, *values[columns[i]], columns_[columns[i]].affinity);
  }
  insert.Run();
}

int Cursor::UpdateRow(std::int64_t rowid, const std::vector<std::size_t>& columns,
                      const std::vector<std::optional<Value>>& values) {
  connection_->EndReads();
  connection_->PrepareForWriting();
  std::string sql = "UPDATE " + QuoteIdentifier(table_) + " SET ";
  for (std::size_t i = 0; i < columns.size(); ++i) {
    sql += (i == 0 ? "" : ", ") + QuoteIdentifier(columns_[columns[i]].name) + " = ?";
  }
  sql += " WHERE " + rowid_ + " = ?";
  Statement& update = Prepared(sql);
  for (std::size_t i = 0; i < columns.size(); ++i) {
    update.BindField(static_cast<int>(i) + 1, *values[columns[i]], columns_[columns[i]].affinity);
  }
  update.BindInt64(static_cast<int>(columns.size()) + 1, rowid);
  update.Run();
  return sqlite3_changes(connection_->Handle());
}

}  // namespace corvald::engine::detail
