// Feeds arbitrary blobs to UncompressData. The first byte chooses how: with
// bit 3 set, the rest is compressed and must expand back unchanged; else the
// rest is the blob. Damaged blobs must raise the damaged-data failure and
// nothing else; sound ones must keep the result's size rules.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "codec/BlobSizes.h"
#include "codec/modCompress.h"
#include "platform/Failure.h"

namespace corvald {
namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Expand(const std::string& blob) {
  try {
    const std::string result = UncompressData(blob);
    Check(blob.empty() ? result.empty() : result.size() <= blob.size() * kMaxDeflateRatio);
  } catch (const Failure& failure) {
    Check(failure.Number() == err::kDamagedMapData);
  }
}

}  // namespace
}  // namespace corvald

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvald;
  if (size == 0) return 0;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] & 8) != 0) {
    Check(rest.empty() || UncompressData(CompressData(rest)) == rest);
  } else {
    Expand(rest);
  }
  return 0;
}
