#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "store/Engine.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"

namespace corvald::test {

inline std::shared_ptr<engine::Database> OpenServer(const std::string& name = "server.dat",
                                                    const std::string& connect = ";pwd=brevola") {
  return engine::Engine().Workspaces(0)->OpenDatabase(name, 0, false, connect);
}

inline std::shared_ptr<engine::Recordset> OpenMaps(engine::Database& database, const char* index = "Number") {
  auto recordset = database.TableDefs("Maps")->OpenRecordset(1);
  if (index != nullptr) recordset->SetIndex(index);
  return recordset;
}

inline std::optional<std::int64_t> NumberOf(const engine::Value& value) {
  if (std::holds_alternative<std::monostate>(value)) return std::nullopt;
  return std::get<std::int64_t>(value);
}

// Every row from the first on, the way the loader walks the table.
inline std::vector<MapRow> Walk(engine::Recordset& recordset) {
  std::vector<MapRow> rows;
  if (recordset.Bof()) return rows;
  recordset.MoveFirst();
  while (!recordset.Eof()) {
    rows.push_back({NumberOf(recordset.Field("Number")), engine::ToText(recordset.Field("Data"))});
    recordset.MoveNext();
  }
  return rows;
}

inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder = ".") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace corvald::test
