// Measures the engine's costs (not a test): Open+Stat+Close on a small and a
// very large file, loading and Get Equal / Get Next on a large dictionary,
// and the memory an index takes against the file's size.
//   engine_bench DIR [LARGE_RECORDS] [DICT_RECORDS]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <malloc.h>
#include <random>
#include <string>
#include <sys/stat.h>

#include "engine_test_util.h"

using namespace enginetest;
using Clock = std::chrono::steady_clock;

namespace {

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// Heap bytes in use, blocks the allocator maps on their own included.
long long HeapBytes() {
  struct mallinfo2 m = mallinfo2();
  return static_cast<long long>(m.uordblks + m.hblkhd);
}

long long FileSize(const std::string& p) {
  struct stat st;
  return stat(p.c_str(), &st) == 0 ? st.st_size : -1;
}

// 16-byte data records with a unique 4-byte id and a 2-byte group.
void MakeData(const std::string& path, uint32_t count) {
  engine::FileDef def;
  def.recordLength = 16;
  def.keys = {Key(0, {Seg(1, 4, 14)}), Key(1, {Seg(5, 2, 14, 0x0001)})};
  std::remove(path.c_str());
  if (engine::CreateFile(path, def) != 0) std::exit(1);
  std::vector<Bytes> batch;
  for (uint32_t id = 0; id < count; ++id) {
    Bytes r(16, 0);
    std::memcpy(r.data(), &id, 4);
    r[4] = static_cast<uint8_t>(id % 100);
    batch.push_back(std::move(r));
    if (batch.size() == 200000 || id + 1 == count) {
      if (engine::InsertRecords(path, "", batch) != 0) std::exit(2);
      batch.clear();
    }
  }
}

void OpenStatClose(const std::string& path, uint32_t records) {
  const int n = 2000;
  auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    Open f(path);
    Bytes stat;
    if (f.status != 0 || f.Stat(&stat) != 0 || U32(stat, 6) != records) std::exit(3);
    f.Close();
  }
  std::printf("Open+Stat+Close, %u records (%lld bytes): %.1f us\n", records, FileSize(path),
              Micros(Clock::now() - t0) / n);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::string dir = argv[1];
  uint32_t large = argc > 2 ? static_cast<uint32_t>(std::stoul(argv[2])) : 3000000;
  uint32_t dict = argc > 3 ? static_cast<uint32_t>(std::stoul(argv[3])) : 1000000;

  MakeData(dir + "/SMALL.DAT", 10);
  MakeData(dir + "/LARGE.DAT", large);
  for (int round = 0; round < 2; ++round) {  // the first round warms the caches
    OpenStatClose(dir + "/SMALL.DAT", 10);
    OpenStatClose(dir + "/LARGE.DAT", large);
  }

  // A dictionary shaped like ATTRIB.DDF: 5-byte fixed part, variable up to
  // 2053, one unique key columnId (2, unsigned) + attribType (1, string).
  std::string path = dir + "/ATTRIB.DDF";
  std::remove(path.c_str());
  engine::FileDef def;
  def.recordLength = 5;
  def.variable = true;
  def.maxRecordLength = 2053;
  def.keys = {Key(0, {Seg(1, 2, 14), Seg(3, 1, 0)})};
  if (engine::CreateFile(path, def) != 0) return 1;
  std::vector<Bytes> batch;
  for (uint32_t i = 0; i < dict; ++i) {
    Bytes r(5 + (i % 4 == 0 ? 265 : 8), 0x41);
    r[0] = static_cast<uint8_t>(i / 16);
    r[1] = static_cast<uint8_t>(i / 16 >> 8);
    r[2] = static_cast<uint8_t>('A' + i % 16);
    batch.push_back(std::move(r));
    if (batch.size() == 200000 || i + 1 == dict) {
      if (engine::InsertRecords(path, "", batch) != 0) return 4;
      batch.clear();
    }
  }
  // Distinct column ids wrap at 65536*16 combinations; stay below that.
  long long heap0 = HeapBytes();
  Open f(path);
  Bytes rec;
  auto t0 = Clock::now();
  if (f.First(0, &rec) != 0) return 5;
  std::printf("dictionary of %u records (%lld bytes): first Get (loads the log, indexes key 0) %.0f ms, memory %lld bytes\n",
              dict, FileSize(path), Micros(Clock::now() - t0) / 1000, HeapBytes() - heap0);
  std::mt19937 rng(1);
  const int n = 200000;
  t0 = Clock::now();
  for (int i = 0; i < n; ++i) {
    uint32_t at = rng() % dict;
    Bytes key = {static_cast<uint8_t>(at / 16), static_cast<uint8_t>(at / 16 >> 8), static_cast<uint8_t>('A' + at % 16)};
    if (f.Equal(0, key, &rec) != 0) return 6;
  }
  std::printf("Get Equal on %u records: %.2f us\n", dict, Micros(Clock::now() - t0) / n);
  if (f.First(0, &rec) != 0) return 7;
  t0 = Clock::now();
  int steps = 0;
  while (steps < n && f.Next(0, &rec) == 0) ++steps;
  std::printf("Get Next: %.2f us\n", Micros(Clock::now() - t0) / steps);

  // A dictionary shaped like FIELD.DDF: 32-byte records, five keys.
  path = dir + "/FIELD.DDF";
  std::remove(path.c_str());
  engine::FileDef field;
  field.recordLength = 32;
  field.keys = {Key(0, {Seg(1, 2, 14)}), Key(1, {Seg(3, 2, 14, 0x0001)}), Key(2, {Seg(5, 20, 0, 0x0401)}),
                Key(3, {Seg(3, 2, 14, 0x0001), Seg(5, 20, 0, 0x0401)}),
                Key(4, {Seg(3, 2, 14, 0x0001), Seg(26, 2, 14, 0x0001), Seg(30, 1, 14, 0x0001)})};
  if (engine::CreateFile(path, field) != 0) return 8;
  uint32_t fields = dict > 65535 ? 65535 : dict;  // columnId is 2 bytes and unique
  for (uint32_t i = 0; i < fields; ++i) {
    Bytes r(32, ' ');
    r[0] = static_cast<uint8_t>(i);
    r[1] = static_cast<uint8_t>(i >> 8);
    r[2] = static_cast<uint8_t>(i / 20);
    r[3] = static_cast<uint8_t>(i / 20 >> 8);
    std::snprintf(reinterpret_cast<char*>(&r[4]), 20, "Column%u", i % 997);
    batch.push_back(std::move(r));
  }
  if (engine::InsertRecords(path, "", batch) != 0) return 9;
  batch.clear();
  heap0 = HeapBytes();
  Open g(path);
  if (g.First(0, &rec) != 0) return 10;
  std::printf("FIELD-like dictionary of %u records (%lld bytes): memory %lld bytes\n", fields,
              FileSize(path), HeapBytes() - heap0);
  return 0;
}
