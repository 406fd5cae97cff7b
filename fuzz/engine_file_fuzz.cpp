// Fuzz target: the engine reading a file of arbitrary bytes. The input is a
// few control bytes followed by the file's content; the target opens the
// file, reads its Stat result, walks and looks up records, optionally
// changes it, and runs the whole-file checks. Every buffer handed to the
// engine is allocated at exactly its announced size, so a write past it is
// caught by the address sanitizer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "mem_fs.h"

namespace {

constexpr size_t kControl = 36;  // flags, key number, record length, 33 bytes of material
constexpr uint32_t kStatLength = 33236;
constexpr uint8_t kKeyLength = 255;

struct Call {
  uint8_t block[128] = {};
  // new[] of 0 bytes still gives a distinct pointer, so an empty buffer is
  // never null and any access to it is caught.
  std::unique_ptr<uint8_t[]> data;
  std::vector<uint8_t> key;
  uint32_t length = 0;

  int Run(uint32_t op, uint32_t dataSize, uint8_t keyNumber) {
    data.reset(new uint8_t[dataSize]);
    std::memset(data.get(), 0x5A, dataSize);
    length = dataSize;
    return engine::Entry(op, block, data.get(), &length, key.data(), kKeyLength, keyNumber);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  uint8_t control[kControl] = {};
  std::memcpy(control, input, size < kControl ? size : kControl);
  const uint8_t flags = control[0];
  const uint8_t keyNumber = control[1] & 0x0F;
  const uint8_t recordLength = control[2];
  const uint8_t* material = control + 3;

  fuzz::MemFs fs;
  engine::SetFileSystem(&fs);
  if (size > kControl) {
    fs.files["F.DAT"].assign(reinterpret_cast<const char*>(input + kControl), size - kControl);
  }

  Call c;
  c.key.assign(kKeyLength, 0);
  std::memcpy(c.key.data(), "F.DAT", 6);
  const bool readOnly = flags & 0x02;
  const int8_t mode = readOnly ? -2 : ((flags & 0x40) ? -4 : 0);
  // The owner name travels zero-terminated in the data buffer.
  uint8_t ownerBuffer[16] = {};
  if (flags & 0x01) std::memcpy(ownerBuffer, "SECRET", 7);
  c.length = sizeof ownerBuffer;
  int status = engine::Entry(0, c.block, ownerBuffer, &c.length, c.key.data(), kKeyLength,
                             static_cast<uint8_t>(mode));
  if (status == 0) {
    c.Run(15, kStatLength, 0xFF);
    c.Run(15, 16, 0xFF);  // too short: status 22, nothing written

    // Walk every key in order, a bounded number of steps each.
    for (uint8_t k = 0; k < 4; ++k) {
      uint8_t kn = static_cast<uint8_t>((keyNumber + k) & 0x0F);
      int st = c.Run(12, 4096, kn);
      for (int steps = 0; st == 0 && steps < 64; ++steps) st = c.Run(6, 4096, kn);
    }
    // Lookups with key material from the input, and a short data buffer.
    std::memset(c.key.data(), 0, kKeyLength);
    std::memcpy(c.key.data(), material, 33);
    int st = c.Run(5, 4096, keyNumber);
    std::memcpy(c.key.data(), material, 33);
    st = c.Run(9, recordLength, keyNumber);
    (void)st;
    std::memcpy(c.key.data(), material, 33);
    c.Run(6, 4096, keyNumber);

    if (flags & 0x04) {
      // An insert of a record made from the material, then a delete of
      // whatever the first record is.
      std::unique_ptr<uint8_t[]> record(new uint8_t[recordLength]);
      for (size_t i = 0; i < recordLength; ++i) record[i] = material[i % 33];
      uint32_t len = recordLength;
      engine::Entry(2, c.block, record.get(), &len, c.key.data(), kKeyLength, keyNumber);
      if (c.Run(12, 4096, 0) == 0) c.Run(4, 4096, 0);
      c.Run(12, 4096, 0);
    }
    c.Run(1, 0, 0);
  }

  std::vector<std::vector<uint8_t>> records;
  std::string problem;
  const std::string owner = (flags & 0x01) ? "SECRET" : "";
  if (flags & 0x08) engine::ReadAllRecords("F.DAT", owner, &records);
  if (flags & 0x10) engine::VerifyFile("F.DAT", owner, &problem);

  // Leaves no open file for the next input.
  uint8_t block[128] = {};
  uint32_t zero = 0;
  engine::Entry(28, block, nullptr, &zero, nullptr, 0, 0);
  engine::SetFileSystem(nullptr);
  return 0;
}
