// The room that compress is given for an input, computed in the order the blob
// format fixes.
#include "codec/BlobSizes.h"

#include "platform/Numbers.h"

namespace corvald {

std::int32_t CompressCapacity(std::size_t n) {
  const double bytes = static_cast<double>(n);
  const double onePercent = bytes * 0.01;
  const double withInput = onePercent + bytes;
  return RoundToInt32(withInput + 12.0);
}

}  // namespace corvald
