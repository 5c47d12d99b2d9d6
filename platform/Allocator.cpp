// The heap's handling of freed memory, set through glibc's mallopt and
// malloc_trim.
#include "platform/Allocator.h"

#include <malloc.h>

namespace corvald {

void KeepFreedMemoryForReuse() {
  mallopt(M_TOP_PAD, 1 << 20);
  // One heap for every thread: the workers allocate few, large blocks, and
  // heaps of their own would each keep freed memory apart.
  mallopt(M_ARENA_MAX, 1);
}

void ReturnFreedMemory() { malloc_trim(0); }

}  // namespace corvald
