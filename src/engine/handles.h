// The table of open files and the position blocks that name them. A block
// holds a magic, a slot number, the slot's generation and a check value
// keyed by a per-process secret; all four must match an open slot, so a
// zeroed, closed, reset, stale or forged block is refused without touching
// anything it points at.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/table.h"

namespace engine {

constexpr size_t kPositionBlockSize = 128;

// Registers an open table and writes its block. Never fails.
void AttachTable(std::unique_ptr<Table> table, uint8_t* block);
// The table a block names, or null when the block is not open.
Table* FindTable(const uint8_t* block);
// Closes the table a block names; false when the block is not open.
bool DetachTable(const uint8_t* block);
// Closes every table.
void DetachAll();

}  // namespace engine
