// Index checking: the table pass, segment-to-field matching, index definition
// verification, and the ACS cross-check and repair.
#pragma once

#include <cstdint>

constexpr int STAT_BUFFER_SIZE = 33236;
constexpr int FILE_SPEC_SIZE = 16;
constexpr int KEY_SPEC_SIZE = 16;
constexpr int ACS_TABLE_SIZE = 265;

// KeySpec byte offsets.
constexpr int KEYSPEC_POSITION = 0;   // u16, 1-based
constexpr int KEYSPEC_LENGTH = 2;     // u16
constexpr int KEYSPEC_FLAGS = 4;      // u16
constexpr int KEYSPEC_EXT_TYPE = 10;  // u8
constexpr int KEYSPEC_KEY_NUMBER = 14;  // u8
constexpr int KEYSPEC_ACS_NUMBER = 15;  // u8

constexpr uint16_t KEY_FLAG_SEGMENTED = 0x0010;

// A copy of one 16-byte KeySpec entry of the Stat result.
struct KeySpec {
  uint8_t bytes[KEY_SPEC_SIZE];
};

extern uint8_t StatBuffer[STAT_BUFFER_SIZE];
// Where the current table's collating sequences begin within StatBuffer.
extern const uint8_t* AcsArea;
// One past the last byte that the current table's Stat handed back; no
// collating sequence is read at or beyond it.
extern const uint8_t* StatEnd;

void CheckTable();
int MatchSegmentToField(KeySpec keySpec, int32_t& segmentCounter);
int VerifyIndexSegment(int keyNumber, int segmentNumber, uint16_t keyFlags,
                       uint8_t extendedType, uint8_t acsNumber);
bool CrossCheckAcs(int keyNumber, int segmentNumber, uint16_t keyFlags,
                   uint8_t acsNumber, bool& headerPrinted);
void ReportInconsistency(const char* tableName, const char* columnName,
                         int keyNumber, int segmentNumber, bool& headerPrinted);
