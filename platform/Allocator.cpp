#include "platform/Allocator.h"

#include <malloc.h>

namespace corvald {

void KeepFreedMemoryForReuse() { mallopt(M_TOP_PAD, 1 << 20); }

void ReturnFreedMemory() { malloc_trim(0); }

}  // namespace corvald
