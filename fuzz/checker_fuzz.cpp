// Fuzz target: a whole run of the checker over arbitrary record-manager
// answers. The first two bytes choose the options and the table; the rest is
// the scripted record manager's stream of statuses, lengths and bytes (Stat
// results, dictionary records). The run must end and stay inside its
// buffers whatever the answers.
#include <cstddef>
#include <cstdint>

#include "driver/driver.h"
#include "scripted_entry.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::SilenceProgramOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size) {
  if (size < 2) return 0;
  const unsigned bits = input[0] | (input[1] << 8);

  static char program[] = "scrutor";
  static char all[] = "*";
  static char named[] = "Customer";
  static char options[][8] = {"/A", "/C", "/D", "/F", "/I", "/K", "/N", "/S", "/T"};
  static char owner[] = "/P=SECRET";
  char* argv[16] = {program, (bits & 0x8000) ? named : all};
  int argc = 2;
  // At most six arguments in all, so that every input reaches the run.
  for (int i = 0; i < 9 && argc < 7; ++i) {
    if (bits & (1u << i)) argv[argc++] = options[i];
  }
  if ((bits & 0x4000) && argc < 7) argv[argc++] = owner;
  argv[argc] = nullptr;

  fuzz::ResetCheckerState();
  fuzz::ScriptEntry(input + 2, size - 2);
  ScrutorMain(argc, argv);
  return 0;
}
