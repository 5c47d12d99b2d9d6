#pragma once

// How the heap keeps freed memory and gives it back, tuned for the codec's
// large buffers and the workers that share them.

namespace corvald {

// Keeps memory that the heap has freed for the next allocation instead of giving
// it back to the system at once. zlib allocates and frees a work area of about
// 300 KB on every call; returning it each time costs fresh page faults per call.
// Worker threads share the one heap.
void KeepFreedMemoryForReuse();

// Gives the memory that the heap holds free back to the system, after work
// whose many buffers in flight are gone, so that it does not stay counted
// against the program for the rest of the run.
void ReturnFreedMemory();

}  // namespace corvald
