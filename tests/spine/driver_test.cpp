// The run as a whole, in-process against a scripted record manager: exit
// codes, output of every path, and the record-manager calls in order.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "capture.h"
#include "fake_database.h"
#include "spine_reset.h"

namespace {

struct RunResult {
  int code;
  std::string out;
  std::string err;
};

std::vector<SlotCall> Concat(std::initializer_list<std::vector<SlotCall>> parts) {
  std::vector<SlotCall> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetSpineState();
    stdin_ = std::make_unique<StdinReplacement>(StdinReplacement::DevNull());
  }

  RunResult Run(std::vector<std::string> args) {
    args.insert(args.begin(), "scrutor");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    OutputCapture capture;
    int code = ScrutorMain(static_cast<int>(args.size()), argv.data());
    capture.Finish();
    return {code, capture.out(), capture.err()};
  }

  FakeDatabase db;
  std::unique_ptr<StdinReplacement> stdin_;
};

const std::vector<SlotCall> kReset = {{SLOT_FILE, OP_RESET}};

TEST_F(DriverTest, WrongArgumentCountCallsNothing) {
  for (int n : {0, 7, 9}) {
    std::vector<std::string> args(static_cast<size_t>(n), "/S");
    RunResult r = Run(args);
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("\nUsage:  SCRUTOR TableName [/<options>] [/P=Password]\n\n", 0), 0u);
  }
  EXPECT_TRUE(db.calls().empty());
}

TEST_F(DriverTest, SixArgumentsAreAccepted) {
  RunResult r = Run({"*", "/A", "/C", "/I", "/K", "/N"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "Done.\n");
}

TEST_F(DriverTest, TableNotFound) {
  struct Case {
    std::vector<std::string> args;
    std::string keySent;
    const char* out;
  } cases[] = {
      {{"Missing"}, "Missing             ", "Table <Missing> Not Found.\n"},
      {{"ABCDEFGHIJKLMNOPQRSTUVWXY"}, "ABCDEFGHIJKLMNOPQRST",
       "Table <ABCDEFGHIJKLMNOPQRST> Not Found.\n"},
      {{""}, "                    ", "Table < > Not Found.\n"},
      {{"/S"}, "/S                  ", "Table </S> Not Found.\n"},
      {{"Lines  ", "/T"}, "Lines               ", "Table <Lines> Not Found.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.out);
    FakeDatabase fresh;
    fresh.tables = {"Orders"};
    RunResult r = Run(c.args);
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(fresh.SlotCalls(),
              Concat({DictionaryOpens(), {{SLOT_FILE, OP_GET_EQUAL}}, kReset}));
    const RecordedCall& get = fresh.calls()[4];
    EXPECT_EQ(get.keyNumberByte, 1);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(get.keyBytes.data()), 21),
              c.keySent + std::string(1, '\0'));
  }
}

