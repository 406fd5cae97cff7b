// The dictionary operations against the scripted record manager: the exact
// calls, slot fields, key values and lengths each one sends.
#include "unit_support.h"

namespace {

class DictionaryTest : public RunStateTest {};

std::string KeyText(const RecordedCall& call) {
  return std::string(reinterpret_cast<const char*>(call.keyBytes.data()));
}

TEST_F(DictionaryTest, OpensAllFourInOrderWithOwnerNameAndRecordSizes) {
  fake.dataBytesToRecord = 10;
  EXPECT_EQ(OpenDictionaries(), 0);
  const auto& calls = fake.calls();
  ASSERT_EQ(calls.size(), 4u);
  struct Expected { int slot; const char* name; uint32_t length; };
  const Expected expected[] = {{SLOT_FILE, "FILE.DDF", 97},
                               {SLOT_FIELD, "FIELD.DDF", 32},
                               {SLOT_INDEX, "INDEX.DDF", 10},
                               {SLOT_ATTRIB, "ATTRIB.DDF", 2053}};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(calls[i].operation, uint32_t{OP_OPEN});
    EXPECT_EQ(SlotOf(calls[i]), expected[i].slot);
    EXPECT_EQ(calls[i].dataLengthSent, expected[i].length);
    EXPECT_EQ(calls[i].keyNumberByte, 0);
    EXPECT_EQ(calls[i].keyLength, 255);
    EXPECT_EQ(KeyText(calls[i]), expected[i].name);
    // The owner name and its terminator open the data buffer.
    ASSERT_GE(calls[i].dataBytes.size(), 9u);
    EXPECT_EQ(std::memcmp(calls[i].dataBytes.data(), "..QV....\0", 9), 0);
    EXPECT_STREQ(FileSlots[expected[i].slot].fileName, expected[i].name);
  }
  // The Opens leave the record sizes in the slots for every later Get.
  EXPECT_EQ(FileSlots[SLOT_INDEX].dataLength, 10);
  EXPECT_EQ(FileSlots[SLOT_FILE].dataBuffer, FileRecord);
}

TEST_F(DictionaryTest, StopsAtTheFirstFailedOpenWithoutClosing) {
  // Each case fails one dictionary; those after it are never tried.
  struct Case { int failingSlot; int status; size_t callsMade; };
  const Case cases[] = {{SLOT_FILE, 12, 1}, {SLOT_FIELD, 51, 2}, {SLOT_INDEX, 12, 3},
                        {SLOT_ATTRIB, 12, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failingSlot);
    fake.ClearCalls();
    fake.SetHandler([&](FakeCall& call) {
      return call.positionBlock == FileSlots[c.failingSlot].positionBlock ? c.status : 0;
    });
    EXPECT_EQ(OpenDictionaries(), c.status);
    ASSERT_EQ(fake.calls().size(), c.callsMade);
    for (const auto& call : fake.calls()) EXPECT_EQ(call.operation, uint32_t{OP_OPEN});
    EXPECT_EQ(SlotOf(fake.calls().back()), c.failingSlot);
  }
}

TEST_F(DictionaryTest, TraceLinesFrameTheOpensAndCloses) {
  RunOptions.trace = 1;
  fake.SetHandler([](FakeCall& call) {
    return call.keyNumber == 0 && call.key && std::strcmp((char*)call.key, "INDEX.DDF") == 0 ? 12 : 0;
  });
  std::string out = CaptureOut([] { OpenDictionaries(); });
  EXPECT_EQ(out.rfind("Opening Data Dictionaries\n", 0), 0u) << out;
  EXPECT_NE(out.find("Op: 0, Buflen: 97, KeyNum: 0 Status: 0\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Op: 0, Buflen: 10, KeyNum: 0 Status: 12\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Buflen: 2053"), std::string::npos) << out;
  EXPECT_NE(out.find("Data Dictionaries Opened: 12\n"), std::string::npos) << out;

  out = CaptureOut([] { CloseDictionaries(); });
  EXPECT_EQ(out.rfind("Closing Data Dictionaries\n", 0), 0u) << out;
  EXPECT_GE(out.size(), 25u);
  EXPECT_EQ(out.substr(out.size() - 25), "Data Dictionaries Closed\n") << out;
}

TEST_F(DictionaryTest, NoTraceLinesWithoutTheOption) {
  std::string out = CaptureOut([] {
    OpenDictionaries();
    CloseDictionaries();
  });
  EXPECT_EQ(out, "");
}

