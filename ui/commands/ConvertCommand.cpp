// The convert command: every ".map4" file of the main window's file list,
// compressed and stored under the map number its name carries.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/modCorvald.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/OrderedWork.h"
#include "platform/UserInterface.h"
#include "store/MapRules.h"
#include "store/modConst.h"
#include "store/modDatabase.h"
#include "ui/commands/Commands.h"

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

// Map files read and compressed ahead of their turn, on every core: about two
// files a core, and no more than 32 MiB of them unless a file is larger alone.
using FilesAhead = OrderedWork<std::string>;

std::unique_ptr<FilesAhead> StartFilesAhead() {
  constexpr std::uint64_t kBytesAhead = 32 << 20;
  return std::make_unique<FilesAhead>(kBytesAhead);
}

// Hands the workers the map files of the list from index `next` on, as far as
// the bounds allow; returns the index of the first entry not handed over.
std::size_t ReadAhead(FilesAhead& ahead, const std::vector<std::string>& entries, std::size_t next) {
  for (; next < entries.size(); ++next) {
    if (!IsMapFileName(entries[next])) continue;
    const std::string path = MapsFolderPath(entries[next]);
    std::error_code unknown;
    const std::uint64_t size = std::filesystem::file_size(NativePath(path), unknown);
    if (!ahead.HasRoomFor(unknown ? 0 : size)) break;
    ahead.Add([path] { return CompressData(ReadMapFile(path)); }, unknown ? 0 : size);
  }
  return next;
}

// A blob whose storing may take longer than a screen frame.
constexpr std::size_t kLongToStore = 1 << 20;

// Stores the next map file that the workers read and compressed under the
// number its name carries. Its text is paced to the screen: while it waits
// for its frame, the program waits for the workers no longer than that frame
// before drawing it, and draws it before storing a large blob. A failure,
// also one of reading or compressing the file, goes on with the file's name
// in its description.
void ConvertMapFile(const std::string& entry, FilesAhead& ahead) {
  const std::string path = MapsFolderPath(entry);
  try {
    const std::int32_t n = MapNumberFromFileName(entry);
    SetProgress("Converting Map #" + std::to_string(n));
    if (const auto left = ProgressWaitingLeft(); left && !ahead.AwaitNext(*left)) ShowWaitingProgress();
    std::string blob = ahead.Take();
    if (blob.size() >= kLongToStore) ShowWaitingProgress();
    SaveMapBlob(n, std::move(blob));
  } catch (...) {
    const NumberedFailure failure = CurrentFailure();
    throw Failure(failure.number, failure.description + " (" + path + ")");
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
  if (const std::optional<std::string> why = dbServer->WhyNotUpdatable()) {
    MsgBox("Error: File 'server.dat' is a Jet database that this program does not write: " + *why +
           ". No map was converted.");
    return false;
  }
  if (std::ranges::none_of(FileListEntries(), IsMapFileName)) {
    MsgBox("Error: No '.map4' files found in the 'Maps' folder!");
    return false;
  }
  std::int32_t converted = 0;
  std::unique_ptr<FilesAhead> ahead = StartFilesAhead();
  std::size_t next = 0;
  for (std::size_t k = 0;; ++k) {
    // Read again before every entry: what the list holds after a yield is what
    // counts. The entry is copied, as a yield may close the window and its list.
    const std::vector<std::string>& entries = FileListEntries();
    if (k >= entries.size()) break;
    const std::string entry = entries[k];
    if (!IsMapFileName(entry)) continue;
    next = ReadAhead(*ahead, entries, std::max(next, k));
    ConvertMapFile(entry, *ahead);
    ++converted;
    const int dumps = DumpsStarted();
    DoEvents();
    // A close ends the run here; what the workers hold is dropped.
    if (ShutDownHasRun()) return false;
    // A dump run meanwhile may have rewritten the files read ahead.
    if (DumpsStarted() != dumps) {
      ahead = StartFilesAhead();
      next = k + 1;
    }
  }
  // The closing count means every map is in the database file itself, which
  // takes the disk's time.
  ShowWaitingProgress();
  FinishServerWrites();
  UnloadLoading();
  MsgBox(std::to_string(converted) + " Maps converted!");
  return true;
}

}  // namespace corvald
