// Walking and seeking a "Maps" table of 3000 rows through the engine layer, as
// start-up and the convert command do.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "store/Engine.h"
#include "store/engine/MakeDatabase.h"
#include "store/modConst.h"

namespace {

constexpr int kRows = 3000;

// The database's name. On first use it makes a keyed database of 3000 maps with
// 2 KB blobs. The engine names files relative to the current directory, as the
// program does, so the run works in a temporary folder of its own, removed at exit.
const char* BenchDatabase() {
  static std::string folder;
  if (folder.empty()) {
    folder = (std::filesystem::temp_directory_path() / "corvald-bench-XXXXXX").string();
    if (mkdtemp(folder.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    std::filesystem::current_path(folder);
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(folder, ignored);
    });
    std::vector<corvald::engine::MapsRow> rows;
    for (int i = 0; i < kRows; ++i) {
      // Added out of order.
      rows.push_back({(i * 7919) % kRows + 1, std::string(2048, static_cast<char>(i))});
    }
    corvald::engine::MakeServerDatabase(corvald::kServerFile, rows);
  }
  return corvald::kServerFile;
}

std::shared_ptr<corvald::engine::Recordset> OpenMaps() {
  auto database = corvald::engine::Engine().Workspaces(0)->OpenDatabase(BenchDatabase(), 0, false,
                                                                        corvald::kServerConnect);
  auto maps = database->TableDefs(corvald::kMapsTable)->OpenRecordset(corvald::kTableRecordset);
  maps->SetIndex(corvald::kNumberIndex);
  return maps;
}

void WalkAllRows(benchmark::State& state) {
  auto maps = OpenMaps();
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (maps->MoveFirst(); !maps->Eof(); maps->MoveNext()) {
      benchmark::DoNotOptimize(corvald::engine::ToLong(maps->Field(corvald::kNumberField)));
      bytes += corvald::engine::ToText(maps->Field(corvald::kDataField)).size();
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
