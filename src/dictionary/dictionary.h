// The four dictionary files: record buffers with their exact layouts, opening
// and closing, and the INDEX.DDF and ATTRIB.DDF operations the checker needs.
#pragma once

#include <cstdint>

constexpr uint16_t FILE_RECORD_SIZE = 97;
constexpr uint16_t FIELD_RECORD_SIZE = 32;
constexpr uint16_t INDEX_RECORD_SIZE = 10;
constexpr uint16_t ATTRIB_RECORD_SIZE = 2053;

// Byte offsets within the records, as stored in the dictionary files.
constexpr int FILE_TABLE_ID = 0;      // u16
constexpr int FILE_TABLE_NAME = 2;    // 20 bytes, blank-padded
constexpr int FILE_LOCATION = 22;     // 64 bytes
constexpr int FIELD_COLUMN_ID = 0;    // u16
constexpr int FIELD_TABLE_ID = 2;     // u16
constexpr int FIELD_COLUMN_NAME = 4;  // 20 bytes, blank-padded
constexpr int FIELD_DATA_TYPE = 24;   // u8; 255 marks a named index
constexpr int FIELD_OFFSET = 25;      // u16, 0-based
constexpr int FIELD_SIZE = 27;        // u16
constexpr int FIELD_FLAGS = 30;       // u16; bit 0 of the low byte is CASE
constexpr int INDEX_TABLE_ID = 0;     // u16
constexpr int INDEX_COLUMN_ID = 2;    // u16
constexpr int INDEX_KEY_NUMBER = 4;   // u16
constexpr int INDEX_SEGMENT_NUMBER = 6;  // u16
constexpr int INDEX_FLAGS = 8;        // u16
constexpr int ATTRIB_COLUMN_ID = 0;   // u16
constexpr int ATTRIB_TYPE = 2;        // one character
constexpr int ATTRIB_SIZE = 3;        // u16
constexpr int ATTRIB_DATA = 5;        // 2048 bytes

constexpr int NAME_WIDTH = 20;
constexpr int LOCATION_WIDTH = 64;
constexpr uint8_t ATTRIB_ACS = 'O';

extern uint8_t FileRecord[FILE_RECORD_SIZE];
extern uint8_t FieldRecord[FIELD_RECORD_SIZE];
extern uint8_t IndexRecord[INDEX_RECORD_SIZE];
extern uint8_t AttribRecord[ATTRIB_RECORD_SIZE];

// 0 when all four are open, else the status of the first Open that failed.
int OpenDictionaries();
void CloseDictionaries();

int FindIndexRecord(int tableId, int keyNumber, int segmentNumber, uint8_t* record);
int FindAttribRecord(int columnId, uint8_t attribType, uint8_t* record);
int DeleteAttribRecord(int columnId, uint8_t attribType, uint8_t* record);
int InsertAttribRecord(int columnId, uint8_t attribType, uint8_t* record);
