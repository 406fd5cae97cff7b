// A wbtrv32.dll that loads but has no ordinal 1: the program must treat it
// as a record manager that is not loaded.
#include <cstdint>

extern "C" int __stdcall OtherEntry(uint32_t) { return 0; }
