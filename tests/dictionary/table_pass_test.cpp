// The table pass against the scripted record manager and a recording matcher:
// the Open, Stat and Close it issues, the counts, the walk, and the bounds of
// the Stat result.
#include "unit_support.h"

namespace {

// What the recording matcher saw on each call.
struct MatchCall {
  KeySpec keySpec;
  int32_t counter;
};
std::vector<MatchCall> matchCalls;
// How far the matcher moves the counter on each call, as it does for a
// segment that spans several columns; empty means 0 everywhere.
std::vector<int> matchAdvance;

}  // namespace

// The matcher lives in its own file of the checker; the walk is tested here
// against this recording stand-in.
int MatchSegmentToField(KeySpec keySpec, int32_t& segmentCounter) {
  size_t n = matchCalls.size();
  matchCalls.push_back({keySpec, segmentCounter});
  if (n < matchAdvance.size()) segmentCounter += matchAdvance[n];
  return 1;
}

namespace {

// One KeySpec of a Stat result.
struct Seg {
  uint16_t position;
  uint16_t length;
  uint16_t flags;
  uint8_t keyNumber;
  uint8_t acs = 0;
};

// A Stat result image with the length the record manager hands back.
struct StatImage {
  std::vector<uint8_t> bytes;
  uint32_t lengthReturned;
};

StatImage MakeStat(int keyCount, const std::vector<Seg>& segs, int acsTables = 0) {
  StatImage image;
  image.bytes.assign(16 + 16 * segs.size() + 265 * acsTables, 0);
  StoreU16(image.bytes.data(), 100);    // record length
  StoreU16(image.bytes.data() + 2, 4096);
  image.bytes[4] = static_cast<uint8_t>(keyCount);
  for (size_t i = 0; i < segs.size(); ++i) {
    uint8_t* p = image.bytes.data() + 16 + 16 * i;
    StoreU16(p + 0, segs[i].position);
    StoreU16(p + 2, segs[i].length);
    StoreU16(p + 4, segs[i].flags);
    p[10] = 14;
    p[14] = segs[i].keyNumber;
    p[15] = segs[i].acs;
  }
  for (int n = 0; n < acsTables; ++n) image.bytes[16 + 16 * segs.size() + 265 * n] = 0xAC;
  image.lengthReturned = static_cast<uint32_t>(image.bytes.size());
  return image;
}

class TablePassTest : public RunStateTest {
 protected:
  void SetUp() override {
    RunStateTest::SetUp();
    matchCalls.clear();
    matchAdvance.clear();
    SetLocation("DATA\\ORDERS.DAT");
    std::strcpy(CurrentTableName, "Orders");
    fake.keyBytesToRecord = 65;
    fake.SetHandler([this](FakeCall& call) { return Answer(call); });
  }

  void SetLocation(const std::string& text) {
    std::memset(FileRecord + FILE_LOCATION, ' ', LOCATION_WIDTH);
    std::memcpy(FileRecord + FILE_LOCATION, text.data(), text.size());
  }

  int Answer(FakeCall& call) {
    switch (call.operation) {
      case OP_OPEN:
        return openStatus;
      case OP_STAT: {
        if (statStatus != 0) return statStatus;
        size_t n = std::min<size_t>(stat.bytes.size(), *call.dataLength);
        std::memcpy(call.data, stat.bytes.data(), n);
        *call.dataLength = stat.lengthReturned;
        return 0;
      }
      default:
        return 0;
    }
  }

  std::vector<uint32_t> Operations() const {
    std::vector<uint32_t> ops;
    for (const auto& call : fake.calls()) ops.push_back(call.operation);
    return ops;
  }

  std::vector<int32_t> Counters() const {
    std::vector<int32_t> out;
    for (const auto& m : matchCalls) out.push_back(m.counter);
    return out;
  }