TEST_F(DictionaryTest, OwnerNameTooLongForABufferIsCutWithItsTerminator) {
  std::strcpy(OwnerName, "abcdefghijklmnopqrstuvwxyz0123456789");  // 36 characters
  fake.dataBytesToRecord = 64;
  ASSERT_EQ(OpenDictionaries(), 0);
  const auto& calls = fake.calls();
  ASSERT_EQ(calls.size(), 4u);
  // FILE.DDF and ATTRIB.DDF take it whole; FIELD.DDF 31 and INDEX.DDF 9 characters.
  EXPECT_EQ(std::string((const char*)calls[0].dataBytes.data()), OwnerName);
  EXPECT_EQ(std::string((const char*)calls[1].dataBytes.data()), std::string(OwnerName, 31));
  ASSERT_EQ(calls[2].dataBytes.size(), 10u);
  EXPECT_EQ(std::string((const char*)calls[2].dataBytes.data()), "abcdefghi");
  EXPECT_EQ(std::string((const char*)calls[3].dataBytes.data()), OwnerName);
}

TEST_F(DictionaryTest, ClosesSlotsOneTwoThreeFiveTouchingNothingElse) {
  ASSERT_EQ(OpenDictionaries(), 0);
  FileSlots[SLOT_ATTRIB].dataLength = 300;  // as a Get would have left it
  FileSlot before[SLOT_COUNT];
  std::memcpy(before, FileSlots, sizeof FileSlots);
  fake.ClearCalls();
  CloseDictionaries();
  const auto& calls = fake.calls();
  ASSERT_EQ(calls.size(), 4u);
  const int order[] = {SLOT_FILE, SLOT_FIELD, SLOT_INDEX, SLOT_ATTRIB};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(calls[i].operation, uint32_t{OP_CLOSE});
    EXPECT_EQ(SlotOf(calls[i]), order[i]);
  }
  EXPECT_EQ(calls[3].dataLengthSent, 300u);
  for (int s = 0; s < SLOT_COUNT; ++s) {
    EXPECT_EQ(FileSlots[s].dataBuffer, before[s].dataBuffer);
    EXPECT_EQ(FileSlots[s].keyBuffer, before[s].keyBuffer);
    EXPECT_EQ(FileSlots[s].keyNumber, before[s].keyNumber);
    EXPECT_EQ(FileSlots[s].dataLength, before[s].dataLength);
  }
  EXPECT_EQ(FileSlots[SLOT_DATA].operation, before[SLOT_DATA].operation);
}

TEST_F(DictionaryTest, FindIndexRecordSendsThreeLittleEndianWords) {
  ASSERT_EQ(OpenDictionaries(), 0);
  fake.ClearCalls();
  fake.keyBytesToRecord = 6;
  struct Case { int table, key, segment; std::vector<uint8_t> bytes; };
  const Case cases[] = {
      {7, 1, 0, Bytes({0x07, 0x00, 0x01, 0x00, 0x00, 0x00})},
      {0x1234, 0xFF, 0x0102, Bytes({0x34, 0x12, 0xFF, 0x00, 0x02, 0x01})},
      {0x12345, -1, 65536 + 3, Bytes({0x45, 0x23, 0xFF, 0xFF, 0x03, 0x00})},  // low 16 bits
  };
  for (const Case& c : cases) {
    fake.ClearCalls();
    fake.SetHandler([](FakeCall&) { return 4; });
    EXPECT_EQ(FindIndexRecord(c.table, c.key, c.segment, IndexRecord), 4);
    ASSERT_EQ(fake.calls().size(), 1u);
    const RecordedCall& call = fake.calls()[0];
    EXPECT_EQ(call.operation, uint32_t{OP_GET_EQUAL});
    EXPECT_EQ(SlotOf(call), SLOT_INDEX);
    EXPECT_EQ(call.keyNumberByte, 2);
    EXPECT_EQ(call.dataLengthSent, 10u);  // left by the Open
    EXPECT_EQ(call.keyBytes, c.bytes);
  }
  EXPECT_EQ(FileSlots[SLOT_INDEX].dataBuffer, IndexRecord);
}

TEST_F(DictionaryTest, FindAttribRecordSendsColumnAndTypeWithFullLength) {
  ASSERT_EQ(OpenDictionaries(), 0);
  FileSlots[SLOT_ATTRIB].dataLength = 270;  // a shorter record read before
  fake.ClearCalls();
  fake.keyBytesToRecord = 3;
  fake.SetHandler([](FakeCall& call) {
    *call.dataLength = 270;
    return 0;
  });
  EXPECT_EQ(FindAttribRecord(300, ATTRIB_ACS, AttribRecord), 0);
  ASSERT_EQ(fake.calls().size(), 1u);
  const RecordedCall& call = fake.calls()[0];
  EXPECT_EQ(call.operation, uint32_t{OP_GET_EQUAL});
  EXPECT_EQ(SlotOf(call), SLOT_ATTRIB);
  EXPECT_EQ(call.keyNumberByte, 0);
  EXPECT_EQ(call.dataLengthSent, 2053u);
  EXPECT_EQ(call.keyBytes, Bytes({0x2C, 0x01, 0x4F}));
  EXPECT_EQ(FileSlots[SLOT_ATTRIB].dataBuffer, AttribRecord);
}

