// Made-up sample maps: fixed names and tiles drawn from a seeded generator.
#include "tools/SampleMaps.h"

#include <random>

namespace corvald::tools {

namespace {

constexpr std::size_t kNameLength = 30;

constexpr const char* kNames[] = {
    "Harbour",
    "Old Town",
    "Desert",
    "Forest Path",
    "Mountain Pass",
    "Swamp",
    "Castle Gate",
    "Castle Hall",
    "Crypt",
    "Lighthouse",
    "Mines",
    "Frozen Lake",
    "Volcano",
    "Market Square",
    "Docks",
    "Sewers",
    "Graveyard",
    "Temple",
    "Wizard Tower",
    "Farmland",
    "River Crossing",
    "Bandit Camp",
    "Elven Grove",
    "Dwarven Hall",
    "Ice Cave",
    "Ruins",
    "Oasis",
    "Canyon",
    "Jungle",
    "Fishing Village",
    "Arena",
    "Catacombs",
    "Sky Bridge",
    "Ch\xE2teau Garden",
    "Tower: Top Floor",
    "Island",
};

// Made-up map bytes: width and height, then rows of terrain tiles that run in
// stretches, as real maps do, so that they compress somewhat.
std::string MapBytes(std::int32_t number) {
  std::mt19937 generator(static_cast<std::uint32_t>(number));
  const int width = 48 + static_cast<int>(generator() % 49);
  const int height = 32 + static_cast<int>(generator() % 33);
  std::string bytes;
  for (int value : {width, height}) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>(value >> 8);
  }
  for (int row = 0; row < height; ++row) {
    for (int column = 0; column < width;) {
      const char tile = static_cast<char>(generator() % 24);
      const int run = 1 + static_cast<int>(generator() % 8);
      for (int i = 0; i < run && column < width; ++i, ++column) bytes += tile;
    }
  }
  return bytes;
}

}  // namespace

std::vector<SampleMap> SampleMaps() {
  std::vector<SampleMap> maps;
  std::int32_t number = 1;
  for (const char* name : kNames) {
    std::string record(name);
    record.resize(kNameLength, ' ');
    maps.push_back({number, record + MapBytes(number)});
    ++number;
  }
  return maps;
}

}  // namespace corvald::tools