  int openStatus = 0;
  int statStatus = 0;
  StatImage stat = MakeStat(0, {});
};

const std::vector<uint32_t> kOpenStatClose = {OP_OPEN, OP_STAT, OP_CLOSE};
const char kSkipLine[] =
    "Key definitions of table Orders in DATA\\ORDERS.DAT run past the Stat result; table skipped.\n";

TEST_F(TablePassTest, OpensTheLocationWithOwnerNameIntoTheDataSlot) {
  fake.dataBytesToRecord = 16;
  CheckTable();
  const auto& calls = fake.calls();
  ASSERT_EQ(Operations(), kOpenStatClose);
  EXPECT_EQ(SlotOf(calls[0]), SLOT_DATA);
  EXPECT_EQ(std::string((const char*)calls[0].keyBytes.data()), "DATA\\ORDERS.DAT");
  EXPECT_EQ(calls[0].dataLengthSent, 33236u);
  EXPECT_EQ(calls[0].keyNumberByte, 0);
  EXPECT_EQ(std::memcmp(calls[0].dataBytes.data(), "..QV....\0", 9), 0);
  // Stat on the same slot, key number -1, the whole buffer.
  EXPECT_EQ(SlotOf(calls[1]), SLOT_DATA);
  EXPECT_EQ(calls[1].keyNumberByte, 0xFF);
  EXPECT_EQ(calls[1].dataLengthSent, 33236u);
  EXPECT_EQ(SlotOf(calls[2]), SLOT_DATA);
  EXPECT_EQ(FileSlots[SLOT_DATA].dataBuffer, StatBuffer);
}

TEST_F(TablePassTest, PathComesFromTheLocationField) {
  struct Case { std::string location; std::string path; };
  const std::string full64(64, 'P');
  std::string withNul = "SHORT.DAT";
  withNul += '\0';
  withNul += "JUNK";
  const Case cases[] = {
      {"DATA\\ORDERS.DAT   ", "DATA\\ORDERS.DAT"},  // blank padding cut
      {full64, full64},                             // all 64 bytes, no terminator
      {std::string(63, 'Q') + " ", std::string(63, 'Q')},
      {withNul, "SHORT.DAT"},                       // stops at a NUL
      {"", " "},                                    // all blanks keep one blank
      {"  LEAD.DAT", "  LEAD.DAT"},                 // leading blanks kept
  };
  RunOptions.trace = 1;
  openStatus = 12;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    SetLocation(c.location);
    fake.ClearCalls();
    std::string out = CaptureOut([] { CheckTable(); });
    ASSERT_EQ(fake.calls().size(), 1u);
    EXPECT_EQ(std::string((const char*)fake.calls()[0].keyBytes.data()), c.path);
    EXPECT_NE(out.find("Opening file " + c.path + "\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Btrieve File " + c.path + " Not Found.\n"), std::string::npos) << out;
    EXPECT_EQ(std::string(MessageName), c.path);
  }
}

TEST_F(TablePassTest, FailedOpenPrintsOneLineAndIssuesNothingElse) {
  for (int status : {12, 30, 51, -3}) {
    SCOPED_TRACE(status);
    fake.ClearCalls();
    RunStats = {};
    openStatus = status;
    std::string out = CaptureOut([] { CheckTable(); });
    EXPECT_EQ(out, "Btrieve File DATA\\ORDERS.DAT Not Found.\n");
    EXPECT_EQ(Operations(), std::vector<uint32_t>{OP_OPEN});
    EXPECT_EQ(RunStats.filesRejected, 1u);
    EXPECT_EQ(RunStats.filesProcessed, 0u);
    EXPECT_EQ(RunStats.btrieveKeys, 0u);
    EXPECT_TRUE(matchCalls.empty());
    EXPECT_EQ(AcsArea, StatBuffer);
    EXPECT_EQ(StatEnd, StatBuffer);
  }
}

TEST_F(TablePassTest, KeysOfOneThreeAndTwoSegmentsAreWalkedInOrder) {
  stat = MakeStat(3, {{1, 4, 0x0000, 0},
                      {5, 2, 0x0010, 1}, {7, 2, 0x0010, 1}, {9, 2, 0x0000, 1},
                      {11, 8, 0x0012, 2}, {19, 1, 0x0002, 2}},
                  /*acsTables=*/1);
  RunOptions.showKeys = 1;
  std::string out = CaptureOut([] { CheckTable(); });
  EXPECT_EQ(out,
            "Starting on Key 0 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 1 of 3\n"
            "Starting on Key 2 of 3\n"
            "Starting on Key 2 of 3\n");
  ASSERT_EQ(matchCalls.size(), 6u);
  EXPECT_EQ(Counters(), (std::vector<int32_t>{0, 0, 1, 2, 0, 1}));
  // Each entry is handed over whole, in buffer order.
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(std::memcmp(matchCalls[i].keySpec.bytes, stat.bytes.data() + 16 + 16 * i, 16), 0);
  }
  EXPECT_EQ(RunStats.filesProcessed, 1u);
  EXPECT_EQ(RunStats.btrieveKeys, 3u);
  EXPECT_EQ(AcsArea, StatBuffer + 0x70);
  EXPECT_EQ(StatEnd, StatBuffer + 0x70 + 265);
  EXPECT_EQ(Operations(), kOpenStatClose);
}

