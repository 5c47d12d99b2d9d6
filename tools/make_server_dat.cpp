// make_server_dat [--jet] <out-file> [--empty]
//
// Makes a new server database: the table "Maps" (Number INTEGER, Data BLOB)
// with the non-unique index "Number", keyed with the server's password; with
// --jet, a Jet 4 file from the template shipped here (Number a Long Integer,
// Data an OLE Object). Without --empty it holds a few dozen sample maps, each
// stored as its compressed blob. An existing file is never overwritten.

#include <QFile>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <vector>

#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/FileReplacement.h"
#include "platform/Files.h"
#include "platform/PositionalFile.h"
#include "store/Engine.h"
#include "store/engine/MakeDatabase.h"
#include "store/modConst.h"
#include "tools/SampleMaps.h"

namespace {

std::vector<corvald::engine::MapsRow> SampleRows() {
  std::vector<corvald::engine::MapsRow> rows;
  for (const corvald::tools::SampleMap& map : corvald::tools::SampleMaps()) {
    rows.push_back({map.number, corvald::CompressData(map.record)});
  }
  return rows;
}

// A Jet 4 file from the template, with `rows` added through the engine, as a
// convert adds them.
void MakeJetDatabase(const std::filesystem::path& file, const std::vector<corvald::engine::MapsRow>& rows) {
  QFile resource(":/jet/template.mdb");
  if (!resource.open(QIODevice::ReadOnly)) throw corvald::Failure(53, "the template is missing");
  const QByteArray bytes = resource.readAll();
  if (const int error = corvald::CreateNewFile(file, 0600); error != 0) {
    throw corvald::Failure(58, std::strerror(error));
  }
  corvald::PositionalFile::OpenForUpdate(file).WriteAt(0, std::string_view(bytes.constData(), bytes.size()));
  if (rows.empty()) return;
  // The engine names files relative to the current folder.
  std::filesystem::current_path(std::filesystem::absolute(file).parent_path());
  const std::string name = file.filename().string();
  auto database =
      corvald::engine::Engine().Workspaces(0)->OpenDatabase(name, 0, false, corvald::kServerConnect);
  auto maps = database->TableDefs(corvald::kMapsTable)->OpenRecordset(corvald::kTableRecordset);
  maps->SetIndex(corvald::kNumberIndex);
  for (const corvald::engine::MapsRow& row : rows) {
    maps->AddNew();
    maps->SetField(corvald::kNumberField, row.number);
    maps->SetField(corvald::kDataField, row.blob);
    maps->Update();
  }
  database->FinishWriting();
}

}  // namespace

int main(int argc, char** argv) {
  const bool jet = argc > 1 && std::string_view(argv[1]) == "--jet";
  const int first = jet ? 2 : 1;
  const bool empty = argc == first + 2 && std::string_view(argv[first + 1]) == "--empty";
  // An out-file that starts with "-" is an option this tool does not know, such as --help.
  if ((argc != first + 1 && !empty) || argc <= first || argv[first][0] == '-') {
    std::cerr << "usage: make_server_dat [--jet] <out-file> [--empty]\n";
    return 2;
  }
  try {
    const std::vector<corvald::engine::MapsRow> rows =
        empty ? std::vector<corvald::engine::MapsRow>() : SampleRows();
    if (jet) {
      MakeJetDatabase(argv[first], rows);
    } else {
      corvald::engine::MakeServerDatabase(argv[first], rows);
    }
  } catch (const corvald::Failure& failure) {
    std::cerr << "make_server_dat: " << argv[first] << ": " << failure.Description() << " ("
              << failure.Number() << ")\n";
    return 1;
  }
  return 0;
}
