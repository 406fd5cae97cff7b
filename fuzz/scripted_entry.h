// A record manager that answers from a byte stream: each call takes its
// status, the length it hands back and the bytes it writes from the stream.
// It keeps the contract the checker relies on (nothing written past the
// data length sent or past the key's length, a handed-back length no larger
// than the one sent) and never answers 20, which would end the process.
// When the stream runs dry every Get answers end of file, so a run always
// ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "recmgr/recmgr.h"

namespace fuzz {

// Binds the scripted entry and points it at a stream. The stream must
// outlive the run.
void ScriptEntry(const uint8_t* bytes, size_t size);

// Binds an entry that passes every call to real and appends to *out what
// the scripted entry would need to read to answer the same way: a seed
// recorded from a run over a real database.
void RecordThrough(RecordManagerEntryFn real, std::string* out);

// Puts the checker's global state back to program start.
void ResetCheckerState();

// Sends the program's standard output and standard error to /dev/null at the
// stdio level, so the sanitizers' own reports still reach file descriptor 2.
void SilenceProgramOutput();

}  // namespace fuzz
