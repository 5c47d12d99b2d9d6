// The dump command: every loaded map into a map file of its own, with rejected
// file names rebuilt once and every other failure reported before the program ends.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/modCorvald.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/UserInterface.h"
#include "store/MapRules.h"
#include "store/modConst.h"
#include "store/modDatabase.h"
#include "ui/commands/Commands.h"

namespace corvald {

namespace {

// Whether the file system refused the path itself: a malformed name (52) or a
// folder on the path that does not exist (76, a "/" in the map's name).
bool IsRejectedPath(int number) { return number == err::kBadFileName || number == err::kPathNotFound; }

// Makes the file hold exactly `record`, creating it or emptying it first. Fails
// with the file layer's numbers. A file that fails while being written is
// deleted: cut short, it would pass for a whole map, and a convert would store it.
void WriteMapFile(const std::string& fileName, const std::string& record) {
  std::optional<BinaryFile> file(BinaryFile::OpenForWriting(fileName));
  try {
    file->Write(record);
    file->Close();
  } catch (const Failure&) {
    file.reset();  // closed first, as some systems delete no open file
    try {
      Kill(fileName);
    } catch (const Failure&) {
      // The write's failure is the one to report.
    }
    throw;
  }
}

// Writes map n's file under its name; when the path is rejected, once more under
// the rebuilt name. A second rejection, like any other failure, goes to the caller.
void DumpMap(std::int32_t n, std::string_view name, const std::string& record) {
  try {
    WriteMapFile(MapFileName(n, name), record);
  } catch (const Failure& failure) {
    if (!IsRejectedPath(failure.Number())) throw;
    WriteMapFile(MapFileName(n, SanitizedMapName(name)), record);
  }
}

// Reports a failure that ends the dump, with the slot it arose at, then shuts the
// program down. Failures of the box itself go on to the caller.
void EndDump(std::int32_t n, int number, const std::string& description) {
  MsgBox("Report the following error code and description to the program administrator!\r\n\r\nMap #" +
         std::to_string(n) + " - Error #" + std::to_string(number) + " - " + description);
  ShutDown();
}

}  // namespace

std::string DumpStatusText(std::int32_t n, std::string_view name) {
  return "Dumping Map #" + std::to_string(n) + " - " + std::string(name) + " ...";
}

namespace {
int dumpsStarted = 0;
}  // namespace

int DumpsStarted() { return dumpsStarted; }

bool cmdButton1_Click() {
  ++dumpsStarted;
  // The slot a failure is reported with: 0 before the first slot, and MAX_MAPS + 1,
  // where the loop leaves it, after the last.
  std::int32_t n = 0;
  try {
    if (!DirExists(kMapsFolder)) MkDir(kMapsFolder);
    for (n = 1; n <= MAX_MAPS; ++n) {
      const MapRec& map = MapList[n];
      if (map.Name.empty()) continue;
      const std::string name(ShownName(map));
      SetProgress(DumpStatusText(n, name));
      DumpMap(n, name, map.Data);
    }
    UnloadLoading();
    return true;
  } catch (...) {
    const NumberedFailure failure = CurrentFailure();
    EndDump(n, failure.number, failure.description);
  }
  return false;
}

}  // namespace corvald
