#include <cassert>

#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "store/Engine.h"
#include "store/engine/Open.h"
#include "store/engine/RowSource.h"
#include "store/engine/TableShape.h"
#include "store/jet/JetDatabase.h"

namespace corvald::engine {

TableDef::TableDef(std::function<std::unique_ptr<detail::RowSource>()> openRows)
    : openRows_(std::move(openRows)) {}

std::shared_ptr<Recordset> TableDef::OpenRecordset(std::int32_t type) {
  constexpr std::int32_t kTableType = 1;
  if (type != kTableType) {
    Raise(err::kInvalidArgument, "recordset type " + std::to_string(type) + " (only 1, table, is supported)");
  }
  return std::make_shared<Recordset>(openRows_());
}

Database::Database(std::shared_ptr<detail::Connection> connection) : connection_(std::move(connection)) {}

Database::Database(std::shared_ptr<jet::File> jet) : jet_(std::move(jet)) {}

std::shared_ptr<TableDef> Database::TableDefs(std::string_view name) {
  if (jet_) {
    std::optional<std::string> table = jet::TableName(*jet_, AnsiToUtf8(name));
    if (!table) Raise(err::kItemNotFound, name);
    return std::make_shared<TableDef>(
        [file = jet_, table = std::move(*table)] { return jet::OpenRows(file, table); });
  }
  std::optional<std::string> table = detail::ExistingTableName(*connection_, AnsiToUtf8(name));
  if (!table) Raise(err::kItemNotFound, name);
  return std::make_shared<TableDef>([connection = connection_, table = std::move(*table)] {
    return detail::OpenSqlRows(connection, table);
  });
}

std::optional<std::string> Database::WhyNotUpdatable() const {
  if (jet_) return jet::WhyNotWritten(*jet_);
  return std::nullopt;
}

bool Database::CompactJet() {
  assert(jet_ && !jet::WhyNotWritten(*jet_));
  return jet::Compact(*jet_);
}

void Database::FinishWriting() {
  if (connection_) connection_->FinishWriting();
  if (jet_) jet::FinishWriting(*jet_);
}

std::shared_ptr<Database> Workspace::OpenDatabase(std::string_view name, std::int16_t options, bool readOnly,
                                                  std::string_view connect) {
  if (options != 0) {
    Raise(err::kInvalidArgument,
          "open options " + std::to_string(options) + " (only 0, shared, is supported)");
  }
  const std::string password = detail::PasswordFromConnect(connect);
  if (IsAccessFile(name)) return std::make_shared<Database>(jet::Open(name, password, readOnly));
  return std::make_shared<Database>(detail::OpenKeyed(name, password, readOnly));
}

bool IsAccessFile(std::string_view name) { return jet::FormatOfFile(name) != jet::Format::kOther; }

std::shared_ptr<Workspace> DBEngine::Workspaces(std::int16_t index) {
  if (index != 0) Raise(err::kItemNotFound, "workspace " + std::to_string(index));
  if (!defaultWorkspace_) defaultWorkspace_ = std::make_shared<Workspace>();
  return defaultWorkspace_;
}

DBEngine& Engine() {
  static DBEngine engine;
  return engine;
}

}  // namespace corvald::engine