TEST_F(TablePassTest, TraceShowsTheSegmentCountAndAcsOffset) {
  struct Case { int keys; std::vector<Seg> segs; const char* line; };
  const Case cases[] = {
      {0, {}, "Found 0 Segments, calculating ACS offset of 0x0010\n"},
      {2, {{1, 2, 0x10, 0}, {3, 2, 0, 0}, {5, 2, 0, 1}},
       "Found 3 Segments, calculating ACS offset of 0x0040\n"},
  };
  RunOptions.trace = 1;
  for (const Case& c : cases) {
    fake.ClearCalls();
    matchCalls.clear();
    stat = MakeStat(c.keys, c.segs);
    std::string out = CaptureOut([] { CheckTable(); });
    size_t opening = out.find("Opening file DATA\\ORDERS.DAT\n");
    size_t obtaining = out.find("Obtaining Stat Information\n");
    size_t found = out.find(c.line);
    ASSERT_NE(opening, std::string::npos) << out;
    ASSERT_NE(obtaining, std::string::npos) << out;
    ASSERT_NE(found, std::string::npos) << out;
    EXPECT_LT(opening, obtaining);
    EXPECT_LT(obtaining, found);
    EXPECT_EQ(matchCalls.size(), c.segs.size());
    EXPECT_EQ(Operations(), kOpenStatClose);
  }
}

TEST_F(TablePassTest, NoKeysCountsTheFileAndClosesIt) {
  stat = MakeStat(0, {});
  CheckTable();
  EXPECT_TRUE(matchCalls.empty());
  EXPECT_EQ(RunStats.filesProcessed, 1u);
  EXPECT_EQ(RunStats.btrieveKeys, 0u);
  EXPECT_EQ(AcsArea, StatBuffer + 16);
  EXPECT_EQ(Operations(), kOpenStatClose);
}

TEST_F(TablePassTest, CounterContinuesFromWhereTheMatcherLeftIt) {
  // The first entry spans two columns: the matcher moves the counter on once.
  stat = MakeStat(2, {{1, 6, 0x10, 0}, {7, 2, 0, 0}, {9, 2, 0, 1}});
  matchAdvance = {1, 0, 0};
  RunOptions.showKeys = 1;
  std::string out = CaptureOut([] { CheckTable(); });
  EXPECT_EQ(Counters(), (std::vector<int32_t>{0, 2, 0}));
  EXPECT_EQ(out, "Starting on Key 0 of 2\nStarting on Key 0 of 2\nStarting on Key 1 of 2\n");
}

TEST_F(TablePassTest, FailedStatEndsThePassWithTheFileClosed) {
  // A Stat that fails leaves nothing to walk, whatever the buffer still holds
  // from an earlier table.
  stat = MakeStat(2, {{1, 2, 0, 0}, {3, 2, 0, 1}});
  CheckTable();
  ASSERT_EQ(matchCalls.size(), 2u);
  matchCalls.clear();
  fake.ClearCalls();
  RunStats = {};
  statStatus = 22;
  RunOptions.trace = 1;
  std::string out = CaptureOut([] { CheckTable(); });
  EXPECT_TRUE(matchCalls.empty());
  EXPECT_EQ(Operations(), kOpenStatClose);
  EXPECT_EQ(RunStats.filesProcessed, 1u);
  EXPECT_EQ(RunStats.btrieveKeys, 0u);
  EXPECT_EQ(out.find("Found"), std::string::npos) << out;
  EXPECT_EQ(out.find("Starting on Key"), std::string::npos) << out;
  EXPECT_EQ(AcsArea, StatBuffer);
  EXPECT_EQ(StatEnd, StatBuffer);
}

