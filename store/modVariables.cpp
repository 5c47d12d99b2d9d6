// The storage of the program's shared variables.
#include "store/modVariables.h"

namespace corvald {

std::int32_t MapCount = 0;

}  // namespace corvald
