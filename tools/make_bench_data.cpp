// make_bench_data <out-folder> [set ...]
//
// Writes benchmark data that looks like real maps: each map record is a name
// padded to 30 characters, then a grid of 16-byte tile records, neighbours
// alike with small variations, so that zlib shrinks a record about 5 times. Each
// set is a folder holding the maps twice: as "server.dat" (their blobs) and as
// the "Maps" folder (their .map4 files). Sets, all made unless named:
//   maps-300, maps-1000, maps-3000   64 KiB maps, numbered 1 to n
//   large-40                         8 MiB maps, numbered 1 to 40
//   huge-1                           one 96 MiB map of random bytes, which
//                                    zlib cannot shrink (for peak memory)
//   fast-3000                        3000 maps of 56 to 72 KiB whose rows of
//                                    tiles repeat the row before but for one
//                                    stretch of new bytes: zlib shrinks them
//                                    about 8 times, at about 90 MB/s on one
//                                    core, three times the tile grids' rate
// The same map number gives the same record in every set. A set folder that
// exists already is left as it is; remove it to make it anew.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "store/MapRules.h"
#include "store/engine/MakeDatabase.h"

namespace {

struct DataSet {
  const char* name;
  int maps;
  std::size_t recordSize;
  enum class Kind { kTiles, kRandom, kRows } kind = Kind::kTiles;
};

constexpr DataSet kDataSets[] = {
    {"maps-300", 300, 64 * 1024},
    {"maps-1000", 1000, 64 * 1024},
    {"maps-3000", 3000, 64 * 1024},
    {"large-40", 40, 8 * 1024 * 1024},
    {"huge-1", 1, 96 * 1024 * 1024, DataSet::Kind::kRandom},
    {"fast-3000", 3000, 64 * 1024, DataSet::Kind::kRows},
};

constexpr std::size_t kTileSize = 16;

// A named map record of random bytes.
std::string RandomRecord(int number, std::size_t size) {
  std::mt19937 rng(static_cast<std::uint32_t>(number));
  char name[31];
  std::snprintf(name, sizeof name, "%-30s", ("Random Map " + std::to_string(number)).c_str());
  std::string record(name, 30);
  record.resize(size);
  for (std::size_t i = 30; i < size; ++i) record[i] = static_cast<char>(rng());
  return record;
}

// One map record. Tiles run in stretches of the same ground; each tile varies
// its item and light bytes a little, as real terrain does.
std::string MapRecord(int number, std::size_t size) {
  std::mt19937 rng(static_cast<std::uint32_t>(number) * 2654435761u);
  char name[31];
  std::snprintf(name, sizeof name, "%-30s", ("Bench Map " + std::to_string(number)).c_str());
  std::string record(name, 30);
  record.reserve(size + kTileSize);
  std::uint16_t ground = 1;
  while (record.size() < size) {
    if (rng() % 6 == 0) ground = static_cast<std::uint16_t>(rng() % 512);
    char tile[kTileSize] = {};
    tile[0] = static_cast<char>(ground & 0xFF);
    tile[1] = static_cast<char>(ground >> 8);
    tile[2] = static_cast<char>(rng() % 3 == 0 ? rng() % 64 : 0);  // item
    tile[3] = static_cast<char>(rng() % 4);                        // light
    tile[4] = static_cast<char>(rng() % 5 == 0 ? rng() : 0);       // owner
    tile[8] = static_cast<char>(ground % 7);                       // flags
    record.append(tile, kTileSize);
  }
  record.resize(size);
  return record;
}

// One map record of 56 to 72 KiB (`size` give or take 8 KiB): rows of 64 tiles
// whose bytes take 16 values, each row the one before with a stretch of 12
// tiles made new. zlib finds the repeated rows at once, so it compresses these
// about three times faster than the tile grids, to about an eighth.
std::string RowsRecord(int number, std::size_t size) {
  constexpr std::size_t kRowSize = 64 * kTileSize, kNewBytes = 12 * kTileSize;
  std::mt19937 rng(static_cast<std::uint32_t>(number) * 40503u);
  size = size - 8 * 1024 + static_cast<std::size_t>(number * 7919) % (16 * 1024);
  char name[31];
  std::snprintf(name, sizeof name, "%-30s", ("Fast Map " + std::to_string(number)).c_str());
  std::string record(name, 30);
  record.reserve(size + kRowSize);
  std::string row(kRowSize, '\0');
  for (char& byte : row) byte = static_cast<char>(rng() % 16);
  while (record.size() < size) {
    const std::size_t at = rng() % (kRowSize - kNewBytes);
    for (std::size_t i = at; i < at + kNewBytes; ++i) row[i] = static_cast<char>(rng() % 16);
    record += row;
  }
  record.resize(size);
  return record;
}

void WriteFile(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot write " + file.string());
}

// Writes one set into a folder of its name, through a temporary folder so that an
// interrupted run leaves no half-made set.
void MakeDataSet(const std::filesystem::path& out, const DataSet& set) {
  const std::filesystem::path folder = out / set.name;
  if (std::filesystem::exists(folder)) return;
  const std::filesystem::path partial = out / (std::string(set.name) + ".partial");
  std::filesystem::remove_all(partial);
  std::filesystem::create_directories(partial / "Maps");
  std::vector<corvald::engine::MapsRow> rows;
  std::uintmax_t recordBytes = 0;
  std::uintmax_t blobBytes = 0;
  for (int number = 1; number <= set.maps; ++number) {
    const std::string record = set.kind == DataSet::Kind::kRandom ? RandomRecord(number, set.recordSize)
                               : set.kind == DataSet::Kind::kRows ? RowsRecord(number, set.recordSize)
                                                                  : MapRecord(number, set.recordSize);
    const std::string name = corvald::MapNameOf(record);
    WriteFile(partial / corvald::NativePath(corvald::MapFileName(number, name)), record);
    rows.push_back({number, corvald::CompressData(record)});
    recordBytes += record.size();
    blobBytes += rows.back().blob.size();
  }
  corvald::engine::MakeServerDatabase(partial / "server.dat", rows);
  std::filesystem::rename(partial, folder);
  std::cout << set.name << ": " << set.maps << " maps, " << recordBytes / 1048576 << " MiB of records, "
            << blobBytes / 1048576 << " MiB of blobs (ratio "
            << static_cast<double>(recordBytes) / static_cast<double>(blobBytes) << ")\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: make_bench_data <out-folder> "
                 "[maps-300|maps-1000|maps-3000|large-40|huge-1|fast-3000 ...]\n";
    return 2;
  }
  const std::vector<std::string> wanted(argv + 2, argv + argc);
  try {
    std::filesystem::create_directories(argv[1]);
    for (const DataSet& set : kDataSets) {
      if (wanted.empty() || std::find(wanted.begin(), wanted.end(), set.name) != wanted.end()) {
        MakeDataSet(argv[1], set);
      }
    }
  } catch (const corvald::Failure& failure) {
    std::cerr << "make_bench_data: " << failure.Description() << " (" << failure.Number() << ")\n";
    return 1;
  } catch (const std::exception& failure) {
    std::cerr << "make_bench_data: " << failure.what() << "\n";
    return 1;
  }
  return 0;
}
