// The program's start-up, dump and convert, each timed beside the work it
// cannot avoid on the same data (its floor), in this process.
#include <fcntl.h>
#include <sqlcipher/sqlite3.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/modCorvald.h"
#include "bench/PerfProtocol.h"
#include "platform/Files.h"
#include "platform/MessageBox.h"
#include "platform/UserInterface.h"
#include "store/modConst.h"
#include "store/modDatabase.h"
#include "ui/commands/Commands.h"
#include "ui/windows/frmLoading.h"
#include "ui/windows/frmMain.h"

namespace corvald::perf {

namespace {

constexpr const char* kSetMapsFolder = "Maps.set";
constexpr int kDumpRounds = 3;

// A database opened with the server's password and read once, which derives
// its key.
class KeyedDatabase {
 public:
  explicit KeyedDatabase(const std::filesystem::path& file) {
    if (sqlite3_open_v2(file.c_str(), &handle_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK ||
        sqlite3_key(handle_, kServerPassword, static_cast<int>(std::strlen(kServerPassword))) != SQLITE_OK) {
      Fail("open");
    }
    Execute("SELECT count(*) FROM sqlite_master");
  }
  ~KeyedDatabase() { sqlite3_close_v2(handle_); }
  KeyedDatabase(const KeyedDatabase&) = delete;
  KeyedDatabase& operator=(const KeyedDatabase&) = delete;

  void Execute(const char* sql) {
    if (sqlite3_exec(handle_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
  }
  sqlite3_stmt* Prepare(const char* sql) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle_, sql, -1, &statement, nullptr) != SQLITE_OK) Fail(sql);
    return statement;
  }
  [[noreturn]] void Fail(const std::string& what) {
    throw std::runtime_error(what + ": " + sqlite3_errmsg(handle_));
  }

