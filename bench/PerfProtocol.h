#pragma once

// What the benchmark's parts share: wall-clock timing, whole-file helpers, and
// the lines "name value" in which a measuring child process reports to its
// parent.

#include <sys/types.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

struct _XDisplay;

namespace corvald::perf {

// Seconds taken by `work`, started once the file system has written out what
// came before, so that no operation pays for another's writes or deletions.
template <typename Work>
double Seconds(Work&& work) {
  sync();
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A file's whole content; throws std::runtime_error when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& file);

// Copies a file with plain reads and writes in 1 MiB pieces, creating or
// emptying the destination, and with `sync` forces the copy to disk before it
// closes; throws std::runtime_error on failure.
void PlainCopy(const std::filesystem::path& from, const std::filesystem::path& to, bool sync = false);

// The process's peak resident memory so far (VmHWM), in bytes; 0 when the
// system does not tell.
std::uint64_t PeakResidentBytes(const std::string& statusFile = "/proc/self/status");

// Starts the process's peak resident memory afresh from what it holds now.
void ResetPeakResidentBytes();

// Measurements as a child reports them: name -> value.
using Report = std::map<std::string, double>;
// Each run's value of every measurement, in the order of the runs.
using Runs = std::map<std::string, std::vector<double>>;

// The in-process measurements of one data set whose copy lies in `work` (its
// "server.dat" and "Maps" folder), with `scratch` for the floors' files.
// Prints one "name value" line per measurement on standard output.
int RunOperations(const std::filesystem::path& work, const std::filesystem::path& scratch);

// A private Xvfb on a display that it chooses itself; stopped when this ends.
class PrivateXvfb {
 public:
  PrivateXvfb();
  ~PrivateXvfb();
  PrivateXvfb(const PrivateXvfb&) = delete;
  PrivateXvfb& operator=(const PrivateXvfb&) = delete;

  _XDisplay* Connection() const { return display_; }
  const std::string& Name() const { return name_; }

 private:
  pid_t pid_ = -1;
  std::string name_;
  _XDisplay* display_ = nullptr;
};

// Start-up alone (LoadServerDatabase, status window offscreen) on the
// "server.dat" in `work`; prints its time, peak memory and the map table's size.
int RunStartUp(const std::filesystem::path& work);

// The convert of the map files in `work`/Maps into its "server.dat", which
// holds no map yet, then start-up on what it wrote and the same convert
// again, over the maps; prints each one's time and peak memory.
int RunConvertInto(const std::filesystem::path& work);

// Under a private Xvfb, starts `program` (a copy of the program beside a
// "server.dat") and reports the seconds from its start until the status window
// shows text ("first_text"), and until the main window is visible
// ("main_shown"), and its peak memory then ("peak_bytes"). With `convert`, it
// then clicks "Convert map files to database" as a person would and reports
// the seconds from the click until the closing message is on the screen
// ("convert").
Report MeasureWindow(const std::filesystem::path& program, bool convert);

// `batch` (a copy of corvald-batch beside a "server.dat" and its "Maps") run
// as "corvald-batch convert": the seconds from its first status text to its
// closing count, so without its start-up.
double MeasureBatchConvert(const std::filesystem::path& batch);

// The seconds that "corvald-batch -q list" takes there, start-up and all.
double MeasureBatchList(const std::filesystem::path& batch);

}  // namespace corvald::perf
