// A stand-in for the platform's client library, served by the embedded
// record manager: the same seven arguments, __stdcall, exported by
// ordinal 1 only (see wbtrv32.def), as the program expects to find it.
#include <cstdint>

#include "engine/engine.h"

extern "C" int __stdcall StandInEntry(uint32_t operation, void* positionBlock, void* dataBuffer,
                                      uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                                      uint8_t keyNumber) {
  return engine::Entry(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
                       keyNumber);
}
