#include <limits>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "store/Engine.h"
#include "store/EngineErrors.h"
#include "store/engine/Cursor.h"
#include "store/engine/TableShape.h"

namespace corvald::engine {

using detail::Row;

namespace {

enum class Change { kNone, kAdding, kEditing };

}  // namespace

struct Recordset::State {
  std::shared_ptr<detail::Connection> connection;
  std::string table;
  std::unique_ptr<detail::Cursor> cursor;
  std::optional<Row> current;
  bool bof = false;
  bool eof = false;
  bool noMatch = false;
  // The row being added or edited.
  Change change = Change::kNone;
  std::vector<std::optional<Value>> buffer;
  std::vector<bool> changed;

  const std::vector<detail::Column>& Columns() const { return cursor->Columns(); }

  std::size_t ColumnOf(std::string_view name) const {
    const std::optional<std::size_t> column = detail::FindColumn(Columns(), AnsiToUtf8(name));
    if (!column) RaiseEngine(err::kItemNotFound, name);
    return *column;
  }

  // After opening or choosing an index: the first row, or both ends for an empty table.
  void ToFirstRow() {
    EndChange();
    current.reset();
    current = cursor->First();
    bof = eof = !current;
  }

  // Drops a change under way. An edit holds the current row's fields, which go
  // back to it.
  void EndChange() {
    if (change == Change::kEditing) current->fields = std::move(buffer);
    change = Change::kNone;
    buffer.clear();
  }
};

Recordset::Recordset(std::shared_ptr<detail::Connection> connection, std::string table)
    : state_(std::make_unique<State>()) {
  std::vector<detail::Column> columns = detail::TableColumns(*connection, table);
  state_->cursor =
      std::make_unique<detail::Cursor>(connection, table, std::move(columns), detail::IndexShape{});
  state_->connection = std::move(connection);
  state_->table = std::move(table);
  state_->ToFirstRow();
}

Recordset::~Recordset() = default;

namespace {

template <typename StatePointer>
auto& OpenState(const StatePointer& state) {
  if (!state) RaiseEngine(err::kObjectClosed);
  return *state;
}

}  // namespace

bool Recordset::Bof() const { return OpenState(state_).bof; }

bool Recordset::Eof() const { return OpenState(state_).eof; }

void Recordset::MoveFirst() {
  State& state = OpenState(state_);
  state.ToFirstRow();
  if (!state.current) RaiseEngine(err::kNoCurrentRecord);
}

void Recordset::MoveNext() {
  State& state = OpenState(state_);
  state.EndChange();
  if (!state.current) RaiseEngine(err::kNoCurrentRecord);
  // Only the row's place is needed to find the next one; its values go first,
  // so that two large rows are never held at once.
  Row previous = std::move(*state.current);
  previous.fields.clear();
  state.current.reset();
  state.current = state.cursor->After(previous);
  state.bof = false;
  state.eof = !state.current;
}

const Value& Recordset::Field(std::string_view name) const {
  State& state = OpenState(state_);
  const std::size_t column = state.ColumnOf(name);
  if (state.change == Change::kNone && !state.current) RaiseEngine(err::kNoCurrentRecord);
  // A new row's fields are all set; the current row's are read when first asked for.
  std::optional<Value>& field =
      state.change != Change::kNone ? state.buffer[column] : state.current->fields[column];
  if (!field) field = state.cursor->ReadField(state.current->rowid, column);
  return *field;
}

Value Recordset::TakeField(std::string_view name) {
  Field(name);
  std::optional<Value>& field = state_->change != Change::kNone
                                    ? state_->buffer[state_->ColumnOf(name)]
                                    : state_->current->fields[state_->ColumnOf(name)];
  Value value = std::move(*field);
  field.reset();
  return value;
}

void Recordset::SetField(std::string_view name, Value value) {
  State& state = OpenState(state_);
  const std::size_t column = state.ColumnOf(name);
  if (state.change == Change::kNone) RaiseEngine(err::kUpdateWithoutAddNewOrEdit);
  state.buffer[column] = std::move(value);
  state.changed[column] = true;
}

std::int32_t Recordset::RecordCount() const {
  const std::int64_t count = OpenState(state_).cursor->Count();
  if (count > std::numeric_limits<std::int32_t>::max()) Raise(corvald::err::kOverflow);
  return static_cast<std::int32_t>(count);
}

void Recordset::SetIndex(std::string_view name) {
  State& state = OpenState(state_);
  std::vector<detail::Column> columns = state.Columns();
  detail::IndexShape index = detail::TableIndex(*state.connection, state.table, columns, AnsiToUtf8(name));
  state.cursor =
      std::make_unique<detail::Cursor>(state.connection, state.table, std::move(columns), std::move(index));
  state.ToFirstRow();
}

void Recordset::Seek(std::string_view comparison, std::int32_t key) {
  State& state = OpenState(state_);
  if (comparison != "=")
    RaiseEngine(err::kInvalidArgument, "Seek comparison '" + std::string(comparison) + "'");
  if (!state.cursor->HasIndex()) RaiseEngine(err::kNoCurrentIndex);
  state.EndChange();
  state.current.reset();
  state.current = state.cursor->FirstEqual(key);
  state.noMatch = !state.current;
  if (state.current) state.bof = state.eof = false;
}

bool Recordset::NoMatch() const { return OpenState(state_).noMatch; }

void Recordset::AddNew() {
  State& state = OpenState(state_);
  state.EndChange();
  state.change = Change::kAdding;
  state.buffer.assign(state.Columns().size(), Value{});
  state.changed.assign(state.Columns().size(), false);
}

void Recordset::Edit() {
  State& state = OpenState(state_);
  if (!state.current) RaiseEngine(err::kNoCurrentRecord);
  state.EndChange();
  // The fields read so far move into the edit rather than being copied: a
  // row's data may be large.
  state.change = Change::kEditing;
  state.buffer = std::move(state.current->fields);
  state.changed.assign(state.Columns().size(), false);
}

void Recordset::Update(int type, bool /*force: no other session's change can conflict*/) {
  State& state = OpenState(state_);
  if (type != 1) RaiseEngine(err::kInvalidArgument, "update type " + std::to_string(type));
  if (state.change == Change::kNone) RaiseEngine(err::kUpdateWithoutAddNewOrEdit);
  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < state.changed.size(); ++i) {
    if (state.changed[i]) columns.push_back(i);
  }
  if (state.change == Change::kAdding) {
    // The current row stays what it was before AddNew.
    state.cursor->Insert(columns, state.buffer);
  } else if (!columns.empty()) {
    if (state.cursor->UpdateRow(state.current->rowid, columns, state.buffer) == 0) {
      RaiseEngine(err::kRecordDeleted);
    }
    // The row as stored is read again when asked for.
    const std::int64_t rowid = state.current->rowid;
    state.change = Change::kNone;
    state.buffer.clear();
    state.current = state.cursor->WithRowid(rowid);
  }
  state.EndChange();
}

void Recordset::Close() { state_.reset(); }

}  // namespace corvald::engine
