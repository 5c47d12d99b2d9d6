// The convert command: every ".map4" file of the main window's file list,
// compressed and stored under the map number its name carries.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/UserInterface.h"
#include "store/MapRules.h"
#include "store/modConst.h"
#include "store/modDatabase.h"
#include "ui/Commands.h"

namespace corvald {

bool IsMapFileName(std::string_view name) {
  constexpr std::string_view kExtension = ".map4";
  if (name.size() < kExtension.size()) return false;
  return std::ranges::equal(name.substr(name.size() - kExtension.size()), kExtension,
                            [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + ('a' - 'A') : a) == b; });
}

namespace {

// The whole content of a file of the "Maps" folder. Fails with the file layer's
// numbers, for instance 53 when the file has gone since the list was filled.
std::string ReadMapFile(const std::string& path) {
  BinaryFile file = BinaryFile::OpenForReading(path);
  std::string record = file.ReadAll();
  file.Close();
  return record;
}

// Reads, compresses and stores one map file under the number its name
// carries. A failure goes on with the file's name in its description. The
// record is gone before the blob is stored, so that only one of them is held
// while the row is written.
void ConvertMapFile(const std::string& entry) {
  const std::string path = std::string(kMapsFolder) + "\\" + entry;
  try {
    const std::int32_t n = MapNumberFromFileName(entry);
    SetStatus("Converting Map #" + std::to_string(n));
    std::string blob = CompressData(ReadMapFile(path));
    SaveMapBlob(n, std::move(blob));
  } catch (const Failure& failure) {
    throw Failure(failure.Number(), failure.Description() + " (" + path + ")");
  } catch (const std::bad_alloc&) {
    throw Failure(err::kOutOfMemory, StandardDescription(err::kOutOfMemory) + " (" + path + ")");
  }
}

// ShutDown releases the recordset, so a run that finds it gone after yielding
// must not go on.
bool ShutDownHasRun() { return rsMaps == nullptr; }

}  // namespace

bool cmdButton2_Click() {
  if (!FileExists(kServerFile)) {
    MsgBox("Error: File 'server.dat' not found!");
    return false;
  }
  if (std::ranges::none_of(FileListEntries(), IsMapFileName)) {
    MsgBox("Error: No '.map4' files found in the 'Maps' folder!");
    return false;
  }
  std::int32_t converted = 0;
  for (std::size_t k = 0;; ++k) {
    // Read again before every entry: what the list holds after a yield is what
    // counts. The entry is copied, as a yield may close the window and its list.
    const std::vector<std::string>& entries = FileListEntries();
    if (k >= entries.size()) break;
    const std::string entry = entries[k];
    if (!IsMapFileName(entry)) continue;
    ConvertMapFile(entry);
    ++converted;
    DoEvents();
    if (ShutDownHasRun()) return false;
  }
  // The closing count means every map is in the database file itself.
  FinishServerWrites();
  UnloadLoading();
  MsgBox(std::to_string(converted) + " Maps converted!");
  return true;
}

}  // namespace corvald
