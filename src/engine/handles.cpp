#include "engine/handles.h"

#include <cstring>
#include <vector>

#include "engine/fs.h"
#include "engine/le.h"

namespace engine {
namespace {

constexpr uint32_t kBlockMagic = 0x42505253;  // "SRPB"

struct Slot {
  std::unique_ptr<Table> table;
  uint64_t generation = 0;  // 0 while the slot is free
};

std::vector<Slot>& Slots() {
  static std::vector<Slot> slots;
  return slots;
}

uint64_t Secret() {
  static uint64_t secret = [] {
    uint8_t bytes[8];
    CurrentFileSystem()->Random(bytes, sizeof bytes);
    return Le64(bytes) | 1;
  }();
  return secret;
}

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t Check(uint32_t slot, uint64_t generation) {
  return Mix(Mix(Secret() ^ slot) ^ generation);
}

uint64_t g_nextGeneration = 1;

Slot* FindSlot(const uint8_t* block) {
  if (block == nullptr || Le32(block) != kBlockMagic) return nullptr;
  uint32_t slot = Le32(block + 4);
  uint64_t generation = Le64(block + 8);
  auto& slots = Slots();
  if (slot >= slots.size() || generation == 0) return nullptr;
  Slot& s = slots[slot];
  if (!s.table || s.generation != generation || Le64(block + 16) != Check(slot, generation)) return nullptr;
  return &s;
}

}  // namespace

void AttachTable(std::unique_ptr<Table> table, uint8_t* block) {
  auto& slots = Slots();
  size_t i = 0;
  while (i < slots.size() && slots[i].table) ++i;
  if (i == slots.size()) slots.emplace_back();
  slots[i].table = std::move(table);
  slots[i].generation = g_nextGeneration++;
  std::memset(block, 0, kPositionBlockSize);
  Put32(block, kBlockMagic);
  Put32(block + 4, static_cast<uint32_t>(i));
  Put64(block + 8, slots[i].generation);
  Put64(block + 16, Check(static_cast<uint32_t>(i), slots[i].generation));
}

Table* FindTable(const uint8_t* block) {
  Slot* s = FindSlot(block);
  return s ? s->table.get() : nullptr;
}

bool DetachTable(const uint8_t* block) {
  Slot* s = FindSlot(block);
  if (!s) return false;
  s->table.reset();
  s->generation = 0;
  return true;
}

void DetachAll() {
  for (Slot& s : Slots()) {
    s.table.reset();
    s.generation = 0;
  }
}

}  // namespace engine
