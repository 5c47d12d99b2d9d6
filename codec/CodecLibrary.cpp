// The check of the zlib library that the program runs with: its major version
// and the type sizes it was built with.
#include "codec/CodecLibrary.h"

#include <zlib.h>

#include <cstddef>

namespace corvald {

namespace {

// zlibCompileFlags gives each type's size in two bits: 0 = 16, 1 = 32, 2 = 64 bits, 3 = other.
uLong SizeCode(std::size_t bytes) {
  switch (bytes) {
    case 2:
      return 0;
    case 4:
      return 1;
    case 8:
      return 2;
    default:
      return 3;
  }
}

bool SameTypeSizes(uLong flags) {
  const auto codeAt = [flags](int shift) { return (flags >> shift) & 3; };
  return codeAt(0) == SizeCode(sizeof(uInt)) && codeAt(2) == SizeCode(sizeof(uLong)) &&
         codeAt(4) == SizeCode(sizeof(voidpf)) && codeAt(6) == SizeCode(sizeof(z_off_t));
}

}  // namespace

bool CodecLibraryUsable() {
  // Asks the loaded library, not the header this file was compiled with.
  const char* version = zlibVersion();
  if (version == nullptr || version[0] != ZLIB_VERSION[0]) return false;
  return SameTypeSizes(zlibCompileFlags());
}

}  // namespace corvald
