#include <gtest/gtest.h>

#include <QString>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "codec/BlobSizes.h"
#include "codec/modCompress.h"
#include "platform/AnsiCodePage.h"
#include "platform/Failure.h"
#include "tests/support/Checks.h"

namespace corvald {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int v : values) bytes.push_back(static_cast<char>(v));
  return bytes;
}

ByteArray ArrayOf(const std::string& bytes) { return ByteArray(bytes.begin(), bytes.end()); }

const std::string kAbcStream = Bytes({0x78, 0x9C, 0x4B, 0x4C, 0x4A, 0x06, 0x00, 0x02, 0x4D, 0x01, 0x27});
const std::string kAbcBlob = Bytes({0x03, 0x00, 0x00, 0x00}) + kAbcStream;

std::string WithPrefix(std::int32_t length, const std::string& stream) {
  const auto value = static_cast<std::uint32_t>(length);
  return Bytes({static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF), static_cast<int>(value >> 24)}) +
         stream;
}

TEST(ModCompress, NoInputBytesGiveTheEmptyValueAndLeaveOrigSizeAlone) {
  EXPECT_EQ(CompressData(std::string()), "");
  EXPECT_EQ(UncompressData(std::string()), "");
  EXPECT_TRUE(CompressData(ByteArray()).empty());
  EXPECT_TRUE(UncompressData(ByteArray()).empty());

  std::int32_t origSize = 77;
  EXPECT_EQ(CompressData(std::string(), origSize), "");
  EXPECT_TRUE(CompressData(ByteArray(), origSize).empty());
  EXPECT_EQ(origSize, 77);

  // origSize is not even converted: an out-of-range value raises nothing here.
  EXPECT_EQ(UncompressData(std::string(), 1e300), "");
  EXPECT_TRUE(UncompressData(ByteArray(), std::nan("")).empty());
}

struct SomeObject {
  int field = 1;
};

TEST(ModCompress, ValuesOfAnyOtherKindGiveTheEmptyValue) {
  static_assert(std::is_same_v<decltype(CompressData(42)), EmptyValue>);
  static_assert(std::is_same_v<decltype(UncompressData(nullptr)), EmptyValue>);
  static_assert(std::is_same_v<decltype(CompressData("abc")), std::string>);

  EXPECT_EQ(std::string(CompressData(42)), "");
  EXPECT_EQ(std::string(UncompressData(3.5, 3)), "");
  EXPECT_EQ(std::string(CompressData(nullptr)), "");
  EXPECT_TRUE(ByteArray(UncompressData(std::vector<int>{3, 0, 0, 0})).empty());
  EXPECT_EQ(std::string(UncompressData(SomeObject{})), "");

  std::int32_t origSize = 77;
  EXPECT_EQ(std::string(CompressData(std::vector<char>{'a', 'b', 'c'}, origSize)), "");
  EXPECT_EQ(origSize, 77);
}

TEST(ModCompress, CompressCapacityRoundsTiesToEvenAndOverflowsPastTheSignedRange) {
  const struct {
    std::size_t n;
    std::int32_t capacity;
  } cases[] = {{0, 12},      {1, 13},        {3, 15},
               {50, 62},     {150, 164},     {250, 264},
               {1000, 1022}, {65536, 66203}, {2126221421, std::numeric_limits<std::int32_t>::max()}};
  for (const auto& c : cases) EXPECT_EQ(CompressCapacity(c.n), c.capacity) << "n = " << c.n;

  for (std::size_t n :
       {std::size_t{2126221422}, std::size_t{4294967295}, std::numeric_limits<std::size_t>::max()}) {
    EXPECT_EQ(test::FailureNumberOf([n] { return CompressCapacity(n); }), err::kOverflow) << "n = " << n;
  }
}

// Blobs and byte strings of the same input agree with Python's zlib (checked
// elsewhere); here, what the expansion length does at its limits.
TEST(ModCompress, OrigSizeRoundsToTheNearestIntegerWithTiesToEven) {
  const struct {
    double origSize;
    const char* expected;
  } cases[] = {{1.5, "ab"}, {2.5, "ab"}, {2.6, "abc"}};
  for (const auto& c : cases) EXPECT_EQ(UncompressData(kAbcStream, c.origSize), c.expected) << c.origSize;
  EXPECT_EQ(UncompressData(ArrayOf(kAbcStream), 3.5).size(), 4u);
  EXPECT_EQ(UncompressData(ArrayOf(kAbcStream), 4.5).size(), 4u);
}

