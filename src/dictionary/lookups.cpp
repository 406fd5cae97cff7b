// The INDEX.DDF lookup and the ATTRIB.DDF lookup, delete and insert that the
// checker needs. Key values are built byte by byte, little-endian.
#include <cstring>

#include "dictionary/dictionary.h"
#include "recmgr/bytes.h"
#include "recmgr/recmgr.h"

namespace {

// Key areas. The record manager writes the found record's key value back into
// them and is told they are 255 bytes long, so they are that large, and static
// so that a slot never keeps a pointer to a dead stack frame.
uint8_t indexKey[256];
uint8_t attribKey[256];
uint8_t insertScratch[256];

// The meaningful part of an ACS record: the 5-byte header and one collating
// sequence. An Insert sends exactly this much, never stale bytes behind it.
constexpr uint16_t ATTRIB_ACS_DATA_SIZE = 265;
constexpr uint16_t ATTRIB_INSERT_LENGTH = ATTRIB_DATA + ATTRIB_ACS_DATA_SIZE;

int GetAttribEqual(int columnId, uint8_t attribType, uint8_t* record) {
  StoreU16(attribKey, static_cast<uint16_t>(columnId));
  attribKey[2] = attribType;
  FileSlot& slot = FileSlots[SLOT_ATTRIB];
  slot.dataBuffer = record;
  // Set anew every time: a successful Get leaves the length of the record it
  // read, and ATTRIB.DDF records differ in length.
  slot.dataLength = ATTRIB_RECORD_SIZE;
  slot.keyNumber = 0;
  slot.keyBuffer = attribKey;
  slot.operation = OP_GET_EQUAL;
  return CallRecordManager(SLOT_ATTRIB);
}

}  // namespace

int FindIndexRecord(int tableId, int keyNumber, int segmentNumber, uint8_t* record) {
  StoreU16(indexKey + 0, static_cast<uint16_t>(tableId));
  StoreU16(indexKey + 2, static_cast<uint16_t>(keyNumber));
  StoreU16(indexKey + 4, static_cast<uint16_t>(segmentNumber));
  FileSlot& slot = FileSlots[SLOT_INDEX];
  // dataLength stays as the Open and every Get since left it: the record size.
  slot.dataBuffer = record;
  slot.keyNumber = 2;
  slot.keyBuffer = indexKey;
  slot.operation = OP_GET_EQUAL;
  return CallRecordManager(SLOT_INDEX);
}

int FindAttribRecord(int columnId, uint8_t attribType, uint8_t* record) {
  return GetAttribEqual(columnId, attribType, record);
}

int DeleteAttribRecord(int columnId, uint8_t attribType, uint8_t* record) {
  int status = GetAttribEqual(columnId, attribType, record);
  if (status != 0) return status;
  // Deletes the record the Get Equal positioned on; every other slot field
  // stays as the Get left it.
  FileSlots[SLOT_ATTRIB].operation = OP_DELETE;
  status = CallRecordManager(SLOT_ATTRIB);
  std::memset(record, 0, ATTRIB_RECORD_SIZE);
  return status;
}

int InsertAttribRecord(int columnId, uint8_t attribType, uint8_t* record) {
  StoreU16(record + ATTRIB_COLUMN_ID, static_cast<uint16_t>(columnId));
  record[ATTRIB_TYPE] = attribType;
  StoreU16(record + ATTRIB_SIZE, ATTRIB_ACS_DATA_SIZE);
  FileSlot& slot = FileSlots[SLOT_ATTRIB];
  slot.keyNumber = 0;
  slot.keyBuffer = insertScratch;
  slot.dataBuffer = record;
  slot.dataLength = ATTRIB_INSERT_LENGTH;
  slot.operation = OP_INSERT;
  return CallRecordManager(SLOT_ATTRIB);
}
