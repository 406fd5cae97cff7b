// A scripted record manager that answers like a small database: the four
// dictionary Opens, a FILE.DDF holding the given table names, and data files
// that fail to open unless told otherwise; a data file that opens reports
// no keys. Every call is recorded together
// with the slot it was made on.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "fake_entry.h"

struct SlotCall {
  int slot;  // which FileSlots entry the position block belongs to; -1 if none
  uint32_t operation;
  bool operator==(const SlotCall&) const = default;
};

inline void PrintTo(const SlotCall& c, std::ostream* os) {
  *os << "{slot " << c.slot << ", op " << c.operation << "}";
}

class FakeDatabase {
 public:
  FakeDatabase();

  // FILE.DDF records in key order, by table name.
  std::vector<std::string> tables;
  // Status of the Open of a file, by the name sent; unlisted dictionaries
  // open (0), unlisted data files answer 12 (not found).
  std::map<std::string, int> openStatus;
  // When set, the FILE.DDF Get Equal answers this status instead.
  int getEqualStatus = -1;
  // Called with the operation before each answer; lets a test act mid-run.
  void (*onCall)(uint32_t operation, int slot) = nullptr;

  std::vector<SlotCall> SlotCalls() const;
  std::vector<std::string> OpenedNames() const;
  const std::vector<RecordedCall>& calls() const { return fake_.calls(); }
  FakeRecordManager& fake() { return fake_; }
  void ClearCalls();

 private:
  int Answer(FakeCall& call);
  int FillFileRecord(FakeCall& call, size_t index);

  FakeRecordManager fake_;
  std::vector<int> slotOfCall_;
  size_t cursor_ = 0;
};

// The calls every run with working dictionaries begins and (normally) ends with.
std::vector<SlotCall> DictionaryOpens();
std::vector<SlotCall> DictionaryClosesAndReset();
