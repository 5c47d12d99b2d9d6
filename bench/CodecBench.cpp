// The codec against bare zlib on the same 64 KiB records. The bare calls write into
// buffers made once; the codec makes its own result each time, so the difference is
// all the codec adds: sizing, allocation, the length prefix.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "codec/modCompress.h"

namespace corvald {
namespace {

constexpr std::size_t kRecordSize = 64 * 1024;

enum RecordKind { kMapLike, kText, kRandom };

// A 30-character name, then 16-bit tile numbers in runs with some noise.
std::string MapLikeRecord(std::mt19937& rng) {
  std::string record = "Bench map";
  record.resize(30, ' ');
  std::uint16_t tile = 1;
  while (record.size() < kRecordSize) {
    if (rng() % 7 == 0) tile = static_cast<std::uint16_t>(rng() % 400);
    const std::uint16_t value = rng() % 20 == 0 ? static_cast<std::uint16_t>(rng()) : tile;
    record.push_back(static_cast<char>(value & 0xFF));
    record.push_back(static_cast<char>(value >> 8));
  }
  record.resize(kRecordSize);
  return record;
}

std::string TextRecord(std::mt19937& rng) {
  static const char* const words[] = {"north", "gate", "river", "stone", "the", "of", "road", "hill", "a"};
  std::string record;
  while (record.size() < kRecordSize) {
    record += words[rng() % std::size(words)];
    record += ' ';
  }
  record.resize(kRecordSize);
  return record;
}

std::string RandomRecord(std::mt19937& rng) {
  std::string record(kRecordSize, '\0');
  for (char& c : record) c = static_cast<char>(rng());
  return record;
}

std::string Record(std::int64_t kind) {
  std::mt19937 rng(12345);
  switch (kind) {
    case kMapLike:
      return MapLikeRecord(rng);
    case kText:
      return TextRecord(rng);
    default:
      return RandomRecord(rng);
  }
}

const Bytef* BytesOf(const std::string& text) { return reinterpret_cast<const Bytef*>(text.data()); }

void BareCompress(benchmark::State& state) {
  const std::string record = Record(state.range(0));
  std::vector<Bytef> output(compressBound(record.size()));
  for (auto _ : state) {
    uLongf length = output.size();
    benchmark::DoNotOptimize(compress(output.data(), &length, BytesOf(record), record.size()));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(record.size()));
}

void CodecCompress(benchmark::State& state) {
  const std::string record = Record(state.range(0));
  for (auto _ : state) {
    std::string blob = CompressData(record);
    benchmark::DoNotOptimize(blob.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(record.size()));
}

void BareUncompress(benchmark::State& state) {
  const std::string record = Record(state.range(0));
  const std::string blob = CompressData(record);
  std::vector<Bytef> output(record.size());
  for (auto _ : state) {
    uLongf length = output.size();
    benchmark::DoNotOptimize(uncompress(output.data(), &length, BytesOf(blob) + 4, blob.size() - 4));
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(record.size()));
}

void CodecUncompress(benchmark::State& state) {
  const std::string record = Record(state.range(0));
  const std::string blob = CompressData(record);
  for (auto _ : state) {
    std::string expanded = UncompressData(blob);
    benchmark::DoNotOptimize(expanded.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(record.size()));
}

void RecordKinds(benchmark::internal::Benchmark* benchmark) {
  benchmark->ArgName("record")->Arg(kMapLike)->Arg(kText)->Arg(kRandom);
}

BENCHMARK(BareCompress)->Apply(RecordKinds);
BENCHMARK(CodecCompress)->Apply(RecordKinds);
BENCHMARK(BareUncompress)->Apply(RecordKinds);
BENCHMARK(CodecUncompress)->Apply(RecordKinds);

}  // namespace
}  // namespace corvald
