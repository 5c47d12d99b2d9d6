// Stands in for a zlib of another major version when preloaded before the real one.
extern "C" const char* zlibVersion() { return "0.9.9"; }
