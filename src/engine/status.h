// Status codes the engine answers with (0 is success).
#pragma once

namespace engine {

enum EngineStatus : int {
  kOk = 0,
  kInvalidOperation = 1,
  kIoError = 2,           // I/O error, or a damaged file
  kNotOpen = 3,           // position block not open
  kKeyNotFound = 4,
  kDuplicateKey = 5,
  kBadKeyNumber = 6,
  kKeyNumberChanged = 7,
  kNoPosition = 8,
  kEndOfFile = 9,
  kBadFileName = 11,
  kFileNotFound = 12,
  kDiskFull = 18,
  kNotLoaded = 20,
  kKeyBufferMissing = 21,
  kDataLength = 22,
  kNotThisFormat = 30,
  kAccessDenied = 46,
  kFileExists = 59,
  kBadOwner = 51,
  kLocked = 85,
  kBadOpenMode = 88,
};

}  // namespace engine
