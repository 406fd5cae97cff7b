// The binding of every non-Windows build: the embedded record manager.
#include "engine/engine.h"
#include "recmgr/recmgr.h"

int BoundRecordManagerEntry(uint32_t operation, void* positionBlock, void* dataBuffer,
                            uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                            uint8_t keyNumber) {
  return engine::Entry(operation, positionBlock, dataBuffer, dataLength, keyBuffer,
                       keyLength, keyNumber);
}
