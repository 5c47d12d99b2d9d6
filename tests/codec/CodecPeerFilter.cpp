// Runs the codec over requests read from standard input, for a peer to check the
// answers. Request: an operation letter, a kind letter, a 32-bit origSize (used by
// the bare operations), a 32-bit length and that many bytes. Answer: 0, a 32-bit
// length and the bytes; or 1 and the failure's 32-bit number. Integers are
// little-endian.
//
// Operations: 'c' CompressData, 'C' CompressData with origSize (the answer is
// origSize's 4 bytes, then the stream), 'u' UncompressData, 'U' UncompressData with
// origSize. Kinds: 's' byte string, 'a' byte array.
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "codec/modCompress.h"
#include "platform/Failure.h"

namespace corvald {
namespace {

bool ReadExactly(std::string& into, std::size_t size) {
  into.resize(size);
  return size == 0 || std::fread(into.data(), 1, size, stdin) == size;
}

std::uint32_t Decode32(const std::string& bytes) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

std::string Encode32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
  return bytes;
}

template <typename Buffer>
std::string Run(char operation, const Buffer& input, std::int32_t origSize) {
  Buffer output;
  std::string lengthPart;
  switch (operation) {
    case 'c':
      output = CompressData(input);
      break;
    case 'C': {
      std::int32_t stored = 0;
      output = CompressData(input, stored);
      lengthPart = Encode32(static_cast<std::uint32_t>(stored));
      break;
    }
    case 'u':
      output = UncompressData(input);
      break;
    case 'U':
      output = UncompressData(input, origSize);
      break;
    default:
      throw std::invalid_argument("unknown operation");
  }
  return lengthPart + std::string(output.begin(), output.end());
}

std::string Answer(char operation, char kind, const std::string& input, std::int32_t origSize) {
  try {
    const std::string result = kind == 'a' ? Run(operation, ByteArray(input.begin(), input.end()), origSize)
                                           : Run(operation, input, origSize);
    // The parts are named first: GCC 12 at -O3 takes a string joined to a
    // temporary one for an overlapping copy (-Wrestrict).
    const std::string length = Encode32(static_cast<std::uint32_t>(result.size()));
    return std::string(1, '\0') + length + result;
  } catch (const Failure& failure) {
    const std::string number = Encode32(static_cast<std::uint32_t>(failure.Number()));
    return std::string(1, '\1') + number;
  }
}

}  // namespace
}  // namespace corvald

int main() {
  using namespace corvald;
  std::string header;
  std::string input;
  while (ReadExactly(header, 10)) {
    const auto origSize = static_cast<std::int32_t>(Decode32(header.substr(2, 4)));
    if (!ReadExactly(input, Decode32(header.substr(6, 4)))) return 2;
    const std::string answer = Answer(header[0], header[1], input, origSize);
    std::fwrite(answer.data(), 1, answer.size(), stdout);
  }
  std::fflush(stdout);
  return 0;
}
