// The engine's objects (engine, workspace, database, table definition), and
// the one place where a database file's format is told.
#include <cassert>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "store/Engine.h"
#include "store/engine/Backend.h"
#include "store/engine/Open.h"
#include "store/jet/JetDatabase.h"

namespace corvald::engine {

TableDef::TableDef(std::function<std::unique_ptr<detail::RowSource>()> openRows)
    : openRows_(std::move(openRows)) {}

std::shared_ptr<Recordset> TableDef::OpenRecordset([[maybe_unused]] std::int32_t type) {
  assert(type == 1);  // a table-type recordset
  return std::make_shared<Recordset>(openRows_());
}

Database::Database(std::shared_ptr<detail::Backend> backend) : backend_(std::move(backend)) {}

std::shared_ptr<TableDef> Database::TableDefs(std::string_view name) {
  std::optional<std::string> table = backend_->TableName(AnsiToUtf8(name));
  if (!table) Raise(err::kItemNotFound, name);
  return std::make_shared<TableDef>(
      [backend = backend_, table = std::move(*table)] { return backend->OpenRows(table); });
}

std::optional<std::string> Database::WhyNotUpdatable() const { return backend_->WhyNotUpdatable(); }

void Database::HoldForCompaction() { backend_->HoldForCompaction(); }

void Database::Compact() {
  assert(!WhyNotUpdatable());
  backend_->Compact();
}

void Database::FinishWriting() { backend_->FinishWriting(); }

std::shared_ptr<Database> Workspace::OpenDatabase(std::string_view name,
                                                  [[maybe_unused]] std::int16_t options, bool readOnly,
                                                  std::string_view connect) {
  assert(options == 0);
  return std::make_shared<Database>(
      detail::OpenBackend(name, detail::PasswordFromConnect(connect), readOnly));
}

namespace detail {

std::shared_ptr<Backend> OpenBackend(std::string_view name, std::string_view password, bool readOnly) {
  if (jet::FormatOfFile(name) != jet::Format::kOther) return OpenJetBackend(name, password, readOnly);
  return OpenSqlBackend(name, password, readOnly);
}

}  // namespace detail

std::shared_ptr<Workspace> DBEngine::Workspaces([[maybe_unused]] std::int16_t index) {
  assert(index == 0);
  if (!defaultWorkspace_) defaultWorkspace_ = std::make_shared<Workspace>();
  return defaultWorkspace_;
}

DBEngine& Engine() {
  static DBEngine engine;
  return engine;
}

}  // namespace corvald::engine