TEST(ModCompress, OrigSizeOutsideTheSignedRangeIsAnOverflow) {
  for (double origSize : {2147483647.5, -2147483649.0, std::nan("")}) {
    EXPECT_EQ(test::FailureNumberOf([=] { return UncompressData(kAbcStream, origSize); }), err::kOverflow)
        << origSize;
    EXPECT_EQ(test::FailureNumberOf([=] { return UncompressData(ArrayOf(kAbcStream), origSize); }),
              err::kOverflow);
  }
}

std::string Damaged(std::string stream, std::size_t at) {
  stream[at] = static_cast<char>(stream[at] ^ 0x55);
  return stream;
}

TEST(ModCompress, DamagedOrMalformedBlobsRaiseTheDamagedMapDataFailure) {
  const struct {
    const char* what;
    std::string blob;
  } blobs[] = {
      {"1 byte", kAbcBlob.substr(0, 1)},
      {"the prefix alone", kAbcBlob.substr(0, 4)},
      {"prefix 0", WithPrefix(0, kAbcStream)},
      {"prefix -1", WithPrefix(-1, kAbcStream)},
      {"lowest prefix", WithPrefix(std::numeric_limits<std::int32_t>::min(), kAbcStream)},
      {"stream cut before its checksum", kAbcBlob.substr(0, kAbcBlob.size() - 4)},
      {"stream cut inside its checksum", kAbcBlob.substr(0, kAbcBlob.size() - 2)},
      {"stream cut to its header", kAbcBlob.substr(0, 6)},
      {"bad stream header", WithPrefix(3, Damaged(kAbcStream, 0))},
      {"bad deflate data", WithPrefix(3, Damaged(kAbcStream, 3))},
      {"bad checksum", WithPrefix(3, Damaged(kAbcStream, 10))},
      // A claim shorter than the record takes its first bytes only from a sound stream.
      {"bad checksum behind a short claim", WithPrefix(2, Damaged(kAbcStream, 10))},
      {"stream cut behind a short claim", WithPrefix(2, kAbcStream.substr(0, kAbcStream.size() - 4))},
      {"not a stream at all", WithPrefix(3, std::string(20, 'x'))},
  };
  for (const auto& c : blobs) {
    EXPECT_EQ(test::FailureNumberOf([&] { return UncompressData(c.blob); }), err::kDamagedMapData) << c.what;
    EXPECT_EQ(test::FailureNumberOf([&] { return UncompressData(ArrayOf(c.blob)); }), err::kDamagedMapData)
        << c.what;
  }

  // A prefixed blob read as a bare stream, and expansion lengths below 1.
  EXPECT_EQ(test::FailureNumberOf([] { return UncompressData(kAbcBlob, 3); }), err::kDamagedMapData);
  for (double origSize : {0.0, 0.5, -1.0, -2147483648.5}) {
    EXPECT_EQ(test::FailureNumberOf([=] { return UncompressData(kAbcStream, origSize); }),
              err::kDamagedMapData)
        << origSize;
  }

  try {
    (void)UncompressData(kAbcBlob.substr(0, 3));
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_NE(failure.Description().find("damaged"), std::string::npos) << failure.Description();
  }
}

// zlib's best compression of zeros comes close to deflate's limit; the room kept for
// a string result must still take the whole record.
TEST(ModCompress, OverclaimedPrefixStillGivesTheWholeRecordOfAHighlyCompressedStream) {
  const std::string zeros(16 << 20, '\0');
  std::int32_t origSize = 0;
  const std::string stream = CompressData(zeros, origSize);
  ASSERT_GT(zeros.size() / stream.size(), 1000u) << "ratio too low to test the limit";

  EXPECT_EQ(UncompressData(WithPrefix(origSize, stream)), zeros);
  EXPECT_EQ(UncompressData(WithPrefix(origSize + 4096, stream)), zeros);
  EXPECT_EQ(UncompressData(WithPrefix(std::numeric_limits<std::int32_t>::max(), stream)), zeros);
  EXPECT_EQ(UncompressData(WithPrefix(origSize - 1, stream)), zeros.substr(0, zeros.size() - 1));
  EXPECT_EQ(UncompressData(ArrayOf(WithPrefix(origSize + 4096, stream))).size(), zeros.size() + 4096);
}

TEST(ModCompress, ACharacterOutsideTheCodePageTravelsAsItsSubstitute) {
  const std::string bytes = ToAnsi(QString::fromUtf8("a\u2713b\u20ac"));
  const std::string blob = CompressData(bytes);
  EXPECT_EQ(blob.substr(0, 4), WithPrefix(4, ""));
  EXPECT_EQ(UncompressData(blob), "a?b\x80");
}

}  // namespace
}  // namespace corvald
