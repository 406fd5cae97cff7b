// The binding of the Windows build: the platform's client library
// wbtrv32.dll, loaded on first use and entered through its ordinal 1.
#include <windows.h>

#include "recmgr/recmgr.h"

namespace {

// The library's entry: the same seven arguments, called with __stdcall.
using ClientEntryFn = int(__stdcall*)(uint32_t operation, void* positionBlock,
                                      void* dataBuffer, uint32_t* dataLength,
                                      void* keyBuffer, uint8_t keyLength,
                                      uint8_t keyNumber);

constexpr char kClientLibrary[] = "wbtrv32.dll";
constexpr WORD kEntryOrdinal = 1;

bool loadTried = false;
ClientEntryFn clientEntry = nullptr;

// Loads the library once. The current directory is taken out of the DLL
// search path first: a database folder is the usual working directory, and
// a wbtrv32.dll planted there must never be run.
ClientEntryFn LoadClientEntry() {
  if (loadTried) return clientEntry;
  loadTried = true;
  SetDllDirectoryA("");
  // A damaged library answers with a status, not with a dialog box that
  // would hold up an unattended run.
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = LoadLibraryA(kClientLibrary);
  SetErrorMode(oldMode);
  if (library == nullptr) return nullptr;
  FARPROC proc = GetProcAddress(library, MAKEINTRESOURCEA(kEntryOrdinal));
  if (proc == nullptr) {
    FreeLibrary(library);
    return nullptr;
  }
  // FARPROC is a generic function pointer; the void(*)() step keeps the
  // compiler's function-type cast check quiet.
  clientEntry = reinterpret_cast<ClientEntryFn>(reinterpret_cast<void (*)()>(proc));
  return clientEntry;
}

}  // namespace

int BoundRecordManagerEntry(uint32_t operation, void* positionBlock, void* dataBuffer,
                            uint32_t* dataLength, void* keyBuffer, uint8_t keyLength,
                            uint8_t keyNumber) {
  ClientEntryFn entry = LoadClientEntry();
  // No library, or one without the entry: the record manager is not loaded.
  if (entry == nullptr) return STATUS_NOT_LOADED;
  return entry(operation, positionBlock, dataBuffer, dataLength, keyBuffer, keyLength,
               keyNumber);
}
