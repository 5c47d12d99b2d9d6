// Feeds arbitrary bytes to the Jet header reader and the Jet 4 text decoder. A
// Jet header gives a password of at most 20 characters and no NUL; a text
// decodes to at most one byte per stored byte, or to nothing.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "store/jet/JetHeader.h"
#include "store/jet/JetText.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvald::engine;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const jet::Format format = jet::FormatOf(bytes);
  if (format == jet::Format::kJet3 || format == jet::Format::kJet4) {
    std::string header = bytes;
    header.resize(std::max(header.size(), jet::kHeaderSize));
    const std::u16string password = jet::PasswordOf(header, format);
    Check(password.size() <= 20 && password.find(u'\0') == std::u16string::npos);
  }
  const std::optional<std::string> text = jet::Jet4TextToAnsi(bytes);
  Check(!text || text->size() <= size);
  return 0;
}
