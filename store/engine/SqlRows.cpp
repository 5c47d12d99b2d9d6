// The rows of a SQLCipher table as a recordset reads and writes them, through
// a cursor along the current index.
#include <algorithm>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "store/engine/Cursor.h"
#include "store/engine/RowSource.h"
#include "store/engine/TableShape.h"

namespace corvald::engine::detail {

namespace {

class SqlRows final : public RowSource {
 public:
  SqlRows(std::shared_ptr<Connection> connection, std::string table)
      : connection_(std::move(connection)), table_(std::move(table)) {
    cursor_ = std::make_unique<Cursor>(connection_, table_, TableColumns(*connection_, table_), std::nullopt);
  }

  std::optional<std::size_t> ColumnOf(std::string_view name) const override {
    return FindColumn(cursor_->Columns(), name);
  }
  std::size_t ColumnCount() const override { return cursor_->Columns().size(); }

  void SetIndex(std::string_view name) override {
    std::vector<Column> columns = cursor_->Columns();
    const std::size_t key = TableIndex(*connection_, table_, columns, name);
    cursor_ = std::make_unique<Cursor>(connection_, table_, std::move(columns), key);
    current_.reset();
  }
  bool HasIndex() const override { return cursor_->HasIndex(); }

  bool ToFirst() override { return Found(cursor_->First()); }
  bool ToNext() override {
    // Only the row's place is needed to find the next one; its values go
    // first, so that two large rows are never held at once.
    Row previous = std::move(*current_);
    previous.fields.clear();
    current_.reset();
    return Found(cursor_->After(previous));
  }
  bool ToFirstEqual(std::int64_t key) override { return Found(cursor_->FirstEqual(key)); }

  const Value& Field(std::size_t column) override {
    std::optional<Value>& field = current_->fields[column];
    if (!field && column == cursor_->KeyColumn() && current_->key &&
        sqlite3_value_type(current_->key.get()) == SQLITE_INTEGER) {
      // The row brought its whole-number key along; no need to read it again.
      field = std::int64_t{sqlite3_value_int64(current_->key.get())};
    }
    if (!field) field = cursor_->ReadField(current_->rowid, column);
    return *field;
  }
  Value TakeField(std::size_t column) override {
    Field(column);
    Value value = std::move(*current_->fields[column]);
    current_->fields[column].reset();
    return value;
  }
  std::int64_t Count() override { return cursor_->Count(); }

  void Insert(const std::vector<std::size_t>& columns,
              const std::vector<std::optional<Value>>& values) override {
    cursor_->Insert(columns, values);
  }
  void UpdateCurrent(const std::vector<std::size_t>& columns,
                     const std::vector<std::optional<Value>>& values) override {
    if (cursor_->UpdateRow(current_->rowid, columns, values) == 0) Raise(err::kRecordDeleted);
    // The row as stored is read again when asked for; it keeps its place
    // unless its index column changed.
    if (std::ranges::find(columns, cursor_->KeyColumn()) != columns.end()) {
      current_ = cursor_->WithRowid(current_->rowid);
    } else {
      for (std::optional<Value>& field : current_->fields) field.reset();
    }
  }

 private:
  bool Found(std::optional<Row> row) {
    current_ = std::move(row);
    return current_.has_value();
  }

  std::shared_ptr<Connection> connection_;
  std::string table_;
  std::unique_ptr<Cursor> cursor_;
  std::optional<Row> current_;
};

}  // namespace

std::unique_ptr<RowSource> OpenSqlRows(std::shared_ptr<Connection> connection, std::string table) {
  return std::make_unique<SqlRows>(std::move(connection), std::move(table));
}

}  // namespace corvald::engine::detail
