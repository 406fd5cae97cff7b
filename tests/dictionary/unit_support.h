// Shared set-up of the unit tests: a fresh run state and the scripted record
// manager, plus small helpers to read what the fake recorded.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "checker/checker.h"
#include "dictionary/dictionary.h"
#include "driver/driver.h"
#include "driver/output.h"
#include "fake_entry.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

// Which slot a recorded call was made on, found through its position block.
inline int SlotOf(const RecordedCall& call) {
  for (int s = 0; s < SLOT_COUNT; ++s) {
    if (call.positionBlock == FileSlots[s].positionBlock) return s;
  }
  return -1;
}

inline std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> out;
  for (int v : values) out.push_back(static_cast<uint8_t>(v));
  return out;
}

class RunStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(FileSlots, 0, sizeof FileSlots);
    RunOptions = {};
    RunStats = {};
    std::memset(OwnerName, 0, sizeof OwnerName);
    std::strcpy(OwnerName, "..QV....");
    std::memset(FileRecord, 0, sizeof FileRecord);
    std::memset(AttribRecord, 0, sizeof AttribRecord);
    std::memset(StatBuffer, 0, sizeof StatBuffer);
    std::memset(CurrentTableName, 0, sizeof CurrentTableName);
    std::memset(MessageName, 0, sizeof MessageName);
  }

  // Output written through PrintToStdout while fn runs.
  template <typename Fn>
  std::string CaptureOut(Fn fn) {
    fflush(stdout);
    ::testing::internal::CaptureStdout();
    fn();
    fflush(stdout);
    return ::testing::internal::GetCapturedStdout();
  }

  FakeRecordManager fake;
};
