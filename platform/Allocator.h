#pragma once

namespace corvald {

// Keeps memory that the heap has freed for the next allocation instead of giving
// it back to the system at once. zlib allocates and frees a work area of about
// 300 KB on every call; returning it each time costs fresh page faults per call.
void KeepFreedMemoryForReuse();

}  // namespace corvald
