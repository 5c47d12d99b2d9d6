// The table-type recordset: its current row, the row being added or edited,
// and the failures of calls out of turn.
#include <cassert>
#include <limits>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "store/Engine.h"
#include "store/engine/RowSource.h"

namespace corvald::engine {

namespace {

enum class Change { kNone, kAdding, kEditing };

}  // namespace

struct Recordset::State {
  std::unique_ptr<detail::RowSource> rows;
  bool current = false;
  bool bof = false;
  bool eof = false;
  bool noMatch = false;
  // The row being added or edited: a new row's every field, an edited row's
  // fields that were set (the others are the current row's).
  Change change = Change::kNone;
  std::vector<std::optional<Value>> buffer;
  std::vector<bool> changed;

  std::size_t ColumnOf(std::string_view name) const {
    const std::optional<std::size_t> column = rows->ColumnOf(AnsiToUtf8(name));
    if (!column) Raise(err::kItemNotFound, name);
    return *column;
  }

  // After opening or choosing an index: the first row, or both ends for an empty table.
  void ToFirstRow() {
    EndChange();
    current = rows->ToFirst();
    bof = eof = !current;
  }

  // Drops a change under way.
  void EndChange() {
    change = Change::kNone;
    buffer.clear();
  }
};

Recordset::Recordset(std::unique_ptr<detail::RowSource> rows) : state_(std::make_unique<State>()) {
  state_->rows = std::move(rows);
  state_->ToFirstRow();
}

Recordset::~Recordset() = default;

namespace {

template <typename StatePointer>
auto& OpenState(const StatePointer& state) {
  if (!state) Raise(err::kObjectClosed);
  return *state;
}

}  // namespace

bool Recordset::Bof() const { return OpenState(state_).bof; }

bool Recordset::Eof() const { return OpenState(state_).eof; }

void Recordset::MoveFirst() {
  State& state = OpenState(state_);
  state.ToFirstRow();
  if (!state.current) Raise(err::kNoCurrentRecord);
}

void Recordset::MoveNext() {
  State& state = OpenState(state_);
  state.EndChange();
  if (!state.current) Raise(err::kNoCurrentRecord);
  state.current = state.rows->ToNext();
  state.bof = false;
  state.eof = !state.current;
}

const Value& Recordset::Field(std::string_view name) const {
  State& state = OpenState(state_);
  const std::size_t column = state.ColumnOf(name);
  if (state.change != Change::kNone && state.buffer[column]) return *state.buffer[column];
  if (!state.current) Raise(err::kNoCurrentRecord);
  return state.rows->Field(column);
}

Value Recordset::TakeField(std::string_view name) {
  State& state = OpenState(state_);
  const std::size_t column = state.ColumnOf(name);
  if (!state.current) Raise(err::kNoCurrentRecord);
  return state.rows->TakeField(column);
}

void Recordset::SetField(std::string_view name, Value value) {
  State& state = OpenState(state_);
  const std::size_t column = state.ColumnOf(name);
  if (state.change == Change::kNone) Raise(err::kUpdateWithoutAddNewOrEdit);
  state.buffer[column] = std::move(value);
  state.changed[column] = true;
}

std::int32_t Recordset::RecordCount() const {
  const std::int64_t count = OpenState(state_).rows->Count();
  if (count > std::numeric_limits<std::int32_t>::max()) Raise(corvald::err::kOverflow);
  return static_cast<std::int32_t>(count);
}

void Recordset::SetIndex(std::string_view name) {
  State& state = OpenState(state_);
  state.rows->SetIndex(AnsiToUtf8(name));
  state.ToFirstRow();
}

void Recordset::Seek([[maybe_unused]] std::string_view comparison, std::int32_t key) {
  assert(comparison == "=");
  State& state = OpenState(state_);
  if (!state.rows->HasIndex()) Raise(err::kNoCurrentIndex);
  state.EndChange();
  const bool found = state.rows->ToFirstEqual(key);
  state.noMatch = !found;
  // A seek that finds nothing leaves no current row.
  state.current = found;
  if (found) state.bof = state.eof = false;
}

bool Recordset::NoMatch() const { return OpenState(state_).noMatch; }

void Recordset::AddNew() {
  State& state = OpenState(state_);
  state.EndChange();
  state.change = Change::kAdding;
  state.buffer.assign(state.rows->ColumnCount(), Value{});
  state.changed.assign(state.rows->ColumnCount(), false);
}

void Recordset::Edit() {
  State& state = OpenState(state_);
  if (!state.current) Raise(err::kNoCurrentRecord);
  state.EndChange();
  // Nothing is copied: a field not set reads the current row's, and a row's
  // data may be large.
  state.change = Change::kEditing;
  state.buffer.assign(state.rows->ColumnCount(), std::nullopt);
  state.changed.assign(state.rows->ColumnCount(), false);
}

void Recordset::Update([[maybe_unused]] int type, bool /*force: no other session's change can conflict*/) {
  assert(type == 1);
  State& state = OpenState(state_);
  if (state.change == Change::kNone) Raise(err::kUpdateWithoutAddNewOrEdit);
  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < state.changed.size(); ++i) {
    if (state.changed[i]) columns.push_back(i);
  }
  if (state.change == Change::kAdding) {
    // The current row stays what it was before AddNew.
    state.rows->Insert(columns, state.buffer);
  } else if (!columns.empty()) {
    state.rows->UpdateCurrent(columns, state.buffer);
  }
  state.EndChange();
}

void Recordset::Close() { state_.reset(); }

}  // namespace corvald::engine
