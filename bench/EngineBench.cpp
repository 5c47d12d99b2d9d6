// Walking and seeking a "Maps" table of 3000 rows through the engine layer, as
// start-up and the convert command do.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>

#include "store/Engine.h"
#include "store/engine/Sqlite.h"

namespace {

using corvald::engine::detail::Affinity;
using corvald::engine::detail::Connection;
using corvald::engine::detail::Statement;

constexpr int kRows = 3000;
constexpr char kConnect[] = ";pwd=brevola";

// A keyed database of 3000 maps with 2 KB blobs, made once per run.
const std::string& BenchDatabase() {
  static const std::string path = [] {
    const auto file =
        std::filesystem::temp_directory_path() / ("corvald-bench-" + std::to_string(getpid()) + ".dat");
    sqlite3* handle = nullptr;
    sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const Connection database(handle, file.string());
    sqlite3_key(handle, "brevola", 7);
    database.Execute("BEGIN");
    database.Execute("CREATE TABLE Maps (Number INTEGER, Data BLOB)");
    database.Execute("CREATE INDEX Number ON Maps (Number)");
    Statement insert(database, "INSERT INTO Maps (Number, Data) VALUES (?1, ?2)");
    for (int i = 0; i < kRows; ++i) {
      insert.BindInt64(1, (i * 7919) % kRows + 1);  // added out of order
      insert.BindField(2, std::string(2048, static_cast<char>(i)), Affinity::kBlob);
      insert.Run();
    }
    database.Execute("COMMIT");
    std::atexit([] { std::filesystem::remove(path); });
    return file.string();
  }();
  return path;
}

std::shared_ptr<corvald::engine::Recordset> OpenMaps() {
  auto database = corvald::engine::Engine().Workspaces(0)->OpenDatabase(BenchDatabase(), 0, false, kConnect);
  auto maps = database->TableDefs("Maps")->OpenRecordset(1);
  maps->SetIndex("Number");
  return maps;
}

void WalkAllRows(benchmark::State& state) {
  auto maps = OpenMaps();
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (maps->MoveFirst(); !maps->Eof(); maps->MoveNext()) {
      benchmark::DoNotOptimize(corvald::engine::ToLong(maps->Field("Number")));
      bytes += corvald::engine::ToText(maps->Field("Data")).size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(WalkAllRows)->Unit(benchmark::kMillisecond);

void SeekEveryNumber(benchmark::State& state) {
  auto maps = OpenMaps();
  for (auto _ : state) {
    for (std::int32_t number = 1; number <= kRows; ++number) {
      maps->Seek("=", number);
      benchmark::DoNotOptimize(maps->NoMatch());
    }
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(SeekEveryNumber)->Unit(benchmark::kMillisecond);

void OpenDatabaseAndTable(benchmark::State& state) {
  BenchDatabase();
  for (auto _ : state) benchmark::DoNotOptimize(OpenMaps());
}
BENCHMARK(OpenDatabaseAndTable)->Unit(benchmark::kMillisecond);

}  // namespace
