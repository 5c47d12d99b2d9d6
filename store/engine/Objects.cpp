#include "platform/AnsiCodePage.h"
#include "store/Engine.h"
#include "store/EngineErrors.h"
#include "store/engine/Open.h"
#include "store/engine/TableShape.h"

namespace corvald::engine {

TableDef::TableDef(std::shared_ptr<detail::Connection> connection, std::string table)
    : connection_(std::move(connection)), table_(std::move(table)) {}

std::shared_ptr<Recordset> TableDef::OpenRecordset(std::int32_t type) {
  constexpr std::int32_t kTableType = 1;
  if (type != kTableType) {
    RaiseEngine(err::kInvalidArgument,
                "recordset type " + std::to_string(type) + " (only 1, table, is supported)");
  }
  return std::make_shared<Recordset>(connection_, table_);
}

Database::Database(std::shared_ptr<detail::Connection> connection) : connection_(std::move(connection)) {}

std::shared_ptr<TableDef> Database::TableDefs(std::string_view name) {
  std::optional<std::string> table = detail::ExistingTableName(*connection_, AnsiToUtf8(name));
  if (!table) RaiseEngine(err::kItemNotFound, name);
  return std::make_shared<TableDef>(connection_, std::move(*table));
}

void Database::FinishWriting() { connection_->FinishWriting(); }

std::shared_ptr<Database> Workspace::OpenDatabase(std::string_view name, std::int16_t options, bool readOnly,
                                                  std::string_view connect) {
  if (options != 0) {
    RaiseEngine(err::kInvalidArgument,
                "open options " + std::to_string(options) + " (only 0, shared, is supported)");
  }
  return std::make_shared<Database>(detail::OpenKeyed(name, detail::PasswordFromConnect(connect), readOnly));
}

std::shared_ptr<Workspace> DBEngine::Workspaces(std::int16_t index) {
  if (index != 0) RaiseEngine(err::kItemNotFound, "workspace " + std::to_string(index));
  if (!defaultWorkspace_) defaultWorkspace_ = std::make_shared<Workspace>();
  return defaultWorkspace_;
}

DBEngine& Engine() {
  static DBEngine engine;
  return engine;
}

}  // namespace corvald::engine
