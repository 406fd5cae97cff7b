// The checked call: arguments sent, /D trace, status policy, the data length
// carried in the slot, and the slot operations Open, Stat, Close, Reset.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "capture.h"
#include "fake_entry.h"
#include "recmgr/recmgr.h"
#include "run_process.h"
#include "spine_reset.h"

namespace {

class CallLayerTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetSpineState(); }
  FakeRecordManager fake;
  uint8_t record[64] = {};
};

void PrepareSlot(int slot, uint16_t op, uint16_t length, int16_t keyNumber, uint8_t* data,
                 uint8_t* key, const char* name) {
  FileSlot& s = FileSlots[slot];
  s.operation = op;
  s.dataLength = length;
  s.keyNumber = keyNumber;
  s.dataBuffer = data;
  s.keyBuffer = key;
  snprintf(s.fileName, sizeof s.fileName, "%s", name);
}

TEST_F(CallLayerTest, SendsSlotFieldsAndFixedKeyLength) {
  uint8_t key[256] = {7, 0, 1};
  PrepareSlot(SLOT_INDEX, OP_GET_EQUAL, 10, 2, record, key, "INDEX.DDF");
  EXPECT_EQ(CallRecordManager(SLOT_INDEX), 0);
  ASSERT_EQ(fake.calls().size(), 1u);
  const RecordedCall& c = fake.calls()[0];
  EXPECT_EQ(c.operation, 5u);
  EXPECT_EQ(c.dataLengthSent, 10u);
  EXPECT_EQ(c.keyNumberByte, 2);
  EXPECT_EQ(c.keyLength, 255);
  EXPECT_EQ(c.positionBlock, FileSlots[SLOT_INDEX].positionBlock);
  EXPECT_EQ(c.keyBytes[0], 7);
}

TEST_F(CallLayerTest, TraceShowsSignedKeyNumberAndStatusOnOneLine) {
  struct Case {
    uint16_t op;
    uint16_t length;
    int16_t keyNumber;
    int status;
    const char* line;
  } cases[] = {
      {OP_OPEN, 97, 0, 0, "Op: 0, Buflen: 97, KeyNum: 0 Status: 0\n"},
      {OP_STAT, 33236, -1, 0, "Op: 15, Buflen: 33236, KeyNum: -1 Status: 0\n"},
      {OP_RESET, 97, 0, 0, "Op: 28, Buflen: 97, KeyNum: 0 Status: 0\n"},
      {OP_GET_EQUAL, 65535, 1, 4, "Op: 5, Buflen: 65535, KeyNum: 1 Status: 4\n"},
      {OP_GET_NEXT, 32, 4, 9, "Op: 6, Buflen: 32, KeyNum: 4 Status: 9\n"},
  };
  RunOptions.trace = 1;
  uint8_t key[256] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    int status = c.status;
    fake.SetHandler([status](FakeCall&) { return status; });
    PrepareSlot(SLOT_FILE, c.op, c.length, c.keyNumber, record, key, "FILE.DDF");
    OutputCapture capture;
    EXPECT_EQ(CallRecordManager(SLOT_FILE), c.status);
    capture.Finish();
    EXPECT_EQ(capture.out(), c.line);
    EXPECT_EQ(capture.err(), "");
  }
  // -1 travels to the record manager as the byte 0xFF.
  EXPECT_EQ(fake.calls()[1].keyNumberByte, 0xFF);
}

TEST_F(CallLayerTest, NoTraceWithoutTheOption) {
  PrepareSlot(SLOT_FILE, OP_GET_FIRST, 97, 1, record, nullptr, "FILE.DDF");
  OutputCapture capture;
  CallRecordManager(SLOT_FILE);
  capture.Finish();
  EXPECT_EQ(capture.out(), "");
}

