// Fuzz target: arbitrary argument vectors. The input is split at zero bytes
// into the arguments after the program's path (any count, any bytes); its
// first byte chooses how the scripted record manager answers, so that the
// arguments reach the option scan, the table key, the owner name sent with
// each Open and the not-found message.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/driver.h"
#include "scripted_entry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceProgramOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 1) return 0;
  // Answers: dictionaries that do not open, a table that is not found, or
  // an empty FILE.DDF (every Get at end of file).
  static const uint8_t kNotOpen[] = {200};          // status 30 on the first Open
  static const uint8_t kNotFound[] = {0, 0, 0, 0, 128};  // four Opens, then 4
  static const uint8_t kEmpty[] = {0, 0, 0, 0};
  const uint8_t* script = kEmpty;
  size_t scriptSize = sizeof kEmpty;
  switch (input[0] % 3) {
    case 0: script = kNotOpen; scriptSize = sizeof kNotOpen; break;
    case 1: script = kNotFound; scriptSize = sizeof kNotFound; break;
    default: break;
  }

  // Each argument in a heap block of exactly its size, so that reading past
  // its terminator is caught.
  std::vector<char*> args;
  static char program[] = "scrutor";
  args.push_back(program);
  size_t start = 1;
  for (size_t i = 1; i <= size; ++i) {
    if (i == size || input[i] == 0) {
      if (i > start || i < size) {
        size_t n = i - start;
        char* a = new char[n + 1];
        std::memcpy(a, input + start, n);
        a[n] = '\0';
        args.push_back(a);
      }
      start = i + 1;
      if (args.size() > 64) break;
    }
  }
  const int argc = static_cast<int>(args.size());
  args.push_back(nullptr);

  fuzz::ResetCheckerState();
  fuzz::ScriptEntry(script, scriptSize);
  ScrutorMain(argc, args.data());
  for (size_t i = 1; i + 1 < args.size(); ++i) delete[] args[i];
  return 0;
}
