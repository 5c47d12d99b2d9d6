// Feeds arbitrary file names to MapNumberFromFileName, and arbitrary numbers and
// names to MapFileName. Any name either gives a number or fails with overflow and
// nothing else; a name that MapFileName made, under its plain or its sanitized
// name, gives back the number it was made with, whatever bytes the name holds.
// Input: 4 bytes of the number (little-endian), then the name, which is also
// read as a bare file name on its own.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/Failure.h"
#include "store/MapRules.h"

namespace corvald {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// The number of a bare file name; overflow is the one failure allowed.
void ReadAnyName(std::string_view fileName) {
  try {
    MapNumberFromFileName(fileName);
  } catch (const Failure& failure) {
    Check(failure.Number() == err::kOverflow);
  }
}

// The map file name without its folder, as the file list gives it.
std::string_view Bare(std::string_view path) {
  constexpr std::string_view kFolder = "Maps\\";
  Check(path.starts_with(kFolder));
  return path.substr(kFolder.size());
}

void CheckMadeName(std::int32_t number, std::string_view name) {
  Check(MapNumberFromFileName(Bare(MapFileName(number, name))) == number);
  const std::string sanitized = SanitizedMapName(name);
  Check(sanitized.size() == name.size());
  Check(sanitized.find_first_of("\"*/:<>?\\|") == std::string::npos);
  Check(MapNumberFromFileName(Bare(MapFileName(number, sanitized))) == number);
}

}  // namespace
}  // namespace corvald

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  corvald::ReadAnyName(bytes);
  if (size < 4) return 0;
  std::uint32_t number = 0;
  for (int i = 3; i >= 0; --i) number = (number << 8) | data[i];
  corvald::CheckMadeName(static_cast<std::int32_t>(number), bytes.substr(4));
  return 0;
}
