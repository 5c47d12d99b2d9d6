// A cursor along a SQLCipher table: its rows in index order, one walk or one
// query at a time, and its inserts and updates.
#include "store/engine/Cursor.h"

#include <cassert>

#include "platform/Failure.h"

namespace corvald::engine::detail {

namespace {

// A name for the row id that no column of the table hides.
std::string RowidName(const std::vector<Column>& columns) {
  for (const char* name : {"rowid", "_rowid_", "oid"}) {
    if (!FindColumn(columns, name)) return name;
  }
  Raise(err::kEngineError, "every name of the row id is taken by a column");
}

bool IsNull(const StoredValue& value) { return sqlite3_value_type(value.get()) == SQLITE_NULL; }

}  // namespace

Cursor::Cursor(std::shared_ptr<Connection> connection, std::string table, std::vector<Column> columns,
               std::optional<std::size_t> key)
    : connection_(std::move(connection)),
      table_(std::move(table)),
      columns_(std::move(columns)),
      key_(key),
      rowid_(RowidName(columns_)) {
  orderBy_ = key_ ? KeyExpression() + ", " + rowid_ : rowid_;
}

std::string Cursor::KeyExpression() const {
  return QuoteIdentifier(columns_[*key_].name) + " COLLATE BINARY";
}

std::string Cursor::SelectWhere(const std::string& condition, bool withFields) const {
  std::string sql = "SELECT " + rowid_;
  if (key_) sql += ", " + QuoteIdentifier(columns_[*key_].name);
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
  if (key_) row.key = result.ColumnStored(at++);
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
  if (!key_) {
    Statement& query = Prepared(SelectWhere(rowid_ + " > ?1"));
    query.BindInt64(1, row.rowid);
    return FetchOne(query);
  }
  // Nothing here moves on from a row whose key is Null: the load stops at it.
  if (IsNull(row.key)) {
    Raise(err::kEngineError, "moving on from a row whose '" + columns_[*key_].name + "' is Null");
  }
  // The rows of the same key with a later row id, then those of a greater key;
  // each query runs along the index.
  Statement& same = Prepared(SelectWhere(KeyExpression() + " = ?1 AND " + rowid_ + " > ?2"));
  same.BindStored(1, row.key.get());
  same.BindInt64(2, row.rowid);
  if (std::optional<Row> found = FetchOne(same)) return found;
  Statement& greater = Prepared(SelectWhere(KeyExpression() + " > ?1"));
  greater.BindStored(1, row.key.get());
  return FetchOne(greater);
}

std::optional<Row> Cursor::FirstEqual(std::int64_t key) {
  Statement& query = Prepared(SelectWhere(KeyExpression() + " = ?1"));
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
  if (!value) Raise(err::kRecordDeleted);
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
  // A row is added with at least one field set.
  assert(!columns.empty());
  std::string names;
  std::string parameters;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    names += (i == 0 ? "" : ", ") + QuoteIdentifier(columns_[columns[i]].name);
    parameters += (i == 0 ? "?" : ", ?");
  }
  Statement& insert =
      Prepared("INSERT INTO " + QuoteIdentifier(table_) + " (" + names + ") VALUES (" + parameters + ")");
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
