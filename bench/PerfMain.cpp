// corvald_perf: the program's start-up, dump and convert beside their floors and
// beside a Python peer, on the data sets that make_bench_data writes; start-up
// and the convert as the user waits for them on an X server, beside
// corvald-batch; and Jet databases beside SQLCipher ones. Prints the tables.
//
//   corvald_perf <data-folder> --program <corvald> --batch <corvald-batch> --peer <peer.py>
//                [--jet <file> --jet-empty <file>] [--repeat n] [set ...]
//
// The set "jet" is start-up on the Jet database <file> (compacted) and on a
// SQLCipher database that holds the same rows, beside a plain copy of the file
// forced to disk; then the map files of maps-3000 and huge-1 converted into
// the empty Jet database <jet-empty> and into an empty SQLCipher one, start-up
// on what they wrote, and the same convert again over those maps. Each
// measurement runs in a child process of its own (this program with --child
// and the like), so that its peak memory is its own. Each set runs n times
// (default 3), its parts side by side in each run; a cell is the median of the
// runs and their range, a ratio the median of each run's own ratio. The
// working copies go to <data-folder>/run and are removed at the end.
#include <sqlcipher/sqlite3.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "bench/PerfProtocol.h"
#include "platform/Allocator.h"
#include "platform/Files.h"
#include "platform/Fonts.h"
#include "store/Engine.h"
#include "store/engine/MakeDatabase.h"
#include "store/modConst.h"
#include "ui/windows/Windows.h"

namespace corvald::perf {

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(std::filesystem::file_size(file), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot read " + file.string());
  }
  return bytes;
}

void PlainCopy(const std::filesystem::path& from, const std::filesystem::path& to, bool sync) {
  std::FILE* in = std::fopen(from.c_str(), "rb");
  std::FILE* out = std::fopen(to.c_str(), "wb");
  std::vector<char> buffer(1 << 20);
  bool ok = in != nullptr && out != nullptr;
  while (ok) {
    const std::size_t got = std::fread(buffer.data(), 1, buffer.size(), in);
    ok = std::fwrite(buffer.data(), 1, got, out) == got;
    if (got < buffer.size()) break;
  }
  if (in != nullptr) ok = std::ferror(in) == 0 && std::fclose(in) == 0 && ok;
  if (out != nullptr && sync) ok = std::fflush(out) == 0 && fsync(fileno(out)) == 0 && ok;
  if (out != nullptr) ok = std::fclose(out) == 0 && ok;
  if (!ok) throw std::runtime_error("cannot copy " + from.string());
}

std::uint64_t PeakResidentBytes(const std::string& statusFile) {
  std::ifstream status(statusFile);
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  }
  return 0;
}

void ResetPeakResidentBytes() { std::ofstream("/proc/self/clear_refs") << "5"; }

