// corvald_perf: the program's start-up, dump and convert beside their floors and
// beside a Python peer, on the data sets that make_bench_data writes, and the
// start-up as seen on an X server; prints one table.
//
//   corvald_perf <data-folder> --program <corvald> --peer <peer.py> [--jet <file>] [--repeat n] [set ...]
//
// The set "jet" is start-up alone on the Jet database <file> and on a
// SQLCipher database that holds the same rows. Each set is measured in a child process of its own (this
// program with
// --child), so that its peak memory is its own; times are the best of the
// repeats. The working copies go to <data-folder>/run and are removed at the end.
#include <sqlcipher/sqlite3.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <iostream>
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
#include "ui/Windows.h"

namespace corvald::perf {

std::string ReadWholeFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(std::filesystem::file_size(file), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) {
    throw std::runtime_error("cannot read " + file.string());
  }
  return bytes;
}

void PlainCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
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

struct Options {
  std::filesystem::path data;
  std::filesystem::path program;
  std::filesystem::path peer;
  std::filesystem::path jet;
  int repeat = 1;
  std::vector<std::string> sets{"maps-300", "maps-1000", "maps-3000", "large-40", "huge-1", "jet"};
};

std::string Quoted(const std::filesystem::path& path) {
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

// Keeps the smaller time of two runs (and the larger peak memory).
void KeepBest(Report& best, const Report& run) {
  for (const auto& [name, value] : run) {
    auto found = best.find(name);
    if (found == best.end()) {
      best[name] = value;
    } else if (name == "peak_bytes") {
      found->second = std::max(found->second, value);
    } else {
      found->second = std::min(found->second, value);
    }
  }
}

void CopyFolderContent(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::filesystem::remove_all(to);
  std::filesystem::create_directories(to);
  std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

// Writes an unencrypted copy of a server database for the peer.
void DecryptCopy(const std::filesystem::path& from, const std::filesystem::path& to) {
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

Report MeasureSet(const Options& options, const std::string& set, const std::filesystem::path& self) {
  const std::filesystem::path source = options.data / set;
  const std::filesystem::path run = options.data / "run";
  Report best;
  for (int i = 0; i < options.repeat; ++i) {
    const std::filesystem::path work = run / set;
    CopyFolderContent(source, work);
    // The status window on a real X server, as a user has it.
    const PrivateXvfb x;
    KeepBest(best, RunReporting("QT_QPA_PLATFORM=xcb DISPLAY=" + x.Name() + " " + Quoted(self) + " --child " +
                                Quoted(work) + " " + Quoted(run / (set + "-scratch"))));
    std::filesystem::remove_all(work);
    std::filesystem::remove_all(run / (set + "-scratch"));

    const std::filesystem::path peer = run / (set + "-peer");
    CopyFolderContent(source, peer);
    DecryptCopy(peer / kServerFile, peer / "plain.db");
    std::filesystem::remove(peer / kServerFile);
    Report peerRun;
    for (const auto& [name, value] : RunReporting("python3 " + Quoted(options.peer) + " " + Quoted(peer))) {
      peerRun["peer_" + name] = value;
    }
    KeepBest(best, peerRun);
    std::filesystem::remove_all(peer);
  }
  if (set == "maps-3000") {
    for (int i = 0; i < options.repeat; ++i) {
      const std::filesystem::path screen = run / "screen";
      std::filesystem::remove_all(screen);
      std::filesystem::create_directories(screen);
      std::filesystem::copy_file(source / kServerFile, screen / kServerFile);
      std::filesystem::copy_file(options.program, screen / "corvald");
      Report shown;
      for (const auto& [name, value] : MeasureScreen(screen / "corvald")) shown["screen_" + name] = value;
      KeepBest(best, shown);
      std::filesystem::remove_all(screen);
    }
  }
  return best;
}

// Every row of the Jet database's "Maps", as the engine reads it.
std::vector<engine::MapsRow> JetRows(const std::filesystem::path& file) {
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

// Start-up alone on the Jet database and on a SQLCipher database made with the same rows.
std::vector<std::pair<std::string, Report>> MeasureJet(const Options& options,
                                                       const std::filesystem::path& self) {
  if (options.jet.empty()) throw std::invalid_argument("the set jet needs --jet <file>");
  const std::filesystem::path run = options.data / "run";
  const std::filesystem::path jet = run / "jet", sqlcipher = run / "jet-sqlcipher";
  for (const std::filesystem::path& folder : {jet, sqlcipher}) {
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
  }
  std::filesystem::copy_file(options.jet, jet / kServerFile);
  engine::MakeServerDatabase(sqlcipher / kServerFile, JetRows(options.jet));
  Report jetBest, sqlcipherBest;
  for (int i = 0; i < options.repeat; ++i) {
    for (auto [folder, best] : {std::pair{jet, &jetBest}, std::pair{sqlcipher, &sqlcipherBest}}) {
      KeepBest(*best, RunReporting("QT_QPA_PLATFORM=offscreen " + Quoted(self) + " --child-startup " +
                                   Quoted(folder)));
    }
  }
  const std::string name = options.jet.filename().string();
  return {{"Jet " + name, jetBest}, {"SQLCipher, the maps of " + name, sqlcipherBest}};
}

std::string Fixed(double value, int decimals) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(decimals) << value;
  return text.str();
}

std::string Mib(double bytes) { return Fixed(bytes / 1048576.0, 0) + " MiB"; }

void PrintRow(const std::vector<std::string>& cells) {
  std::cout << "|";
  for (const std::string& cell : cells) std::cout << ' ' << cell << " |";
  std::cout << '\n';
}

void PrintOperation(const Report& r, const std::string& operation, const std::string& key,
                    const std::string& peak) {
  auto value = [&r](const std::string& name) { return r.count(name) != 0 ? r.at(name) : 0.0; };
  const double ours = value(key), floor = value(key + "_floor"), peer = value("peer_" + key);
  const double maps = value("maps");
  PrintRow({operation, Fixed(maps, 0), Fixed(ours, 3), Fixed(floor, 3), Fixed(ours / floor, 2) + "x",
            peer > 0 ? Fixed(peer, 3) : "-", peer > 0 ? Fixed(ours / peer, 2) + "x" : "-",
            Fixed(value("table_bytes") / 1e6 / ours, 0), Fixed(ours * 1000 / maps, 3), peak});
}

void PrintTable(const std::vector<std::pair<std::string, Report>>& results) {
  std::cout << "Cores used: " << std::thread::hardware_concurrency() << "\n\n";
  PrintRow({"operation", "maps", "ours s", "floor s", "ours/floor", "peer s", "ours/peer", "MB/s", "ms/map",
            "peak memory (limit)"});
  PrintRow({"---", "---:", "---:", "---:", "---:", "---:", "---:", "---:", "---:", "---:"});
  for (const auto& [set, r] : results) {
    // The map table, a map in the making beside it (2.2 times the largest: its
    // blob twice, as read and as handed on, and its record's compress room),
    // and 40 MiB.
    const std::string limit =
        " (" + Mib(r.at("table_bytes") + 2.2 * r.at("largest_bytes") + 40.0 * 1048576) + ")";
    const std::string peak = Mib(r.at("peak_bytes")) + limit;
    if (r.count("dump") == 0) {
      PrintRow({"start-up " + set, Fixed(r.at("maps"), 0), Fixed(r.at("startup"), 3), "-", "-", "-", "-",
                Fixed(r.at("table_bytes") / 1e6 / r.at("startup"), 0),
                Fixed(r.at("startup") * 1000 / r.at("maps"), 3), peak});
      continue;
    }
    PrintOperation(r, "start-up " + set, "startup", peak);
    PrintOperation(r, "dump " + set, "dump", "");
    PrintOperation(r, "dump again " + set, "redump", "");
    const std::string maps = Fixed(r.at("maps"), 0);
    PrintRow({"dump's status texts " + set, maps, Fixed(r.at("status"), 3), "-", "-", "-", "-", "-",
              Fixed(r.at("status") * 1000 / r.at("maps"), 3), ""});
    PrintOperation(r, "convert " + set, "convert", Mib(r.at("convert_peak_bytes")) + limit);
  }
  for (const auto& [set, r] : results) {
    if (r.count("screen_main_shown") == 0) continue;
    const std::string maps = Fixed(r.at("maps"), 0);
    const std::string firstText =
        r.count("screen_first_text") != 0 ? Fixed(r.at("screen_first_text"), 3) : "never";
    PrintRow({"X: first status text", maps, firstText, "-", "(target 0.150)", "-", "-", "-", "-", ""});
    PrintRow({"X: main window shown", maps, Fixed(r.at("screen_main_shown"), 3), "-", "-", "-", "-", "-", "-",
              Mib(r.at("screen_peak_bytes")) + " (" + Mib(r.at("table_bytes") + 40.0 * 1048576) + ")"});
  }
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  std::vector<std::string> sets;
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == "--program" && hasValue) {
      options.program = std::filesystem::absolute(argv[++i]);
    } else if (argument == "--jet" && hasValue) {
      options.jet = std::filesystem::absolute(argv[++i]);
    } else if (argument == "--peer" && hasValue) {
      options.peer = std::filesystem::absolute(argv[++i]);
    } else if (argument == "--repeat" && hasValue) {
      options.repeat = std::max(1, std::atoi(argv[++i]));
    } else if (options.data.empty()) {
      options.data = std::filesystem::absolute(argument);
    } else {
      sets.push_back(argument);
    }
  }
  if (options.data.empty() || options.program.empty() || options.peer.empty()) {
    throw std::invalid_argument(
        "usage: corvald_perf <data-folder> --program <corvald> --peer <peer.py> [--jet <file>] [--repeat n] "
        "[set ...]");
  }
  if (!sets.empty()) options.sets = sets;
  return options;
}

}  // namespace

}  // namespace corvald::perf

