// Feeds arbitrary blobs to UncompressData. The first byte chooses how:
//   bit 0: byte array (set) or byte string;
//   bit 1: with origSize, taken from the next 4 bytes as a 32-bit integer, or with
//          bit 2 also set from the next 8 bytes as a double;
//   bit 3: instead, compress the rest and check that it expands back unchanged.
// The rest is the blob. Damaged blobs must raise the damaged-data failure and
// nothing else; sound ones must keep the result's size rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "codec/BlobSizes.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"
#include "platform/Numbers.h"

namespace corvald {
namespace {

// A byte array result always has the claimed size, so claims beyond this are left
// out rather than allocated.
constexpr double kLargestArrayClaim = 16 << 20;

void Check(bool condition) {
  if (!condition) std::abort();
}

template <typename Buffer>
void CheckRoundTrip(const Buffer& data) {
  if (data.empty()) return;
  Check(UncompressData(CompressData(data)) == data);
  std::int32_t origSize = 0;
  const Buffer stream = CompressData(data, origSize);
  Check(origSize == static_cast<std::int32_t>(data.size()));
  Check(UncompressData(stream, origSize) == data);
}

std::int32_t PrefixOf(const std::uint8_t* blob) {
  std::int32_t prefix = 0;
  std::memcpy(&prefix, blob, 4);
  return prefix;
}

template <typename Buffer>
void Expand(const Buffer& blob, std::optional<double> origSize) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(blob.data());
  constexpr bool kArray = std::is_same_v<Buffer, ByteArray>;
  if (kArray) {
    // Rounded up, so that a claim at the limit never slips through.
    const double claimed = origSize ? *origSize + 1 : (blob.size() >= 4 ? PrefixOf(bytes) : 0);
    if (!(claimed <= kLargestArrayClaim)) return;
  }
  try {
    const Buffer result = origSize ? UncompressData(blob, *origSize) : UncompressData(blob);
    if (blob.empty()) {
      Check(result.empty());
    } else if (kArray) {
      const std::int32_t claimed = origSize ? RoundToInt32(*origSize) : PrefixOf(bytes);
      Check(result.size() == static_cast<std::size_t>(claimed));
    } else {
      Check(result.size() <= blob.size() * kMaxDeflateRatio);
    }
  } catch (const Failure& failure) {
    Check(failure.Number() == err::kDamagedMapData || (origSize && failure.Number() == err::kOverflow));
  }
}

}  // namespace
}  // namespace corvald

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvald;
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  ++data;
  --size;
  const bool asArray = (mode & 1) != 0;

  if ((mode & 8) != 0) {
    if (asArray) {
      CheckRoundTrip(ByteArray(data, data + size));
    } else {
      CheckRoundTrip(std::string(reinterpret_cast<const char*>(data), size));
    }
    return 0;
  }

  std::optional<double> origSize;
  if ((mode & 2) != 0) {
    const bool asDouble = (mode & 4) != 0;
    const std::size_t width = asDouble ? 8 : 4;
    if (size < width) return 0;
    if (asDouble) {
      double value = 0;
      std::memcpy(&value, data, 8);
      origSize = value;
    } else {
      origSize = PrefixOf(data);
    }
    data += width;
    size -= width;
  }
  if (asArray) {
    Expand(ByteArray(data, data + size), origSize);
  } else {
    Expand(std::string(reinterpret_cast<const char*>(data), size), origSize);
  }
  return 0;
}