TEST_F(CallLayerTest, StatusPolicy) {
  struct Case {
    int entryResult;
    int status;
    const char* err;
  } cases[] = {
      {0, 0, ""},
      {3, 3, ""},
      {4, 4, ""},
      {5, 5, ""},
      {9, 9, ""},
      {12, 12, ""},
      {22, 22, ""},
      {30, 30, "INDEX.DDF: Not a Btrieve File\n"},
      {2, 2, "Btrieve Error 2: Operation=5, File=INDEX.DDF\n"},
      {1, 1, "Btrieve Error 1: Operation=5, File=INDEX.DDF\n"},
      {31, 31, "Btrieve Error 31: Operation=5, File=INDEX.DDF\n"},
      {-1, -1, "Btrieve Error -1: Operation=5, File=INDEX.DDF\n"},
      {0xFFFF, -1, "Btrieve Error -1: Operation=5, File=INDEX.DDF\n"},
      {0x8000, -32768, "Btrieve Error -32768: Operation=5, File=INDEX.DDF\n"},
      // Only the low 16 bits of the result are the status.
      {0x10004, 4, ""},
      {0x7FFF0000, 0, ""},
  };
  uint8_t key[256] = {};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entryResult);
    int result = c.entryResult;
    fake.SetHandler([result](FakeCall&) { return result; });
    PrepareSlot(SLOT_INDEX, OP_GET_EQUAL, 10, 2, record, key, "INDEX.DDF");
    OutputCapture capture;
    EXPECT_EQ(CallRecordManager(SLOT_INDEX), c.status);
    capture.Finish();
    EXPECT_EQ(capture.err(), c.err);
    EXPECT_EQ(capture.out(), "");
  }
}

TEST_F(CallLayerTest, UserTextInFileNameIsNotAFormat) {
  fake.SetHandler([](FakeCall&) { return 30; });
  PrepareSlot(SLOT_DATA, OP_OPEN, 10, 0, record, nullptr, "%s%n%d.dat");
  OutputCapture capture;
  EXPECT_EQ(CallRecordManager(SLOT_DATA), 30);
  capture.Finish();
  EXPECT_EQ(capture.err(), "%s%n%d.dat: Not a Btrieve File\n");
}

TEST_F(CallLayerTest, DataLengthCarriesOverLowSixteenBits) {
  uint32_t answers[] = {50, 0x12345, 0};
  int n = 0;
  fake.SetHandler([&](FakeCall& c) {
    if (n < 2) *c.dataLength = answers[n];
    n++;
    return 0;
  });
  PrepareSlot(SLOT_FIELD, OP_GET_NEXT, 32, 4, record, nullptr, "FIELD.DDF");
  CallRecordManager(SLOT_FIELD);
  EXPECT_EQ(FileSlots[SLOT_FIELD].dataLength, 50);
  CallRecordManager(SLOT_FIELD);
  EXPECT_EQ(FileSlots[SLOT_FIELD].dataLength, 0x2345);
  CallRecordManager(SLOT_FIELD);
  ASSERT_EQ(fake.calls().size(), 3u);
  EXPECT_EQ(fake.calls()[1].dataLengthSent, 50u);
  EXPECT_EQ(fake.calls()[2].dataLengthSent, 0x2345u);
}

TEST_F(CallLayerTest, OpenDataFileSendsNameOwnerAndLength) {
  strcpy(OwnerName, "secret");
  fake.keyBytesToRecord = 256;
  fake.dataBytesToRecord = 8;
  static uint8_t stat[33236];
  memset(stat, 0xEE, sizeof stat);
  EXPECT_EQ(OpenDataFile(SLOT_DATA, "data/orders.dat", stat, 33236), 0);
  ASSERT_EQ(fake.calls().size(), 1u);
  const RecordedCall& c = fake.calls()[0];
  EXPECT_EQ(c.operation, 0u);
  EXPECT_EQ(c.dataLengthSent, 33236u);
  EXPECT_EQ(c.keyNumberByte, 0);
  EXPECT_STREQ(reinterpret_cast<const char*>(c.keyBytes.data()), "data/orders.dat");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(c.dataBytes.data()), 8),
            std::string("secret\0\xEE", 8));
  EXPECT_STREQ(FileSlots[SLOT_DATA].fileName, "data/orders.dat");
  EXPECT_EQ(FileSlots[SLOT_DATA].dataBuffer, stat);
}

