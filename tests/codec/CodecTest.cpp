// The map blob codec against Python's zlib: blobs byte for byte as zlib's
// compress makes them, over sizes that cross the pieces deflate writes, and what
// damaged blobs and expansion lengths at their limits give.
#include <gtest/gtest.h>

#include <limits>

#include "codec/BlobSizes.h"
#include "codec/modCompress.h"
#include "tests/support/Support.h"

namespace corvald::test {
namespace {

std::string WithPrefix(std::int32_t length, const std::string& stream) {
  return std::string(reinterpret_cast<const char*>(&length), 4) + stream;
}

TEST(Codec, BlobsAreByteForByteWhatPythonsZlibMakes) {
  TempFolder folder;
  // Each input as <n>.in and its blob, a 4-byte length and zlib.compress, as <n>.blob.
  ASSERT_EQ(
      std::system(
          "python3 -c \"import random, struct, zlib\n"
          "r = random.Random(5)\n"
          "kinds = [r.randbytes, bytes, lambda n: (b'The quick brown fox. ' * n)[:n],\n"
          "         lambda n: b''.join(struct.pack('<H', r.randrange(400)) * r.randrange(1, 14)\n"
          "                            for _ in range(n // 8 + 1))[:n]]\n"
          "sizes = [1, 2, 1023, 1024, 1025, 65536, (1 << 20) - 1, 1 << 20, (1 << 20) + 5, 3 << 20]\n"
          "for i, n in enumerate(sizes):\n"
          "    for k, make in enumerate(kinds):\n"
          "        data = make(n)\n"
          "        open(f'{i * 4 + k}.in', 'wb').write(data)\n"
          "        open(f'{i * 4 + k}.blob', 'wb').write(struct.pack('<i', n) + zlib.compress(data))\""),
      0);
  for (int i = 0; i < 40; ++i) {
    SCOPED_TRACE(i);
    const std::string data = FileBytes(std::to_string(i) + ".in");
    const std::string blob = FileBytes(std::to_string(i) + ".blob");
    ASSERT_FALSE(data.empty());
    EXPECT_TRUE(CompressData(data) == blob);
    EXPECT_TRUE(UncompressData(blob) == data);
    // A prefix that claims less gives that much; one that claims more, the whole record.
    const auto length = static_cast<std::int32_t>(data.size());
    EXPECT_TRUE(UncompressData(WithPrefix(length / 2 + 1, blob.substr(4))) == data.substr(0, length / 2 + 1));
    EXPECT_TRUE(UncompressData(WithPrefix(length + 10, blob.substr(4))) == data);
  }
  EXPECT_EQ(CompressData(std::string()), "");
  EXPECT_EQ(UncompressData(std::string()), "");
}

const std::string kAbcStream("\x78\x9C\x4B\x4C\x4A\x06\x00\x02\x4D\x01\x27", 11);

TEST(Codec, DamagedBlobsFailWith1010AndClaimsAtTheirLimitsGiveTheRecord) {
  const std::string blob = WithPrefix(3, kAbcStream);
  const auto damaged = [](std::string stream, std::size_t at, std::int32_t claim = 3) {
    return stream[at] ^= 0x55, WithPrefix(claim, stream);
  };
  for (const std::string& bad :
       {blob.substr(0, 1), blob.substr(0, 4), WithPrefix(0, kAbcStream), WithPrefix(-1, kAbcStream),
        blob.substr(0, blob.size() - 4), blob.substr(0, blob.size() - 2), blob.substr(0, 6),
        damaged(kAbcStream, 0), damaged(kAbcStream, 3), damaged(kAbcStream, 10),
        // A shorter claim takes its bytes only from a stream that proves sound to its end.
        damaged(kAbcStream, 10, 2), WithPrefix(2, kAbcStream.substr(0, kAbcStream.size() - 4)),
        WithPrefix(3, std::string(20, 'x'))}) {
    EXPECT_EQ(FailureNumberOf([&] { (void)UncompressData(bad); }), 1010) << BlobLiteral(bad);
  }
  // zlib's best compression of zeros comes close to deflate's limit; an
  // overclaimed prefix still gives the whole record.
  const std::string zeros(16 << 20, '\0');
  const std::string stream = CompressData(zeros).substr(4);
  EXPECT_EQ(UncompressData(WithPrefix(std::numeric_limits<std::int32_t>::max(), stream)), zeros);
  EXPECT_EQ(UncompressData(WithPrefix((16 << 20) - 1, stream)), zeros.substr(1));
  EXPECT_EQ(FailureNumberOf([] { (void)CompressCapacity(std::size_t{2126221422}); }), 6);
}

}  // namespace
}  // namespace corvald::test
