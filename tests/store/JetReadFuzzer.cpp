// Reads damaged copies of Jet databases whole, as start-up reads them: the
// file compacted where the writer takes it, then the table "Maps" on its index
// "Number", every field of every row. Whatever the damage, the run ends
// normally or with an engine failure, never with a crash, a hang or memory out
// of bounds.
#include <cstdint>
#include <fstream>
#include <string>

#include "platform/Failure.h"
#include "store/jet/JetDatabase.h"
#include "store/modConst.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace corvald::engine;
  const char* const kFile = "jet_read_fuzz.mdb";
  std::ofstream(kFile, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), size);
  if (jet::FormatOfFile(kFile) == jet::Format::kOther) return 0;
  try {
    const auto file = jet::Open(kFile, corvald::kServerPassword, false);
    if (!jet::WhyNotWritten(*file)) jet::Compact(*file);
    const auto table = jet::TableName(*file, corvald::kMapsTable);
    if (!table) return 0;
    const auto rows = jet::OpenRows(file, *table);
    rows->SetIndex(corvald::kNumberIndex);
    for (bool more = rows->ToFirst(); more; more = rows->ToNext()) {
      for (std::size_t column = 0; column < rows->ColumnCount(); ++column) rows->Field(column);
    }
  } catch (const corvald::Failure&) {
    // A damaged file may fail in any way the engine reports.
  }
  return 0;
}
