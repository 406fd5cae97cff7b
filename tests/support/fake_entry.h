// A scripted record manager for unit tests: records every call and answers
// through a handler that the test installs.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct RecordedCall {
  uint32_t operation;
  uint32_t dataLengthSent;
  uint8_t keyNumberByte;
  uint8_t keyLength;
  bool keyBufferNull;
  bool dataBufferNull;
  std::vector<uint8_t> keyBytes;   // the first keyBytesToRecord bytes of the key buffer
  std::vector<uint8_t> dataBytes;  // the first dataBytesToRecord bytes of the data buffer
  const void* positionBlock;
};

struct FakeCall {
  uint32_t operation;
  void* positionBlock;
  uint8_t* data;
  uint32_t* dataLength;
  uint8_t* key;
  uint8_t keyLength;
  uint8_t keyNumber;
};

class FakeRecordManager {
 public:
  using Handler = std::function<int(FakeCall&)>;

  // Binds this fake as the record manager's entry (SetRecordManagerEntry).
  FakeRecordManager();
  ~FakeRecordManager();

  void SetHandler(Handler handler) { handler_ = std::move(handler); }
  const std::vector<RecordedCall>& calls() const { return calls_; }
  void ClearCalls() { calls_.clear(); }

  size_t keyBytesToRecord = 32;
  size_t dataBytesToRecord = 0;

  static int Entry(uint32_t operation, void* positionBlock, void* dataBuffer,
                   uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                   uint8_t keyNumber);

 private:
  Handler handler_;
  std::vector<RecordedCall> calls_;
};