TEST_F(DriverTest, DictionariesFailingEndWithResetOnly) {
  struct Case {
    const char* file;
    int status;
    const char* err;
    size_t opens;
  } cases[] = {
      {"INDEX.DDF", 12, "Unable to Open Dictionary Files - Status 12\n", 3},
      {"FILE.DDF", 12, "Unable to Open Dictionary Files - Status 12\n", 1},
      {"ATTRIB.DDF", 2,
       "Btrieve Error 2: Operation=0, File=ATTRIB.DDF\n"
       "Unable to Open Dictionary Files - Status 2\n",
       4},
      {"FIELD.DDF", 30, "FIELD.DDF: Not a Btrieve File\nUnable to Open Dictionary Files - Status 30\n",
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    FakeDatabase fresh;
    fresh.tables = {"Orders"};
    fresh.openStatus[c.file] = c.status;
    RunResult r = Run({"*", "/S"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    std::vector<SlotCall> opens = DictionaryOpens();
    opens.resize(c.opens);
    EXPECT_EQ(fresh.SlotCalls(), Concat({opens, kReset}));
  }
}

TEST_F(DriverTest, EmptyFileDdfEndsAtOnce) {
  RunResult r = Run({"*"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "Done.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(db.SlotCalls(),
            Concat({DictionaryOpens(), {{SLOT_FILE, OP_GET_FIRST}}, DictionaryClosesAndReset()}));
  EXPECT_EQ(db.calls()[4].keyNumberByte, 1);
}

TEST_F(DriverTest, StatisticsReplaceDone) {
  RunResult r = Run({"*", "/S"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out,
            "\nWork completed.\nFiles Processed = 0\nFiles Rejected  = 0\nBtrieve Keys    = 0\n"
            "Indices Verified= 0\nIndices Needed  = 0\nIndices Corrupt = 0\n");
  // The next run starts from the defaults again.
  db.ClearCalls();
  r = Run({"*"});
  EXPECT_EQ(r.out, "Done.\n");
}

TEST_F(DriverTest, WalkSkipsXDollarTablesAndChecksTheRest) {
  db.tables = {"X$Proc", "Orders", "x$View", "Lines", "X", "XY$"};
  RunResult r = Run({"*", "/T"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.err, "");
  // The table pass reports each unopenable data file; the walk's own lines
  // surround those reports.
  EXPECT_EQ(r.out.find("Working On Table Orders...\n"), 0u);
  EXPECT_NE(r.out.find("Working On Table Lines...\n"), std::string::npos);
  EXPECT_NE(r.out.find("Working On Table X...\n"), std::string::npos);
  EXPECT_NE(r.out.find("Working On Table XY$...\n"), std::string::npos);
  EXPECT_EQ(r.out.find("Proc"), std::string::npos);
  EXPECT_EQ(r.out.find("View"), std::string::npos);
  EXPECT_TRUE(r.out.ends_with("Done.\n"));
  EXPECT_EQ(db.OpenedNames(),
            (std::vector<std::string>{"FILE.DDF", "FIELD.DDF", "INDEX.DDF", "ATTRIB.DDF",
                                      "data/Orders.dat", "data/Lines.dat", "data/X.dat",
                                      "data/XY$.dat"}));
  std::vector<SlotCall> calls = db.SlotCalls();
  size_t gets = 0;
  for (const SlotCall& c : calls)
    if (c.slot == SLOT_FILE && (c.operation == OP_GET_FIRST || c.operation == OP_GET_NEXT)) gets++;
  EXPECT_EQ(gets, 7u);  // six records and the end of the file
  EXPECT_EQ(std::vector<SlotCall>(calls.end() - 5, calls.end()), DictionaryClosesAndReset());
}

TEST_F(DriverTest, SpinnerStepPerCheckedTableWithoutT) {
  db.tables = {"Orders", "X$Proc", "Lines"};
  RunResult r = Run({"*"});
  EXPECT_EQ(r.code, 0);
  // Two tables checked; their data files do not open, so no segment is
  // verified and the spinner moves only for the tables.
  EXPECT_EQ(r.err, "-\b\\\b");
  EXPECT_EQ(r.out.find("Working On"), std::string::npos);
}

TEST_F(DriverTest, NamedRunOnXDollarTableIsSkipped) {
  db.tables = {"Orders", "X$Proc"};
  RunResult r = Run({"X$Proc"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "Done.\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(db.SlotCalls(),
            Concat({DictionaryOpens(), {{SLOT_FILE, OP_GET_EQUAL}}, DictionaryClosesAndReset()}));
}

TEST_F(DriverTest, NamedRunChecksOneTable) {
  db.tables = {"Orders", "Lines"};
  RunResult r = Run({"lines", "/T"});  // names are matched as given
  EXPECT_EQ(r.code, 2);
  db.ClearCalls();
  r = Run({"Lines", "/T"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.find("Working On Table Lines...\n"), 0u);
  EXPECT_TRUE(r.out.ends_with("Done.\n"));
  EXPECT_EQ(db.OpenedNames().back(), "data/Lines.dat");
}

TEST_F(DriverTest, FailedNamedLookupEndsNormally) {
  db.tables = {"Orders"};
  db.getEqualStatus = 2;
  RunResult r = Run({"Orders"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "Done.\n");
  EXPECT_EQ(r.err, "Btrieve Error 2: Operation=5, File=FILE.DDF\n");
  EXPECT_EQ(db.SlotCalls(),
            Concat({DictionaryOpens(), {{SLOT_FILE, OP_GET_EQUAL}}, DictionaryClosesAndReset()}));
}

TEST_F(DriverTest, EscapeStopsBeforeTheNextTable) {
  struct Case {
    std::string keys;
    int code;
    size_t dataOpens;
  } cases[] = {
      {"\x1b", 1, 0},        // before the first table
      {"a\x1b", 1, 1},       // another key is consumed, the next poll stops
      {"ab\x1b", 1, 1},      // the poll also runs before a skipped X$ table
      {"abc", 0, 2},         // no Escape: the run ends normally
      {"", 0, 2},            // end of input is no key
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.keys));
    FakeDatabase fresh;
    fresh.tables = {"Orders", "X$Proc", "Lines"};
    StdinReplacement keys(c.keys);
    RunResult r = Run({"*", "/T"});
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(fresh.OpenedNames().size(), 4 + c.dataOpens);
    std::vector<SlotCall> calls = fresh.SlotCalls();
    EXPECT_EQ(std::vector<SlotCall>(calls.end() - 5, calls.end()), DictionaryClosesAndReset());
    if (c.code == 1) {
      EXPECT_EQ(r.err, "\nScrutor Terminated by the User.\n");
      EXPECT_EQ(r.out.find("Done."), std::string::npos);
    } else {
      EXPECT_EQ(r.err, "");
      EXPECT_TRUE(r.out.ends_with("Done.\n"));
    }
  }
}

TEST_F(DriverTest, OwnerNameSentWithEveryOpen) {
  struct Case {
    std::vector<std::string> args;
    std::string owner;
  } cases[] = {
      {{"*"}, "..QV...."},
      {{"*", "/P=abc", "/P=xyz"}, "abc"},
      {{"*", "/P="}, ""},
      {{"*", "-P"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.owner);
    FakeDatabase fresh;
    fresh.tables = {"Orders"};
    fresh.openStatus["data/Orders.dat"] = 0;
    Run(c.args);
    size_t opens = 0;
    for (const RecordedCall& call : fresh.calls()) {
      if (call.operation != OP_OPEN) continue;
      opens++;
      std::string sent(reinterpret_cast<const char*>(call.dataBytes.data()));
      EXPECT_EQ(sent, c.owner);
    }
    EXPECT_EQ(opens, 5u);
  }
}

TEST_F(DriverTest, LongOwnerNameRefusedBeforeAnyCall) {
  RunResult r = Run({"*", "/P=0123456789"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "The /P password is too long: at most 9 characters.\n");
  EXPECT_TRUE(db.calls().empty());
}

TEST_F(DriverTest, TraceShowsWalkCalls) {
  RunResult r = Run({"*", "/D"});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find("Op: 0, Buflen: 97, KeyNum: 0 Status: 0\n"), std::string::npos);
  EXPECT_NE(r.out.find("Op: 12, Buflen: 97, KeyNum: 1 Status: 9\n"), std::string::npos);
  EXPECT_TRUE(r.out.ends_with("Op: 28, Buflen: 97, KeyNum: 0 Status: 0\n"));
}

}  // namespace