TEST_F(TablePassTest, KeyCountIsAnUnsignedByte) {
  std::vector<Seg> segs;
  for (int k = 0; k < 200; ++k) segs.push_back({1, 2, 0, static_cast<uint8_t>(k)});
  stat = MakeStat(200, segs);
  RunOptions.trace = 1;
  std::string out = CaptureOut([] { CheckTable(); });
  EXPECT_EQ(matchCalls.size(), 200u);
  EXPECT_EQ(RunStats.btrieveKeys, 200u);
  EXPECT_NE(out.find("Starting on Key 199 of 200\n"), std::string::npos);
  EXPECT_NE(out.find("Found 200 Segments, calculating ACS offset of 0x0c90\n"), std::string::npos);
}

TEST_F(TablePassTest, KeyDefinitionsPastTheStatResultSkipTheTable) {
  std::vector<Seg> twoHundred;
  for (int k = 0; k < 200; ++k) twoHundred.push_back({1, 2, 0, 0});
  std::vector<Seg> endless(2076, Seg{1, 2, 0x10, 0});  // fills the whole buffer
  struct Case { const char* name; StatImage image; };
  StatImage shortCount = MakeStat(200, twoHundred);
  shortCount.lengthReturned = 16 + 16 * 10;  // 200 keys announced, 10 returned
  StatImage endlessChain = MakeStat(1, endless);
  StatImage tinyResult = MakeStat(0, {});
  tinyResult.lengthReturned = 4;  // not even a whole FileSpec
  StatImage cutEntry = MakeStat(1, {{1, 2, 0, 0}});
  cutEntry.lengthReturned = 16 + 15;
  const Case cases[] = {{"short count", shortCount}, {"endless chain", endlessChain},
                        {"tiny result", tinyResult}, {"cut entry", cutEntry}};
  RunOptions.trace = 1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.ClearCalls();
    matchCalls.clear();
    RunStats = {};
    stat = c.image;
    std::string out = CaptureOut([] { CheckTable(); });
    EXPECT_NE(out.find(kSkipLine), std::string::npos) << out;
    EXPECT_EQ(out.find("Found"), std::string::npos) << out;
    EXPECT_EQ(out.find("Starting on Key"), std::string::npos) << out;
    EXPECT_TRUE(matchCalls.empty());
    EXPECT_EQ(Operations(), kOpenStatClose);
    EXPECT_EQ(RunStats.filesProcessed, 1u);
    EXPECT_EQ(RunStats.btrieveKeys, 0u);
    EXPECT_EQ(AcsArea, StatBuffer);
    EXPECT_EQ(StatEnd, StatBuffer);
  }
}

TEST_F(TablePassTest, EntriesOfAnEarlierTableAreNeverRead) {
  // The first table leaves three one-segment keys in the buffer.
  stat = MakeStat(3, {{1, 2, 0, 0}, {3, 2, 0, 1}, {5, 2, 0, 2}});
  CheckTable();
  ASSERT_EQ(matchCalls.size(), 3u);
  // The second announces two keys but hands back only one entry.
  matchCalls.clear();
  stat = MakeStat(2, {{9, 1, 0, 0}});
  std::string out = CaptureOut([] { CheckTable(); });
  EXPECT_EQ(out, kSkipLine);
  EXPECT_TRUE(matchCalls.empty());
}

TEST_F(TablePassTest, StatEndMarksTheBytesThisStatHandedBack) {
  struct Case { const char* name; int acsTables; uint32_t returned; int end; };
  const Case cases[] = {
      // One segment and no collating sequence: the ACS area starts at the end.
      {"no acs", 0, 32, 32},
      {"one acs", 1, 32 + 265, 32 + 265},
      // A length beyond the buffer is capped at the buffer.
      {"too long", 0, 40000, STAT_BUFFER_SIZE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    stat = MakeStat(1, {{1, 2, 0x0020, 0, 0}}, c.acsTables);
    stat.lengthReturned = c.returned;
    CheckTable();
    EXPECT_EQ(AcsArea, StatBuffer + 32);
    EXPECT_EQ(StatEnd, StatBuffer + c.end);
  }
}

}  // namespace
