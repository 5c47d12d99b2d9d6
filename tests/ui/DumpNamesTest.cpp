// The dump under hostile map names: random bytes, separators, "..", absolute
// paths, drive letters, control characters and NULs. Every file it writes lies in
// "Maps" and holds its map's record, or the dump ends with a reported failure;
// nothing outside "Maps" ever changes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "app/modCorvald.h"
#include "platform/AnsiCodePage.h"
#include "store/MapRules.h"
#include "store/modDatabase.h"
#include "tests/support/Checks.h"
#include "tests/support/DatabaseFixture.h"
#include "tests/support/MessageBoxRecorder.h"
#include "tests/support/TempProgramFolder.h"
#include "ui/Commands.h"

namespace corvald::test {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSeed = 20240611;
constexpr int kRuns = 100;
constexpr int kMapsPerRun = 3;
// Deep enough that a name of 30 characters cannot climb out of the sandbox with "..".
constexpr int kProgramDepth = 16;

// Pieces that path handling tends to trip over; names mix them with random bytes.
const std::vector<std::string> kPieces = {
    "/",  "\\", "..",   ".",    "C:", "c:\\", "/tmp",    "\\\\server\\",       "~",
    "*",  "?",  "|",    ":",    "<",  ">",    "\"",      std::string(1, '\0'), "\x01",
    "\t", "\n", "\x7f", "\xff", " ",  "Maps", "..\\..\\"};

std::string RandomName(std::mt19937& random) {
  std::string name;
  const bool piecesOnly = random() % 2 == 0;
  const std::size_t length = 1 + random() % MAP_NAME_LEN;
  while (name.size() < length) {
    if (piecesOnly || random() % 3 == 0) {
      name += kPieces[random() % kPieces.size()];
    } else {
      name += static_cast<char>(random() % 256);
    }
  }
  name.resize(length);
  return name;
}

// Every entry under `root` with its bytes ("<folder>" for a folder, "-> target"
// for a link), by path relative to `root`.
std::map<std::string, std::string> Tree(const fs::path& root) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      entries[name] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_directory()) {
      entries[name] = "<folder>";
    } else {
      entries[name] = FileBytes(entry.path());
    }
  }
  return entries;
}

// The names of a folder's entries.
std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
  return names;
}

// A sandbox whose innermost folder is the current directory, with a file at every level.
fs::path MakeSandbox(const fs::path& sandbox) {
  fs::path folder = sandbox;
  for (int level = 0; level < kProgramDepth; ++level) {
    std::ofstream(folder / "keep") << "level " << level;
    folder /= "d";
    fs::create_directory(folder);
  }
  fs::create_directory(folder / "Maps");
  fs::current_path(folder);
  return folder;
}

TEST(DumpNames, EveryFileLandsInMapsOrTheDumpReportsAFailure) {
  std::cout << "hostile names: seed " << kSeed << ", " << kRuns * kMapsPerRun << " names\n";
  std::mt19937 random(kSeed);
  const fs::path temp = fs::temp_directory_path();
  int written = 0;
  int reported = 0;
  for (int run = 0; run < kRuns; ++run) {
    const TempProgramFolder outer;
    const fs::path program = MakeSandbox(outer.Path());
    MapList = MapTable{};
    std::map<std::string, std::string> expected;  // file name in "Maps" -> record
    std::vector<std::string> names;
    for (int k = 1; k <= kMapsPerRun; ++k) {
      const std::string name = RandomName(random);
      MapRec& slot = MapList[k];
      slot.Data = name + std::string(MAP_NAME_LEN, ' ') + "record " + std::to_string(k);
      slot.Name = MapNameOf(slot.Data);
      names.push_back(name);
    }
    const auto sandboxBefore = Tree(outer.Path());
    const std::set<std::string> tempBefore = Names(temp);
    MessageBoxRecorder boxes;

    cmdButton1_Click();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    std::string trace = "run " + std::to_string(run) + ", names:";
    for (const std::string& name : names) trace += " " + BlobLiteral(name);
    SCOPED_TRACE(trace);
    auto sandboxAfter = Tree(outer.Path());
    std::map<std::string, std::string> inMaps;
    const std::string mapsPrefix = fs::relative(program / "Maps", outer.Path()).string() + "/";
    for (auto it = sandboxAfter.begin(); it != sandboxAfter.end();) {
      if (it->first.starts_with(mapsPrefix) && !sandboxBefore.contains(it->first)) {
        inMaps[it->first.substr(mapsPrefix.size())] = it->second;
        it = sandboxAfter.erase(it);
      } else {
        ++it;
      }
    }
    EXPECT_EQ(sandboxAfter, sandboxBefore) << "something outside \"Maps\" changed";
    // Every file the dump writes ends in ".map4"; none may turn up in the temporary folder itself.
    for (const std::string& name : Names(temp)) {
      EXPECT_TRUE(tempBefore.contains(name) || !name.ends_with(".map4")) << name;
    }
    // Each file holds the record of a map whose plain or rebuilt name it carries.
    for (const auto& [file, bytes] : inMaps) {
      bool matches = false;
      for (int k = 1; k <= kMapsPerRun; ++k) {
        const std::string shown(ShownName(MapList[k]));
        for (const std::string& name : {shown, SanitizedMapName(shown)}) {
          // The folder holds native (UTF-8) names.
          const std::string path = AnsiToUtf8(MapFileName(k, name));
          if (path == "Maps\\" + file && bytes == MapList[k].Data) matches = true;
        }
      }
      EXPECT_TRUE(matches) << "unexpected file " << BlobLiteral(file);
    }
    if (boxes.Boxes().empty()) {
      ++written;
      std::size_t named = 0;
      for (int k = 1; k <= kMapsPerRun; ++k) named += MapList[k].Name.empty() ? 0 : 1;
      EXPECT_EQ(inMaps.size(), named) << "a map was neither written nor reported";
    } else {
      ++reported;
      ASSERT_EQ(boxes.Boxes().size(), 1u);
      EXPECT_TRUE(boxes.Boxes()[0].text.starts_with(
          "Report the following error code and description to the program administrator!\r\n\r\nMap #"))
          << boxes.Boxes()[0].text;
      EXPECT_NE(boxes.Boxes()[0].text.find(" - Error #"), std::string::npos);
    }
    ShutDown();
  }
  std::cout << "hostile names: " << written << " dumps written whole, " << reported
            << " ended with a reported failure\n";
}

}  // namespace
}  // namespace corvald::test