 private:
  sqlite3* handle_ = nullptr;
};

std::uint32_t PrefixOf(const unsigned char* blob) {
  return blob[0] | (blob[1] << 8) | (blob[2] << 16) | (static_cast<std::uint32_t>(blob[3]) << 24);
}

// Start-up's floor: the sqlcipher shell's compaction of a copy of the database
// (the copy made beforehand), then one keyed read of every row of the copy and
// bare inflation of every blob into one reused buffer, on one core.
double StartUpFloor(const std::filesystem::path& scratch) {
  const std::filesystem::path copy = scratch / "startup-floor.dat";
  const std::filesystem::path compacted = scratch / "startup-floor-compacted.dat";
  PlainCopy(kServerFile, copy);
  std::filesystem::remove(compacted);
  // Read once before the attach, so that the copy takes the source's key and
  // salt, as the program's does: one key derivation.
  const std::string script = std::string("PRAGMA key = '") + kServerPassword +
                             "';\nSELECT count(*) FROM sqlite_master;\nATTACH DATABASE '" +
                             compacted.string() + "' AS compacted;\nSELECT sqlcipher_export('compacted');\n";
  const double shell = Seconds([&] {
    std::FILE* sqlcipher = popen(("sqlcipher '" + copy.string() + "' > /dev/null").c_str(), "w");
    if (sqlcipher == nullptr || std::fputs(script.c_str(), sqlcipher) < 0 || pclose(sqlcipher) != 0) {
      throw std::runtime_error("the sqlcipher shell could not compact " + copy.string());
    }
  });
  const double seconds = Seconds([&] {
    KeyedDatabase database(compacted);
    sqlite3_stmt* select = database.Prepare("SELECT Number, Data FROM Maps");
    std::vector<unsigned char> record;
    while (sqlite3_step(select) == SQLITE_ROW) {
      const auto* blob = static_cast<const unsigned char*>(sqlite3_column_blob(select, 1));
      const int size = sqlite3_column_bytes(select, 1);
      if (sqlite3_column_int64(select, 0) < 1 || sqlite3_column_int64(select, 0) > MAX_MAPS || size < 5)
        continue;
      record.resize(PrefixOf(blob));
      uLongf length = record.size();
      if (uncompress(record.data(), &length, blob + 4, static_cast<uLong>(size - 4)) != Z_OK) {
        throw std::runtime_error("a blob does not expand");
      }
    }
    sqlite3_finalize(select);
  });
  std::filesystem::remove(copy);
  std::filesystem::remove(compacted);
  return shell + seconds;
}

// Dump's floor: the loaded records written into as many files of `folder` with
// plain open, write and close; new files the first time, over them the next.
double DumpFloor(const std::filesystem::path& folder) {
  std::filesystem::create_directories(folder);
  return Seconds([&] {
    for (int n = 1; n <= MAX_MAPS; ++n) {
      const MapRec& map = MapList[n];
      if (map.Name.empty()) continue;
      const std::string file = (folder / (std::to_string(n) + ".map4")).string();
      const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
      if (fd < 0 || write(fd, map.Data.data(), map.Data.size()) != static_cast<ssize_t>(map.Data.size())) {
        throw std::runtime_error("cannot write " + file);
      }
      close(fd);
    }
  });
}

// Convert's floor: each map file read whole and compressed by bare zlib, on one core.
double ConvertFloor() {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(kMapsFolder)) files.push_back(entry.path());
  return Seconds([&] {
    std::vector<unsigned char> blob;
    for (const std::filesystem::path& file : files) {
      const std::string record = ReadWholeFile(file);
      uLongf length = compressBound(record.size());
      blob.resize(4 + length);
      if (compress(blob.data() + 4, &length, reinterpret_cast<const Bytef*>(record.data()), record.size()) !=
          Z_OK) {
        throw std::runtime_error("cannot compress " + file.string());
      }
    }
  });
}

void Print(const char* name, double value) { std::cout << name << ' ' << value << '\n'; }

// Start-up as Main runs it, the status window up before the database is
// touched; prints its time, the part of it until the maps are read (the
// compaction and the opening), the peak memory then and the map table's size,
// and returns the number of maps loaded.
int StartUp() {
  SetStatus("Checking zlib.dll ...");
  bool loaded = false;
  std::chrono::steady_clock::time_point start;
  double opened = 0;
  SetStatusListener([&](std::string_view text) {
    if (text == "Loading Maps..") {
      opened = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
  });
  Print("startup", Seconds([&] {
          start = std::chrono::steady_clock::now();
          loaded = LoadServerDatabase();
        }));
  SetStatusListener({});
  if (!loaded) throw std::runtime_error("start-up failed");
  Print("startup_open", opened);
  Print("peak_bytes", static_cast<double>(PeakResidentBytes()));
  std::uint64_t tableBytes = 0;
  std::size_t largest = 0;
  int maps = 0;
  for (int n = 1; n <= MAX_MAPS; ++n) {
    tableBytes += MapList[n].Data.size();
    largest = std::max(largest, MapList[n].Data.size());
    maps += MapList[n].Name.empty() ? 0 : 1;
  }
  Print("maps", maps);
  Print("table_bytes", static_cast<double>(tableBytes));
  Print("largest_bytes", static_cast<double>(largest));
  return maps;
}

}  // namespace

int RunStartUp(const std::filesystem::path& work) {
  SetCurrentFolder(work);
  SetMessageBoxHandler([](const std::string& text, MsgIcon) { throw std::runtime_error(text); });
  StartUp();
  ShutDown();
  SetMessageBoxHandler({});
  return 0;
}

int RunConvertInto(const std::filesystem::path& work) {
  SetCurrentFolder(work);
  std::vector<std::string> boxes;
  SetMessageBoxHandler([&boxes](const std::string& text, MsgIcon) { boxes.push_back(text); });
  std::size_t files = 0, largest = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kMapsFolder)) {
    ++files;
    largest = std::max<std::size_t>(largest, entry.file_size());
  }
  Print("files", static_cast<double>(files));
  Print("largest_file_bytes", static_cast<double>(largest));
  // The convert as the window's button runs it, with the main window up.
  const auto convert = [&](const std::string& name) {
    ShowMain();
    UnloadLoading();
    boxes.clear();
    ResetPeakResidentBytes();
    Print(name.c_str(), Seconds(cmdButton2_Click));
    Print((name + "_peak_bytes").c_str(), static_cast<double>(PeakResidentBytes()));
    if (boxes.size() != 1 || boxes.front() != std::to_string(files) + " Maps converted!") {
      throw std::runtime_error("convert did not end as expected: " + (boxes.empty() ? "" : boxes.back()));
    }
    ShutDown();
  };
  SetStatus("Checking zlib.dll ...");
  if (!LoadServerDatabase()) throw std::runtime_error("start-up failed");
  convert("convert_empty");
  StartUp();
  convert("convert");
  SetMessageBoxHandler({});
  return 0;
}