int main(int argc, char** argv) {
  using namespace corvald::perf;
  try {
    if (argc == 4 && std::string_view(argv[1]) == "--child") {
      corvald::KeepFreedMemoryForReuse();
      QApplication app(argc, argv);
      corvald::RegisterFonts();
      corvald::InstallWindows();
      return RunOperations(std::filesystem::absolute(argv[2]), std::filesystem::absolute(argv[3]));
    }
    if (argc == 3 && std::string_view(argv[1]) == "--child-startup") {
      corvald::KeepFreedMemoryForReuse();
      QApplication app(argc, argv);
      corvald::RegisterFonts();
      corvald::InstallWindows();
      return RunStartUp(std::filesystem::absolute(argv[2]));
    }
    const Options options = ParseOptions(argc, argv);
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe");
    std::vector<std::pair<std::string, Report>> results;
    for (const std::string& set : options.sets) {
      std::cerr << "measuring " << set << " ...\n";
      if (set == "jet") {
        for (auto& measured : MeasureJet(options, self)) results.push_back(std::move(measured));
      } else {
        results.emplace_back(set, MeasureSet(options, set, self));
      }
    }
    std::filesystem::remove_all(options.data / "run");
    PrintTable(results);
  } catch (const std::exception& failure) {
    std::cerr << "corvald_perf: " << failure.what() << '\n';
    return 1;
  }
  return 0;
}
