// make_server_dat <out-file> [--empty]
//
// Makes a new server database: the table "Maps" (Number INTEGER, Data BLOB)
// with the non-unique index "Number", keyed with the server's password. Without
// --empty it holds a few dozen sample maps, each stored as its compressed blob.
// An existing file is never overwritten.

#include <filesystem>
#include <iostream>
#include <string_view>
#include <vector>

#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "store/engine/MakeDatabase.h"
#include "tools/SampleMaps.h"

namespace {

std::vector<corvald::engine::MapsRow> SampleRows() {
  std::vector<corvald::engine::MapsRow> rows;
  for (const corvald::tools::SampleMap& map : corvald::tools::SampleMaps()) {
    rows.push_back({map.number, corvald::CompressData(map.record)});
  }
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const bool empty = argc == 3 && std::string_view(argv[2]) == "--empty";
  if (argc != 2 && !empty) {
    std::cerr << "usage: make_server_dat <out-file> [--empty]\n";
    return 2;
  }
  try {
    corvald::engine::MakeServerDatabase(argv[1],
                                        empty ? std::vector<corvald::engine::MapsRow>() : SampleRows());
  } catch (const corvald::Failure& failure) {
    std::cerr << "make_server_dat: " << argv[1] << ": " << failure.Description() << " (" << failure.Number()
              << ")\n";
    return 1;
  }
  return 0;
}
