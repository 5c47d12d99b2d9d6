// A prefix may claim up to 2 GiB for a stream of a few bytes. A string result must
// not take that claim at its word: this test program counts the sizes it allocates.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "codec/modCompress.h"

namespace {
std::atomic<std::size_t> largestAllocation{0};
}  // namespace

void* operator new(std::size_t size) {
  std::size_t seen = largestAllocation.load();
  while (size > seen && !largestAllocation.compare_exchange_weak(seen, size)) {
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace corvald {
namespace {

TEST(ExpansionAllocation, AStringResultAllocatesNoMoreThanTheStreamCanExpandTo) {
  const std::string stream = {0x78, -100, 0x4B, 0x4C, 0x4A, 0x06, 0x00, 0x02, 0x4D, 0x01, 0x27};
  const std::string blob = std::string("\xFF\xFF\xFF\x7F", 4) + stream;

  largestAllocation = 0;
  EXPECT_EQ(UncompressData(blob), "abc");
  // The room deflate allows for the stream, and the string's terminator.
  EXPECT_LE(largestAllocation.load(), stream.size() * 1032 + 1);
}

}  // namespace
}  // namespace corvald
