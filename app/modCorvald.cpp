// Start-up in its order of steps, and ShutDown, each of whose steps passes
// over its own failure.
#include "app/modCorvald.h"

#include "codec/CodecLibrary.h"
#include "platform/Failure.h"
#include "platform/Files.h"
#include "platform/UserInterface.h"
#include "store/modDatabase.h"

namespace corvald {

namespace {

// Runs one step of ShutDown; whatever fails there is passed over.
template <class Step>
void Tolerated(Step&& step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

}  // namespace

bool StartUp(const std::filesystem::path& folder) {
  SetCurrentFolder(folder);
  try {
    MkDir("Maps");
  } catch (const Failure&) {
    // Already there, or not allowed here: start-up goes on either way.
  }
  SetStatus("Checking zlib.dll ...");
  // The codec library is linked in, so what is checked is that it is one the
  // program was built for.
  if (!CodecLibraryUsable()) {
    MsgBox("File: 'zlib.dll' not found!");
    ShutDown();
    return false;
  }
  if (!LoadServerDatabase()) return false;
  ShowMain();
  UnloadLoading();
  return true;
}

bool Main() { return StartUp(ProgramFolder()); }

void ShutDown() {
  Tolerated([] {
    if (rsMaps) rsMaps->Close();
  });
  Tolerated(FinishServerWrites);
  ReleaseServerDatabase();
  Tolerated(UnloadMain);
  Tolerated(UnloadLoading);
}

}  // namespace corvald