namespace {

namespace fs = std::filesystem;

struct Options {
  fs::path data;
  fs::path program;
  fs::path batch;
  fs::path peer;
  fs::path jet;
  fs::path jetEmpty;
  int repeat = 3;
  std::vector<std::string> sets{"maps-300", "maps-1000", "maps-3000", "large-40",
                                "huge-1",   "fast-3000", "jet"};
};

// The sets whose start-up and convert are also measured on an X server, as the
// user waits for them, beside corvald-batch.
bool OnScreen(const std::string& set) { return set == "maps-3000" || set == "fast-3000"; }

// The sets whose map files the set "jet" converts into an empty database.
constexpr const char* kJetConvertSets[] = {"maps-3000", "huge-1"};

std::string Quoted(const fs::path& path) {
  std::string quoted = "'";
  for (char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs a command and reads its "name value" lines; throws when it fails.
Report RunReporting(const std::string& command) {
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run " + command);
  Report report;
  char line[512];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string name;
    double value = 0;
    if (fields >> name >> value) report[name] = value;
  }
  if (pclose(pipe) != 0) throw std::runtime_error("failed: " + command);
  return report;
}

// Adds one run's measurements, their names prefixed.
void AddRun(Runs& runs, const Report& run, const std::string& prefix = "") {
  for (const auto& [name, value] : run) runs[prefix + name].push_back(value);
}

void CopyFolderContent(const fs::path& from, const fs::path& to) {
  fs::remove_all(to);
  fs::create_directories(to);
  fs::copy(from, to, fs::copy_options::recursive);
}

// A fresh folder holding the set's "server.dat" and "Maps" and a copy of
// `program`; returns the copy's path.
fs::path ProgramBesideSet(const fs::path& set, const fs::path& folder, const fs::path& program) {
  CopyFolderContent(set, folder);
  fs::copy_file(program, folder / program.filename());
  return folder / program.filename();
}

// Writes an unencrypted copy of a server database for the peer.
void DecryptCopy(const fs::path& from, const fs::path& to) {
  sqlite3* handle = nullptr;
  sqlite3_open_v2(from.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  sqlite3_key(handle, kServerPassword, static_cast<int>(std::strlen(kServerPassword)));
  const std::string script = "ATTACH DATABASE '" + to.string() +
                             "' AS plain KEY ''; SELECT sqlcipher_export('plain'); DETACH DATABASE plain;";
  const int rc = sqlite3_exec(handle, script.c_str(), nullptr, nullptr, nullptr);
  const std::string message = sqlite3_errmsg(handle);
  sqlite3_close_v2(handle);
  if (rc != SQLITE_OK) throw std::runtime_error("cannot decrypt " + from.string() + ": " + message);
}

Runs MeasureSet(const Options& options, const std::string& set, const fs::path& self) {
  const fs::path source = options.data / set;
  const fs::path run = options.data / "run";
  Runs runs;
  for (int i = 0; i < options.repeat; ++i) {
    const fs::path work = run / set;
    CopyFolderContent(source, work);
    {
      // The status window on a real X server, as a user has it.
      const PrivateXvfb x;
      AddRun(runs, RunReporting("QT_QPA_PLATFORM=xcb DISPLAY=" + x.Name() + " " + Quoted(self) + " --child " +
                                Quoted(work) + " " + Quoted(run / (set + "-scratch"))));
    }
    fs::remove_all(work);
    fs::remove_all(run / (set + "-scratch"));

    const fs::path peer = run / (set + "-peer");
    CopyFolderContent(source, peer);
    DecryptCopy(peer / kServerFile, peer / "plain.db");
    fs::remove(peer / kServerFile);
    AddRun(runs, RunReporting("python3 " + Quoted(options.peer) + " " + Quoted(peer)), "peer_");
    fs::remove_all(peer);

    if (!OnScreen(set)) continue;
    // The window program, then corvald-batch, each on fresh copies of the set.
    const fs::path screen = run / "screen";
    AddRun(runs, MeasureWindow(ProgramBesideSet(source, screen, options.program), true), "screen_");
    fs::remove_all(screen);
    const fs::path terminal = run / "terminal";
    const fs::path batch = ProgramBesideSet(source, terminal, options.batch);
    runs["batch_list"].push_back(MeasureBatchList(batch));
    runs["batch_convert"].push_back(MeasureBatchConvert(batch));
    fs::remove_all(terminal);
  }
  return runs;
}

// Every row of the Jet database's "Maps", as the engine reads it.
std::vector<engine::MapsRow> JetRows(const fs::path& file) {
  SetCurrentFolder(file.parent_path());
  auto database =
      engine::Engine().Workspaces(0)->OpenDatabase(file.filename().string(), 0, true, kServerConnect);
  auto maps = database->TableDefs(kMapsTable)->OpenRecordset(kTableRecordset);
  std::vector<engine::MapsRow> rows;
  for (; !maps->Eof(); maps->MoveNext()) {
    rows.push_back({engine::ToLong(maps->Field(kNumberField)), engine::ToText(maps->Field(kDataField))});
  }
  return rows;
}

// Start-up on the Jet database and on a SQLCipher database made with the same
// rows, and a plain copy of the Jet file forced to disk; then the maps of
// kJetConvertSets converted into an empty Jet and an empty SQLCipher database.
Runs MeasureJet(const Options& options, const fs::path& self) {
  if (options.jet.empty() || options.jetEmpty.empty()) {
    throw std::invalid_argument("the set jet needs --jet <file> and --jet-empty <file>");
  }
  const fs::path run = options.data / "run";
  const fs::path jet = run / "jet", sqlcipher = run / "jet-sqlcipher";
  for (const fs::path& folder : {jet, sqlcipher}) {
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  engine::MakeServerDatabase(sqlcipher / kServerFile, JetRows(options.jet));
  const auto child = [&self](const char* mode, const fs::path& folder) {
    return RunReporting("QT_QPA_PLATFORM=offscreen " + Quoted(self) + " " + mode + " " + Quoted(folder));
  };
  Runs runs;
  for (int i = 0; i < options.repeat; ++i) {
    // Start-up rewrites the file, so each run starts from the file as given.
    fs::copy_file(options.jet, jet / kServerFile, fs::copy_options::overwrite_existing);
    AddRun(runs, child("--child-startup", jet), "jet_");
    AddRun(runs, child("--child-startup", sqlcipher), "sqlcipher_");
    runs["copy_floor"].push_back(Seconds([&] { PlainCopy(options.jet, run / "jet-copy.mdb", true); }));
    fs::remove(run / "jet-copy.mdb");
    for (const char* set : kJetConvertSets) {
      if (!fs::exists(options.data / set)) continue;
      for (const char* kind : {"jet", "sqlcipher"}) {
        const fs::path folder = run / (std::string("into-") + kind);
        CopyFolderContent(options.data / set / kMapsFolder, folder / kMapsFolder);
        if (kind == std::string_view("jet")) {
          fs::copy_file(options.jetEmpty, folder / kServerFile);
        } else {
          engine::MakeServerDatabase(folder / kServerFile, {});
        }
        AddRun(runs, child("--child-convert", folder), std::string(kind) + "_" + set + "_");
        fs::remove_all(folder);
      }
    }
  }
  return runs;
}

const std::vector<double>& Of(const Runs& runs, const std::string& name) {
  static const std::vector<double> kNone;
  const auto found = runs.find(name);
  return found == runs.end() ? kNone : found->second;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Largest(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

// The median of the runs and their range: "0.747 (0.731-0.760)".
std::string Spread(const std::vector<double>& values, int decimals = 3, const std::string& unit = "") {
  if (values.empty()) return "-";
  const auto [low, high] = std::minmax_element(values.begin(), values.end());
  return Fixed(Median(values), decimals) + unit + " (" + Fixed(*low, decimals) + "-" +
         Fixed(*high, decimals) + unit + ")";
}

// Each run's ratio of `a` to `b`, as a cell: both ran side by side in it.
std::string RatioCell(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    if (b[i] > 0) ratios.push_back(a[i] / b[i]);
  }
  return Spread(ratios, 2, "x");
}

std::string Mib(double bytes) { return Fixed(bytes / 1048576.0, 0) + " MiB"; }

// The largest peak of the runs, beside its limit: the map table, a map in the
// making beside it (2.2 times the largest: its blob twice, as read and as
// handed on, and its record's compress room), and 40 MiB.
std::string Peak(const Runs& r, const std::string& peak, const std::string& prefix = "") {
  const double limit =
      Median(Of(r, prefix + "table_bytes")) + 2.2 * Median(Of(r, prefix + "largest_bytes")) + 40.0 * 1048576;
  return Mib(Largest(Of(r, peak))) + " (" + Mib(limit) + ")";
}

void PrintRow(const std::vector<std::string>& cells) {
  std::cout << "|";
  for (const std::string& cell : cells) std::cout << ' ' << cell << " |";
  std::cout << '\n';
}

void PrintHeader(const std::vector<std::string>& names) {
  PrintRow(names);
  std::vector<std::string> rule{"---"};
  rule.resize(names.size(), "---:");
  PrintRow(rule);
}

void PrintOperation(const Runs& r, const std::string& operation, const std::string& key,
                    const std::string& peak) {
  const std::vector<double>&ours = Of(r, key), &floor = Of(r, key + "_floor"), &peer = Of(r, "peer_" + key);
  const double maps = Median(Of(r, "maps")), median = Median(ours);
  PrintRow({operation, Fixed(maps, 0), Spread(ours), Spread(floor),
            floor.empty() ? "-" : RatioCell(ours, floor), Spread(peer),
            peer.empty() ? "-" : RatioCell(ours, peer), Fixed(Median(Of(r, "table_bytes")) / 1e6 / median, 0),
            Fixed(median * 1000 / maps, 3), peak});
}

void PrintSets(const std::vector<std::pair<std::string, Runs>>& results) {
  PrintHeader({"operation", "maps", "ours s", "floor s", "ours/floor", "peer s", "ours/peer", "MB/s",
               "ms/map", "peak memory (limit)"});
  for (const auto& [set, r] : results) {
    PrintOperation(r, "start-up " + set, "startup", Peak(r, "peak_bytes"));
    PrintOperation(r, "dump " + set, "dump", "");
    PrintOperation(r, "dump again " + set, "redump", "");
    PrintRow({"dump's status texts " + set, Fixed(Median(Of(r, "maps")), 0), Spread(Of(r, "status")), "-",
              "-", "-", "-", "-", Fixed(Median(Of(r, "status")) * 1000 / Median(Of(r, "maps")), 3), ""});
    PrintOperation(r, "convert " + set, "convert", Peak(r, "convert_peak_bytes"));
  }
}

void PrintScreen(const std::vector<std::pair<std::string, Runs>>& results) {
  std::cout
      << "\nOn an X server, as the user waits: the window program, and corvald-batch on the same files\n\n";
  PrintHeader({"operation", "maps", "window s", "corvald-batch s", "window/batch", "floor s", "window/floor",
               "batch/floor", "peak memory (limit)"});
  for (const auto& result : results) {
    // Named, not bound: a lambda below takes them.
    const std::string& set = result.first;
    const Runs& r = result.second;
    if (!OnScreen(set)) continue;
    const std::string maps = Fixed(Median(Of(r, "maps")), 0);
    PrintRow({"first status text " + set + " (target 0.150)", maps, Spread(Of(r, "screen_first_text")), "-",
              "-", "-", "-", "-", ""});
    const auto row = [&](const std::string& operation, const std::string& window, const std::string& batch,
                         const std::string& floor, const std::string& peak) {
      PrintRow({operation, maps, Spread(Of(r, window)), Spread(Of(r, batch)),
                RatioCell(Of(r, window), Of(r, batch)), Spread(Of(r, floor)),
                RatioCell(Of(r, window), Of(r, floor)), RatioCell(Of(r, batch), Of(r, floor)), peak});
    };
    row("start-up " + set + " to the main window (batch: list)", "screen_main_shown", "batch_list",
        "startup_floor",
        Mib(Largest(Of(r, "screen_peak_bytes"))) + " (" + Mib(Median(Of(r, "table_bytes")) + 40.0 * 1048576) +
            ")");
    row("convert " + set + ", from the click to the closing message", "screen_convert", "batch_convert",
        "convert_floor", "");
  }
}

void PrintJet(const Runs& r, const std::string& name) {
  std::cout << "\nJet beside SQLCipher (status window offscreen); start-up's floor: a plain copy of " << name
            << " forced to disk\n\n";
  PrintHeader({"operation", "maps", "Jet s", "SQLCipher s", "Jet/SQLCipher", "floor s", "Jet/floor",
               "Jet peak memory (limit)", "SQLCipher peak memory (limit)"});
  const auto row = [&](const std::string& operation, const std::string& prefix, const std::string& key,
                       const std::string& floor, const std::string& peak, const std::string& mapsKey) {
    const std::vector<double>&jet = Of(r, "jet_" + prefix + key),
          &sqlcipher = Of(r, "sqlcipher_" + prefix + key);
    if (jet.empty()) return;
    const std::vector<double>& floors = Of(r, floor);
    PrintRow({operation, Fixed(Median(Of(r, "jet_" + prefix + mapsKey)), 0), Spread(jet), Spread(sqlcipher),
              RatioCell(jet, sqlcipher), Spread(floors), floors.empty() ? "-" : RatioCell(jet, floors),
              Peak(r, "jet_" + prefix + peak, "jet_" + prefix),
              Peak(r, "sqlcipher_" + prefix + peak, "sqlcipher_" + prefix)});
  };
  row("start-up " + name + ", compacted", "", "startup", "copy_floor", "peak_bytes", "maps");
  row("its compaction and opening, until the maps are read", "", "startup_open", "copy_floor", "peak_bytes",
      "maps");
  for (const std::string set : kJetConvertSets) {
    const std::string prefix = set + "_";
    row("convert " + set + "'s map files into an empty database", prefix, "convert_empty", "",
        "convert_empty_peak_bytes", "files");
    row("start-up on the " + set + " maps it wrote", prefix, "startup", "", "peak_bytes", "maps");
    row("convert " + set + "'s map files again, over its maps", prefix, "convert", "", "convert_peak_bytes",
        "files");
  }
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> sets;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--program" && hasValue) {
      options.program = fs::absolute(argv[++i]);
    } else if (argument == "--batch" && hasValue) {
      options.batch = fs::absolute(argv[++i]);
    } else if (argument == "--jet" && hasValue) {
      options.jet = fs::absolute(argv[++i]);
    } else if (argument == "--jet-empty" && hasValue) {
      options.jetEmpty = fs::absolute(argv[++i]);
    } else if (argument == "--peer" && hasValue) {
      options.peer = fs::absolute(argv[++i]);
    } else if (argument == "--repeat" && hasValue) {
      options.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (options.data.empty()) {
      options.data = fs::absolute(argument);
    } else {
      sets.push_back(argument);
    }
  }
  if (options.data.empty() || options.program.empty() || options.batch.empty() || options.peer.empty()) {
    throw std::invalid_argument(
        "usage: corvald_perf <data-folder> --program <corvald> --batch <corvald-batch> --peer <peer.py> "
        "[--jet <file> --jet-empty <file>] [--repeat n] [set ...]");
  }
  if (!sets.empty()) options.sets = sets;
  return options;
}

// Runs one measuring child's part in this process, with the windows as the
// program has them; false when the arguments name no such part.
bool RunChild(int argc, char** argv, int& status) {
  const std::string_view mode = argc > 1 ? argv[1] : "";
  if (!((argc == 4 && mode == "--child") ||
        (argc == 3 && (mode == "--child-startup" || mode == "--child-convert"))))
    return false;
  KeepFreedMemoryForReuse();
  QApplication app(argc, argv);
  RegisterFonts();
  InstallWindows();
  const fs::path work = fs::absolute(argv[2]);
  status = mode == "--child"           ? RunOperations(work, fs::absolute(argv[3]))
           : mode == "--child-startup" ? RunStartUp(work)
                                       : RunConvertInto(work);
  return true;
}

}  // namespace

}  // namespace corvald::perf

int main(int argc, char** argv) {
  using namespace corvald::perf;
  try {
    if (int status = 0; RunChild(argc, argv, status)) return status;
    const Options options = ParseOptions(argc, argv);
    const fs::path self = fs::canonical("/proc/self/exe");
    std::vector<std::pair<std::string, Runs>> results;
    std::optional<Runs> jet;
    for (const std::string& set : options.sets) {
      std::cerr << "measuring " << set << " ...\n";
      if (set == "jet") {
        jet = MeasureJet(options, self);
      } else {
        results.emplace_back(set, MeasureSet(options, set, self));
      }
    }
    fs::remove_all(options.data / "run");
    std::cout << "Cores used: " << std::thread::hardware_concurrency() << "; each cell the median of "
              << options.repeat << " runs (their range)\n\n";
    if (!results.empty()) {
      PrintSets(results);
      PrintScreen(results);
    }
    if (jet) PrintJet(*jet, options.jet.filename().string());
  } catch (const std::exception& failure) {
    std::cerr << "corvald_perf: " << failure.what() << '\n';
    return 1;
  }
  return 0;
}
