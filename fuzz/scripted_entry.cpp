#include "scripted_entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "driver/output_internal.h"
#include "recmgr/recmgr.h"

namespace fuzz {
namespace {

const uint8_t* stream = nullptr;
size_t remaining = 0;

bool Take(uint8_t* out) {
  if (remaining == 0) return false;
  *out = *stream++;
  --remaining;
  return true;
}

uint16_t TakeU16() {
  uint8_t lo = 0, hi = 0;
  Take(&lo);
  Take(&hi);
  return static_cast<uint16_t>(lo | (hi << 8));
}

// Statuses other than success, 20 left out: common ones often, odd ones too.
const int kFailures[] = {4, 9, 12, 22, 30, 3, 5, 2, 6, 7, 8, 18, 46, 51, 85, 84, 88, 1, -1,
                         -32768, 32767, 31, 255};

int TakeStatus() {
  uint8_t b;
  if (!Take(&b)) return -1000;  // dry
  if (b < 128) return 0;
  return kFailures[(b - 128) % (sizeof kFailures / sizeof kFailures[0])];
}

int SlotOf(const void* positionBlock) {
  for (int s = 0; s < SLOT_COUNT; ++s) {
    if (positionBlock == FileSlots[s].positionBlock) return s;
  }
  return -1;
}

// The length of the key that a Get on this slot fills in the key buffer: the
// dictionary keys' widths as the files define them.
size_t KeyWidth(int slot, uint8_t keyNumber) {
  switch (slot) {
    case SLOT_FILE: return keyNumber == 1 ? 20 : 2;
    case SLOT_FIELD: return keyNumber == 4 ? 5 : keyNumber == 3 ? 22 : keyNumber == 2 ? 20 : 2;
    case SLOT_INDEX: return keyNumber == 2 ? 6 : 2;
    case SLOT_ATTRIB: return 3;
    default: return 0;
  }
}

// Copies up to n bytes of the stream to out; returns how many.
size_t TakeBytes(uint8_t* out, size_t n) {
  size_t k = n < remaining ? n : remaining;
  if (out != nullptr && k > 0) std::memcpy(out, stream, k);
  stream += k;
  remaining -= k;
  return k;
}

int Entry(uint32_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
          void* keyBuffer, uint8_t keyLength, uint8_t keyNumber) {
  auto* data = static_cast<uint8_t*>(dataBuffer);
  auto* key = static_cast<uint8_t*>(keyBuffer);
  const int slot = SlotOf(positionBlock);
  const uint32_t sent = *dataLength;
  int status = TakeStatus();
  const bool dry = status == -1000;

  switch (operation) {
    case 5: case 6: case 9: case 12: {  // the Gets
      if (dry) return 9;
      if (status != 0 && status != 22) return status;
      uint32_t len = TakeU16() % (sent + 1);
      if (data != nullptr) TakeBytes(data, len);
      size_t width = KeyWidth(slot, keyNumber);
      if (key != nullptr && width <= keyLength) TakeBytes(key, width);
      if (status == 0) *dataLength = len;
      return status;
    }
    case 15: {  // Stat
      if (dry) return 22;
      if (status != 0) return status;
      uint32_t want = TakeU16() % (sent + 1);
      size_t got = data != nullptr ? TakeBytes(data, want) : 0;
      if (key != nullptr) std::memset(key, 0x33, keyLength);
      *dataLength = static_cast<uint32_t>(got);
      return 0;
    }
    case 0:  // Open
      return dry ? 12 : status;
    case 2:  // Insert: the new record's key 0 value, 3 bytes in ATTRIB.DDF
      if (dry) return 0;
      if (status == 0 && key != nullptr && keyLength >= 3) TakeBytes(key, 3);
      return status;
    default:  // Close, Delete, Reset
      return dry ? 0 : status;
  }
}

RecordManagerEntryFn recordedEntry = nullptr;
std::string* recording = nullptr;

void PutStatus(int status) {
  if (status == 0) {
    recording->push_back(0);
    return;
  }
  size_t n = sizeof kFailures / sizeof kFailures[0];
  size_t i = 0;
  while (i < n && kFailures[i] != status) ++i;
  if (i == n) i = 7;  // an unlisted status is recorded as an I/O error
  recording->push_back(static_cast<char>(128 + i));
}

void PutBytes(const void* bytes, size_t n) {
  if (n > 0) recording->append(static_cast<const char*>(bytes), n);
}

void PutU16(uint32_t v) {
  recording->push_back(static_cast<char>(v & 0xFF));
  recording->push_back(static_cast<char>((v >> 8) & 0xFF));
}

int Recorder(uint32_t operation, void* positionBlock, void* dataBuffer, uint32_t* dataLength,
             void* keyBuffer, uint8_t keyLength, uint8_t keyNumber) {
  const uint32_t sent = *dataLength;
  const int slot = SlotOf(positionBlock);
  int result = recordedEntry(operation, positionBlock, dataBuffer, dataLength, keyBuffer,
                             keyLength, keyNumber);
  int status = static_cast<int16_t>(result & 0xFFFF);
  PutStatus(status);
  switch (operation) {
    case 5: case 6: case 9: case 12: {
      if (status != 0 && status != 22) break;
      uint32_t len = status == 0 ? *dataLength : sent;
      PutU16(len);
      PutBytes(dataBuffer, len);
      size_t width = KeyWidth(slot, keyNumber);
      if (keyBuffer != nullptr && width <= keyLength) PutBytes(keyBuffer, width);
      break;
    }
    case 15:
      if (status != 0) break;
      PutU16(*dataLength);
      PutBytes(dataBuffer, *dataLength);
      break;
    case 2:
      if (status == 0 && keyBuffer != nullptr && keyLength >= 3) PutBytes(keyBuffer, 3);
      break;
    default:
      break;
  }
  return result;
}

}  // namespace

void RecordThrough(RecordManagerEntryFn real, std::string* out) {
  recordedEntry = real;
  recording = out;
  SetRecordManagerEntry(Recorder);
}

void ScriptEntry(const uint8_t* bytes, size_t size) {
  stream = bytes;
  remaining = size;
  SetRecordManagerEntry(Entry);
}

void ResetCheckerState() {
  std::memset(FileSlots, 0, sizeof FileSlots);
  SpinnerPosition = 0;
  RunOptions = RunOptionFlags{};
  RunStats = RunCounters{};
  std::memset(OwnerName, 0, sizeof OwnerName);
  std::memset(CurrentTableName, 0, sizeof CurrentTableName);
  std::memset(CurrentFieldName, 0, sizeof CurrentFieldName);
  std::memset(MessageName, 0, sizeof MessageName);
  std::memset(FileRecord, 0, sizeof FileRecord);
  std::memset(FieldRecord, 0, sizeof FieldRecord);
  std::memset(IndexRecord, 0, sizeof IndexRecord);
  std::memset(AttribRecord, 0, sizeof AttribRecord);
  std::memset(StatBuffer, 0, sizeof StatBuffer);
  AcsArea = StatBuffer;
  StatEnd = StatBuffer;
}

void SilenceProgramOutput() {
  // SCRUTOR_FUZZ_OUTPUT=1 keeps the program's output, to see what a
  // reproduced input does.
  if (std::getenv("SCRUTOR_FUZZ_OUTPUT") != nullptr) return;
  static FILE* devNull = std::fopen("/dev/null", "w");
  if (devNull == nullptr) return;
  stdout = devNull;
  stderr = devNull;
}

}  // namespace fuzz
