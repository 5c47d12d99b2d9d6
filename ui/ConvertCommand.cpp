// The convert command: every ".map4" file of the main window's file list,
// compressed and stored under the map number its name carries.
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
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
std::string ReadMapFile(const std::string& entry) {
  BinaryFile file = BinaryFile::OpenForReading(std::string(kMapsFolder) + "\\" + entry);
  std::string record = file.ReadAll();
  file.Close();
  return record;
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
  if (!dbServer->Updatable()) {
    MsgBox(
        "Error: File 'server.dat' is a Jet database, which this program reads but does not write. No map was "
        "converted.");
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
    const std::int32_t n = MapNumberFromFileName(entry);
    SetStatus("Converting Map #" + std::to_string(n));
    SaveMapBlob(n, CompressData(ReadMapFile(entry)));
    ++converted;
    DoEvents();
    if (ShutDownHasRun()) return false;
  }
  UnloadLoading();
  MsgBox(std::to_string(converted) + " Maps converted!");
  return true;
}

}  // namespace corvald