TEST_F(DictionaryTest, DeleteOnlyAfterASuccessfulGetEqualAndClearsAfterAnyDelete) {
  struct Case { int getStatus; int deleteStatus; int result; bool deleteIssued; bool cleared; };
  const Case cases[] = {
      {4, 0, 4, false, false},   // no such record: nothing deleted, buffer kept
      {2, 0, 2, false, false},   // an error on the lookup ends it the same way
      {0, 0, 0, true, true},
      {0, 80, 80, true, true},   // a failed Delete still clears the buffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.getStatus * 100 + c.deleteStatus);
    std::memset(FileSlots, 0, sizeof FileSlots);
    std::memset(AttribRecord, 0x5A, sizeof AttribRecord);
    fake.ClearCalls();
    fake.keyBytesToRecord = 3;
    fake.SetHandler([&](FakeCall& call) {
      if (call.operation == OP_GET_EQUAL) {
        if (c.getStatus == 0) *call.dataLength = 270;  // the record's length
        return c.getStatus;
      }
      return c.deleteStatus;
    });
    EXPECT_EQ(DeleteAttribRecord(300, ATTRIB_ACS, AttribRecord), c.result);
    const auto& calls = fake.calls();
    ASSERT_EQ(calls.size(), c.deleteIssued ? 2u : 1u);
    EXPECT_EQ(calls[0].operation, uint32_t{OP_GET_EQUAL});
    EXPECT_EQ(calls[0].dataLengthSent, 2053u);
    EXPECT_EQ(calls[0].keyBytes, Bytes({0x2C, 0x01, 0x4F}));
    if (c.deleteIssued) {
      // Everything but the operation as the Get Equal left it.
      EXPECT_EQ(calls[1].operation, uint32_t{OP_DELETE});
      EXPECT_EQ(SlotOf(calls[1]), SLOT_ATTRIB);
      EXPECT_EQ(calls[1].keyNumberByte, 0);
      EXPECT_EQ(calls[1].dataLengthSent, 270u);
      EXPECT_EQ(calls[1].keyBytes, calls[0].keyBytes);
    }
    uint8_t expected[ATTRIB_RECORD_SIZE];
    std::memset(expected, c.cleared ? 0 : 0x5A, sizeof expected);
    EXPECT_EQ(std::memcmp(AttribRecord, expected, sizeof expected), 0);
  }
}

TEST_F(DictionaryTest, InsertCompletesTheHeaderAndSendsExactlyTheAcsRecord) {
  // Stale bytes everywhere, and a short length left in the slot by a Delete.
  std::memset(AttribRecord, 0xEE, sizeof AttribRecord);
  for (int i = 0; i < 265; ++i) AttribRecord[5 + i] = static_cast<uint8_t>(i);
  FileSlots[SLOT_ATTRIB].dataLength = 40;
  fake.dataBytesToRecord = ATTRIB_RECORD_SIZE;
  fake.SetHandler([](FakeCall&) { return 5; });
  EXPECT_EQ(InsertAttribRecord(0x0102, ATTRIB_ACS, AttribRecord), 5);
  ASSERT_EQ(fake.calls().size(), 1u);
  const RecordedCall& call = fake.calls()[0];
  EXPECT_EQ(call.operation, uint32_t{OP_INSERT});
  EXPECT_EQ(SlotOf(call), SLOT_ATTRIB);
  EXPECT_EQ(call.keyNumberByte, 0);
  EXPECT_FALSE(call.keyBufferNull);
  EXPECT_EQ(call.dataLengthSent, 270u);
  ASSERT_EQ(call.dataBytes.size(), 270u);
  EXPECT_EQ(call.dataBytes[0], 0x02);
  EXPECT_EQ(call.dataBytes[1], 0x01);
  EXPECT_EQ(call.dataBytes[2], 'O');
  EXPECT_EQ(call.dataBytes[3], 0x09);  // 265
  EXPECT_EQ(call.dataBytes[4], 0x01);
  for (int i = 0; i < 265; ++i) ASSERT_EQ(call.dataBytes[5 + i], static_cast<uint8_t>(i));
  // A failed Insert keeps the header it wrote; the data is untouched.
  EXPECT_EQ(LoadU16(AttribRecord + ATTRIB_SIZE), 265);
  EXPECT_EQ(AttribRecord[270], 0xEE);
}

}  // namespace
