// The binding of the Windows build: the platform's client library
// wbtrv32.dll, loaded on first use and entered through its ordinal 1.
//
// The library is looked for where Windows looks when the current folder is
// out of the search path: the program's folder, the system folders, then
// the folders of PATH. The current folder is usually a database folder,
// and a wbtrv32.dll planted there must never run, so it is skipped even
// when PATH names it, and relative PATH entries (which name it too) are
// skipped; only when it is the program's own folder is it searched. The search is done here and the library loaded by its full path,
// because not every Windows-compatible loader honours SetDllDirectory("").
#include <windows.h>

#include <cstring>

#include "recmgr/recmgr.h"

namespace {

// The library's entry: the same seven arguments, called with __stdcall.
using ClientEntryFn = int(__stdcall*)(uint32_t operation, void* positionBlock,
                                      void* dataBuffer, uint32_t* dataLength,
                                      void* keyBuffer, uint8_t keyLength,
                                      uint8_t keyNumber);

constexpr char kClientLibrary[] = "wbtrv32.dll";
constexpr WORD kEntryOrdinal = 1;
constexpr DWORD kPathRoom = 1024;

bool loadTried = false;
ClientEntryFn clientEntry = nullptr;

char currentFolder[kPathRoom];
char candidate[kPathRoom];
char fullFolder[kPathRoom];
char searchPath[32768];  // the longest environment value Windows allows

// Cuts trailing separators so that folders compare by their names alone.
void TrimSeparators(char* folder) {
  size_t n = strlen(folder);
  while (n > 3 && (folder[n - 1] == '\\' || folder[n - 1] == '/')) folder[--n] = '\0';
}

bool IsAbsolute(const char* folder) {
  bool drive = ((folder[0] >= 'A' && folder[0] <= 'Z') || (folder[0] >= 'a' && folder[0] <= 'z')) &&
               folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/');
  bool share = (folder[0] == '\\' || folder[0] == '/') && (folder[1] == '\\' || folder[1] == '/');
  return drive || share;
}

enum class Trust { kAlways, kUnlessCurrent };

// Sets candidate to folder\wbtrv32.dll when that file exists. Skips relative
// folders, and the current folder unless the folder is trusted always.
bool TryFolder(const char* folder, Trust trust) {
  if (!IsAbsolute(folder)) return false;
  DWORD n = GetFullPathNameA(folder, kPathRoom, fullFolder, nullptr);
  if (n == 0 || n >= kPathRoom) return false;
  TrimSeparators(fullFolder);
  if (trust == Trust::kUnlessCurrent && lstrcmpiA(fullFolder, currentFolder) == 0) return false;
  size_t length = strlen(fullFolder);
  bool separator = fullFolder[length - 1] == '\\';
  if (length + 1 + sizeof kClientLibrary > kPathRoom) return false;
  memcpy(candidate, fullFolder, length);
  if (!separator) candidate[length++] = '\\';
  memcpy(candidate + length, kClientLibrary, sizeof kClientLibrary);
  DWORD attributes = GetFileAttributesA(candidate);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Walks a list of folders separated by semicolons, in place.
bool TryFolderList(char* list) {
  for (char* start = list; *start != '\0';) {
    char* end = strchr(start, ';');
    if (end != nullptr) *end = '\0';
    if (*start == '"') {  // PATH entries may be quoted
      ++start;
      size_t n = strlen(start);
      if (n > 0 && start[n - 1] == '"') start[n - 1] = '\0';
    }
    if (TryFolder(start, Trust::kUnlessCurrent)) return true;
    if (end == nullptr) break;
    start = end + 1;
  }
  return false;
}

// Finds the library; its full path is left in candidate.
bool FindClientLibrary() {
  DWORD n = GetCurrentDirectoryA(kPathRoom, currentFolder);
  if (n == 0 || n >= kPathRoom) return false;
  TrimSeparators(currentFolder);

  // The program's own folder, where the user put the program: trusted even
  // when the program runs from it.
  n = GetModuleFileNameA(nullptr, searchPath, kPathRoom);
  if (n > 0 && n < kPathRoom) {
    char* slash = strrchr(searchPath, '\\');
    if (slash != nullptr) {
      *slash = '\0';
      if (strchr(searchPath, '\\') == nullptr) strcat(searchPath, "\\");  // "C:" is relative
      if (TryFolder(searchPath, Trust::kAlways)) return true;
    }
  }
  n = GetSystemDirectoryA(searchPath, kPathRoom);
  if (n > 0 && n < kPathRoom && TryFolder(searchPath, Trust::kAlways)) return true;
  n = GetWindowsDirectoryA(searchPath, kPathRoom);
  if (n > 0 && n < kPathRoom && TryFolder(searchPath, Trust::kAlways)) return true;
  n = GetEnvironmentVariableA("PATH", searchPath, sizeof searchPath);
  return n > 0 && n < sizeof searchPath && TryFolderList(searchPath);
}

// Loads the library once; null when it cannot be found or loaded or has no
// ordinal 1.
ClientEntryFn LoadClientEntry() {
  if (loadTried) return clientEntry;
  loadTried = true;
  // Keeps the current folder out of the search for the libraries that
  // wbtrv32.dll itself needs.
  SetDllDirectoryA("");
  if (!FindClientLibrary()) return nullptr;
  // A damaged library answers with a status, not with a dialog box that
  // would hold up an unattended run.
  UINT oldMode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  // Its own dependencies are looked for beside it first.
  HMODULE library = LoadLibraryExA(candidate, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
