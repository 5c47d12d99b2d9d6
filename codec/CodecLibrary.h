#pragma once

// Whether the zlib library at hand can serve the codec, which start-up checks
// before it touches the database.

namespace corvald {

// Whether the zlib library loaded at run time can serve the codec: its major
// version is the one the program was built against, and it was built with the
// same sizes for its integer and pointer types.
bool CodecLibraryUsable();

}  // namespace corvald
