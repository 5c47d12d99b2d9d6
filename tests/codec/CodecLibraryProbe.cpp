// Prints whether the codec library is usable and exits with 0 if it is, 1 if not.
#include <iostream>

#include "codec/CodecLibrary.h"

int main() {
  const bool usable = corvald::CodecLibraryUsable();
  std::cout << (usable ? "usable" : "unusable") << '\n';
  return usable ? 0 : 1;
}
