// Feeds arbitrary program paths to NativePath. A path either fails with 52 (bad
// file name) and nothing else, or gives a relative native path with no ".."
// component, so that nothing the program names reaches outside its folder; a
// path under "Maps\" stays under "Maps".
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Failure.h"
#include "platform/Files.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckPath(std::string_view path) {
  std::filesystem::path native;
  try {
    native = corvald::NativePath(path);
  } catch (const corvald::Failure& failure) {
    Check(failure.Number() == corvald::err::kBadFileName);
    return;
  }
  Check(!native.empty() && native.is_relative() && !native.has_root_name() && !native.has_root_directory());
  for (const std::filesystem::path& part : native) Check(!part.empty() && part != "..");
  Check(*native.lexically_normal().begin() != "..");
  if (path.starts_with("Maps\\") || path.starts_with("Maps/")) Check(*native.begin() == "Maps");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view path(reinterpret_cast<const char*>(data), size);
  CheckPath(path);
  // The dump's own shape, whatever the name.
  std::string dumped = "Maps\\Map #1 - ";
  dumped += path;
  dumped += ".map4";
  CheckPath(dumped);
  return 0;
}
