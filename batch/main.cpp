// corvald-batch: dumps, converts or lists the maps of a server database from a
// terminal, with the same start-up and the same commands as corvald.
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/ErrorReport.h"
#include "app/modCorvald.h"
#include "batch/Progress.h"
#include "batch/Terminal.h"
#include "platform/Allocator.h"
#include "platform/Files.h"
#include "platform/UserInterface.h"
#include "store/modVariables.h"
#include "ui/commands/Commands.h"
#include "ui/commands/MapListing.h"

namespace corvald::batch {

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kWrongUsage = 2;

constexpr char kUsage[] =
    "Usage: corvald-batch [-q] dump|convert|list [FOLDER]\n"
    "Dumps the maps of FOLDER/server.dat into FOLDER/Maps, converts the map files of\n"
    "FOLDER/Maps into the database, or lists the maps, as corvald does from its window.\n"
    "FOLDER defaults to the folder that holds corvald-batch.\n"
    "\n"
    "  -q      show no progress\n"
    "  --help  show this text\n"
    "\n"
    "Exit status: 0 success, 1 failure, 2 wrong usage.\n";

enum class Command { kDump, kConvert, kList };

struct Arguments {
  bool help = false;
  bool quiet = false;
  std::optional<Command> command;
  std::optional<std::filesystem::path> folder;
  // Why the arguments are wrong; empty when they are not.
  std::string wrong;
};

std::optional<Command> CommandNamed(std::string_view name) {
  if (name == "dump") return Command::kDump;
  if (name == "convert") return Command::kConvert;
  if (name == "list") return Command::kList;
  return std::nullopt;
}

// Reads the options, the command and the folder, in any order of options.
Arguments ParseArguments(int argc, char** argv) {
  Arguments arguments;
  for (int i = 1; i < argc && arguments.wrong.empty(); ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help") {
      arguments.help = true;
    } else if (argument == "-q") {
      arguments.quiet = true;
    } else if (argument.size() > 1 && argument.front() == '-') {
      arguments.wrong = "unknown option '" + std::string(argument) + "'";
    } else if (!arguments.command) {
      arguments.command = CommandNamed(argument);
      if (!arguments.command) arguments.wrong = "unknown command '" + std::string(argument) + "'";
    } else if (!arguments.folder) {
      arguments.folder = std::filesystem::path(argument);
    } else {
      arguments.wrong = "too many arguments";
    }
  }
  if (arguments.wrong.empty() && !arguments.help && !arguments.command) arguments.wrong = "no command given";
  return arguments;
}

// The count line and the map list entries of the main window, one per line.
bool ListMaps() {
  std::string text = TerminalText(MapCountText(MapCount)) + "\n";
  for (const std::string& entry : MapListEntries()) text += TerminalText(entry) + "\n";
  return PrintOutput(text);
}

std::size_t MapFilesListed() {
  std::size_t count = 0;
  for (const std::string& name : FileListEntries()) count += IsMapFileName(name) ? 1 : 0;
  return count;
}

// Runs the command on the loaded maps; true when it finished normally.
bool RunCommand(Command command) {
  switch (command) {
    case Command::kList:
      return ListMaps();
    case Command::kDump:
      CountMapsOf(MapListEntries().size());
      return cmdButton1_Click();
    case Command::kConvert:
      CountMapsOf(MapFilesListed());
      HoldLastMessage();
      CatchStopSignals();
      return cmdButton2_Click();
  }
  return false;
}

int Run(const Arguments& arguments) {
  KeepFreedMemoryForReuse();
  InstallTerminal(arguments.quiet);
  bool finished = false;
  const bool ranToEnd = Guarded([&] {
    if (!StartUp(arguments.folder ? *arguments.folder : ProgramFolder())) return;
    finished = RunCommand(*arguments.command);
  });
  ShutDown();
  const bool success = ranToEnd && finished && UnexpectedExitCode() == 0;
  const bool resultWritten = ReleaseHeldMessage(success);
  // A signal after the last map came too late to stop anything: the convert
  // finished, and says so.
  if (const int signal = CaughtStopSignal(); signal != 0 && !success) {
    std::fprintf(stderr, "corvald-batch: stopped by signal %d; the maps converted before are stored\n",
                 signal);
    return 128 + signal;
  }
  return success && resultWritten ? kSuccess : kFailure;
}

}  // namespace

}  // namespace corvald::batch

int main(int argc, char** argv) {
  using namespace corvald::batch;
  const Arguments arguments = ParseArguments(argc, argv);
  if (!arguments.wrong.empty()) {
    std::fprintf(stderr, "corvald-batch: %s\n%s", arguments.wrong.c_str(), kUsage);
    return kWrongUsage;
  }
  if (arguments.help) return PrintOutput(kUsage) ? kSuccess : kFailure;
  return Run(arguments);
}