TEST_F(CallLayerTest, OpenDataFileBoundsItsCopies) {
  std::string longName(300, 'n');
  strcpy(OwnerName, "owner");
  fake.keyBytesToRecord = 256;
  uint8_t small[4] = {9, 9, 9, 9};
  OpenDataFile(SLOT_DATA, longName.c_str(), small, 3);
  EXPECT_EQ(strlen(FileSlots[SLOT_DATA].fileName), 127u);
  EXPECT_EQ(strlen(reinterpret_cast<const char*>(fake.calls()[0].keyBytes.data())), 255u);
  // Cut to the three bytes sent, terminator kept, the fourth byte untouched.
  EXPECT_EQ(small[0], 'o');
  EXPECT_EQ(small[1], 'w');
  EXPECT_EQ(small[2], 0);
  EXPECT_EQ(small[3], 9);
}

TEST_F(CallLayerTest, StatCloseAndResetSlotDiscipline) {
  static uint8_t stat[33236];
  fake.SetHandler([](FakeCall& c) {
    if (c.operation == OP_STAT) *c.dataLength = 1234;
    return 0;
  });
  EXPECT_EQ(StatDataFile(SLOT_DATA, stat, 33236), 0);
  EXPECT_EQ(FileSlots[SLOT_DATA].dataLength, 1234);
  // Close sets only the operation: the length handed back by Stat goes out.
  EXPECT_EQ(CloseFileSlot(SLOT_DATA), 0);

  uint8_t fileRecord[97];
  PrepareSlot(SLOT_FILE, OP_GET_NEXT, 97, 1, fileRecord, record, "FILE.DDF");
  EXPECT_EQ(ResetRecordManager(), 0);

  ASSERT_EQ(fake.calls().size(), 3u);
  const RecordedCall& stats = fake.calls()[0];
  EXPECT_EQ(stats.operation, 15u);
  EXPECT_EQ(stats.keyNumberByte, 0xFF);
  EXPECT_FALSE(stats.keyBufferNull);
  EXPECT_EQ(stats.dataLengthSent, 33236u);

  const RecordedCall& close = fake.calls()[1];
  EXPECT_EQ(close.operation, 1u);
  EXPECT_EQ(close.dataLengthSent, 1234u);
  EXPECT_EQ(close.keyNumberByte, 0xFF);

  const RecordedCall& reset = fake.calls()[2];
  EXPECT_EQ(reset.operation, 28u);
  EXPECT_TRUE(reset.keyBufferNull);
  EXPECT_EQ(reset.keyNumberByte, 0);
  EXPECT_EQ(reset.dataLengthSent, 97u);
  EXPECT_EQ(reset.positionBlock, FileSlots[SLOT_FILE].positionBlock);
  EXPECT_EQ(FileSlots[SLOT_FILE].dataBuffer, fileRecord);
}

// Status 20 ends the process from inside the call, through exit(): buffered
// report lines reach their file, the message reaches standard error, and
// nothing else is called.
TEST(CallLayerDeathTest, NotLoadedEndsProcessAfterFlushing) {
  TempDir dir;
  std::string outPath = dir.path() + "/out.txt";
  EXPECT_EXIT(
      {
        ResetSpineState();
        FILE* f = freopen(outPath.c_str(), "w", stdout);
        if (f == nullptr) _exit(99);
        static char buffer[4096];
        setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
        FakeRecordManager fake;
        fake.SetHandler([](FakeCall&) { return 20; });
        RunOptions.trace = 1;
        PrintToStdout("pending line\n");
        PrepareSlot(SLOT_FILE, OP_OPEN, 97, 0, nullptr, nullptr, "FILE.DDF");
        CallRecordManager(SLOT_FILE);
        PrintToStdout("after the call\n");
        _exit(0);
      },
      ::testing::ExitedWithCode(1), "^Please load the Btrieve Record Manager\n$");
  EXPECT_EQ(ReadFileBytes(outPath), "pending line\nOp: 0, Buflen: 97, KeyNum: 0 Status: 20\n");
}

}  // namespace
