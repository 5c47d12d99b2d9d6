// Bounds of the map table.
#include "store/MapTable.h"

#include "platform/Failure.h"

namespace corvald {

namespace {

std::size_t SlotIndex(std::int32_t number) {
  if (number < 1 || number > MAX_MAPS) Raise(err::kSubscriptOutOfRange);
  return static_cast<std::size_t>(number - 1);
}

}  // namespace

MapRec& MapTable::operator[](std::int32_t number) { return slots_[SlotIndex(number)]; }

const MapRec& MapTable::operator[](std::int32_t number) const { return slots_[SlotIndex(number)]; }

}  // namespace corvald
