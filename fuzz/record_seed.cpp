// Records a seed for fuzz_checker: runs the checker in DIRECTORY over the
// embedded record manager with the options given, and writes the option
// bytes and the record manager's answers to SEED in the scripted entry's
// format. Usage: fuzz_record_seed DIRECTORY SEED TABLE [/OPTIONS...]
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "driver/driver.h"
#include "recmgr/recmgr.h"
#include "scripted_entry.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s DIRECTORY SEED TABLE [/OPTIONS...]\n", argv[0]);
    return 2;
  }
  // The same option bits that fuzz_checker decodes.
  const char* letters = "ACDFIKNST";
  unsigned bits = std::strcmp(argv[3], "*") == 0 ? 0 : 0x8000;
  for (int i = 4; i < argc; ++i) {
    const char* o = argv[i];
    if (std::strncmp(o + 1, "P=", 2) == 0) {
      bits |= 0x4000;
      continue;
    }
    const char* at = std::strchr(letters, o[1]);
    if (at != nullptr && o[1] != '\0') bits |= 1u << (at - letters);
  }
  std::string seed;
  seed.push_back(static_cast<char>(bits & 0xFF));
  seed.push_back(static_cast<char>(bits >> 8));

  if (chdir(argv[1]) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  fuzz::ResetCheckerState();
  fuzz::RecordThrough(BoundRecordManagerEntry, &seed);
  char* args[16] = {argv[0], argv[3]};
  int n = 2;
  for (int i = 4; i < argc && n < 15; ++i) args[n++] = argv[i];
  args[n] = nullptr;
  std::FILE* devNull = std::fopen("/dev/null", "w");
  std::FILE* out = stdout;
  stdout = devNull;
  ScrutorMain(n, args);
  std::fflush(stdout);
  stdout = out;

  std::FILE* f = std::fopen(argv[2], "wb");
  if (f == nullptr || std::fwrite(seed.data(), 1, seed.size(), f) != seed.size()) {
    std::perror(argv[2]);
    return 1;
  }
  std::fclose(f);
  return 0;
}
