#include "fake_entry.h"

#include <cstring>

#include "recmgr/recmgr.h"

namespace {
FakeRecordManager* current = nullptr;
}

FakeRecordManager::FakeRecordManager() {
  current = this;
  SetRecordManagerEntry(&FakeRecordManager::Entry);
}

FakeRecordManager::~FakeRecordManager() {
  if (current == this) current = nullptr;
}

int FakeRecordManager::Entry(uint32_t operation, void* positionBlock, void* dataBuffer,
                             uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                             uint8_t keyNumber) {
  if (current == nullptr) return 20;
  RecordedCall call{};
  call.operation = operation;
  call.dataLengthSent = dataLength ? *dataLength : 0;
  call.keyNumberByte = keyNumber;
  call.keyLength = keyLength;
  call.keyBufferNull = keyBuffer == nullptr;
  call.dataBufferNull = dataBuffer == nullptr;
  call.positionBlock = positionBlock;
  if (keyBuffer != nullptr) {
    const auto* k = static_cast<const uint8_t*>(keyBuffer);
    call.keyBytes.assign(k, k + current->keyBytesToRecord);
  }
  if (dataBuffer != nullptr && dataLength != nullptr) {
    size_t n = current->dataBytesToRecord;
    if (n > *dataLength) n = *dataLength;
    const auto* d = static_cast<const uint8_t*>(dataBuffer);
    call.dataBytes.assign(d, d + n);
  }
  current->calls_.push_back(call);
  if (!current->handler_) return 0;
  FakeCall fc{operation, positionBlock, static_cast<uint8_t*>(dataBuffer), dataLength,
              static_cast<uint8_t*>(keyBuffer), keyLength, keyNumber};
  return current->handler_(fc);
}
