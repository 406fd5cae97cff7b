// io_floor: the I/O a check of every table cannot avoid, and nothing else.
// Reads the four dictionary files whole, then opens each data file that
// FILE.DDF names, reads the header the engine's Open and Stat need (header
// and commit blocks), and closes it. Timing it gives the floor a run is
// measured against.
//
//   io_floor [DIRECTORY]     (default: the current folder)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/format.h"
#include "engine/le.h"

namespace {

constexpr size_t kHeaderPage = 4096;
constexpr size_t kFileRecordSize = 97, kNameAt = 2, kLocationAt = 22, kLocationSize = 64;

bool ReadWhole(const std::string& path, std::vector<uint8_t>* out) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = ::fstat(fd, &st) == 0;
  if (ok) {
    out->resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (ok && done < out->size()) {
      ssize_t n = ::read(fd, out->data() + done, out->size() - done);
      ok = n > 0;
      if (ok) done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
  return ok;
}

uint64_t AlignUp(uint64_t v) { return (v + engine::kAlign - 1) / engine::kAlign * engine::kAlign; }

// The live records of a dictionary file: insert entries not deleted since.
bool LiveRecords(const std::vector<uint8_t>& file, std::vector<const uint8_t*>* records) {
  engine::FileMeta meta;
  if (engine::DecodeHeader(file.data(), file.size(), &meta) != 0) return false;
  if (file.size() < meta.logStart) return false;
  auto a = engine::DecodeCommit(meta, file.data() + meta.commitOffset);
  auto b = engine::DecodeCommit(meta, file.data() + meta.commitOffset + meta.commitBlockSize);
  if (!a && !b) return false;
  uint64_t end = (a && (!b || a->sequence >= b->sequence)) ? a->logEnd : b->logEnd;
  if (end > file.size()) return false;
  std::unordered_map<uint64_t, const uint8_t*> live;
  std::vector<uint64_t> order;
  for (uint64_t pos = meta.logStart; pos + engine::kEntryOverhead <= end;) {
    const uint8_t* e = file.data() + pos;
    uint32_t len = engine::Le32(e + 4);
    if (pos + engine::kEntryOverhead + len > end) return false;
    if (e[0] == engine::kEntryInsert) {
      live[pos] = e + 8;
      order.push_back(pos);
    } else if (len == 8) {
      live.erase(engine::Le64(e + 8));
    }
    pos += engine::kEntryOverhead + len;
  }
  for (uint64_t pos : order)
    if (live.count(pos)) records->push_back(live[pos]);
  return true;
}

// Open, read the header and commit blocks, close. False when it does not open.
bool ReadHeader(const std::string& path, std::vector<uint8_t>* page) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  page->resize(kHeaderPage);
  ssize_t got = ::pread(fd, page->data(), kHeaderPage, 0);
  if (got >= 28) {
    uint64_t headerLength = engine::Le32(page->data() + 12);
    uint64_t keys = engine::Le16(page->data() + 24);
    uint64_t need = AlignUp(headerLength) + 2 * AlignUp(32 + 4 * keys + 4);
    if (need > static_cast<uint64_t>(got) && need < (1u << 24)) {
      page->resize(need);
      got = ::pread(fd, page->data() + got, need - static_cast<size_t>(got), got);
    }
  }
  ::close(fd);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    std::fprintf(stderr, "usage: io_floor [DIRECTORY]\n");
    return 2;
  }
  if (argc == 2 && ::chdir(argv[1]) != 0) {
    std::fprintf(stderr, "io_floor: %s: %s\n", argv[1], std::strerror(errno));
    return 1;
  }
  const char* const names[] = {"FILE.DDF", "FIELD.DDF", "INDEX.DDF", "ATTRIB.DDF"};
  std::vector<uint8_t> dictionaries[4];
  uint64_t bytes = 0;
  for (int i = 0; i < 4; i++) {
    if (!ReadWhole(names[i], &dictionaries[i])) {
      std::fprintf(stderr, "io_floor: %s: cannot be read\n", names[i]);
      return 1;
    }
    bytes += dictionaries[i].size();
  }
  std::vector<const uint8_t*> tables;
  if (!LiveRecords(dictionaries[0], &tables)) {
    std::fprintf(stderr, "io_floor: FILE.DDF: not a readable dictionary\n");
    return 1;
  }
  size_t opened = 0, missing = 0;
  std::vector<uint8_t> page;
  std::string path;
  for (const uint8_t* r : tables) {
    // The checker skips the dictionary's own tables (names beginning X$).
    if ((r[kNameAt] == 'X' || r[kNameAt] == 'x') && r[kNameAt + 1] == '$') continue;
    path.assign(reinterpret_cast<const char*>(r + kLocationAt),
                strnlen(reinterpret_cast<const char*>(r + kLocationAt), kLocationSize));
    while (path.size() > 1 && path.back() == ' ') path.pop_back();
    for (char& c : path)
      if (c == '\\') c = '/';
    if (ReadHeader(path, &page)) opened++;
    else missing++;
  }
  std::printf("dictionary_bytes: %llu\ndata_files: %zu\nmissing: %zu\n",
              static_cast<unsigned long long>(bytes), opened, missing);
  return 0;
}