int RunOperations(const std::filesystem::path& work, const std::filesystem::path& scratch) {
  std::filesystem::create_directories(scratch);
  SetCurrentFolder(work);
  std::vector<std::string> boxes;
  SetMessageBoxHandler([&boxes](const std::string& text, MsgIcon) { boxes.push_back(text); });

  const int maps = StartUp();
  Print("startup_floor", StartUpFloor(scratch));

  ShowMain();
  UnloadLoading();
  // The main window has listed the set's map files for the convert. The dump
  // first writes into a new "Maps" folder, as a first dump does, then over the
  // files it wrote; a file system spends more on a file it must empty first.
  std::filesystem::rename(kMapsFolder, kSetMapsFolder);
  // Page cache that the machine has never used before costs several times more to
  // fill (about 25 ms for 8 MiB on the benchmark VM, against 3 ms once reused), so
  // the same bytes are written and deleted once, untimed, before any dump is timed.
  DumpFloor(scratch / "warm-up");
  std::filesystem::remove_all(scratch / "warm-up");
  // What the dump spends on showing its progress: each map's text, drawn at once.
  Print("status", Seconds([] {
          for (int n = 1; n <= MAX_MAPS; ++n) {
            if (!MapList[n].Name.empty()) {
              SetProgress(DumpStatusText(n, ShownName(MapList[n])));
            }
          }
        }));
  UnloadLoading();
  // File writes on a shared machine vary a lot from one second to the next, so
  // the dumps and their floors take turns, and each keeps its best round.
  double dump = HUGE_VAL, redump = HUGE_VAL, dumpFloor = HUGE_VAL, redumpFloor = HUGE_VAL;
  for (int round = 0; round < kDumpRounds; ++round) {
    dump = std::min(dump, Seconds(cmdButton1_Click));
    redump = std::min(redump, Seconds(cmdButton1_Click));
    std::filesystem::remove_all(kMapsFolder);
    dumpFloor = std::min(dumpFloor, DumpFloor(scratch / "dump-floor"));
    redumpFloor = std::min(redumpFloor, DumpFloor(scratch / "dump-floor"));
    std::filesystem::remove_all(scratch / "dump-floor");
  }
  Print("dump", dump);
  Print("redump", redump);
  Print("dump_floor", dumpFloor);
  Print("redump_floor", redumpFloor);
  std::filesystem::rename(kSetMapsFolder, kMapsFolder);
  ResetPeakResidentBytes();
  Print("convert", Seconds(cmdButton2_Click));
  Print("convert_peak_bytes", static_cast<double>(PeakResidentBytes()));
  if (boxes.size() != 1 || boxes.front() != std::to_string(maps) + " Maps converted!") {
    throw std::runtime_error("convert did not end as expected: " + (boxes.empty() ? "" : boxes.back()));
  }
  Print("convert_floor", ConvertFloor());
  ShutDown();
  SetMessageBoxHandler({});
  return 0;
}

}  // namespace corvald::perf
