// Spinner, name helpers and the statistics block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "capture.h"
#include "spine_reset.h"

namespace {

TEST(Spinner, CyclesOnStandardErrorOnly) {
  ResetSpineState();
  OutputCapture capture;
  for (int i = 0; i < 5; i++) AdvanceSpinner();
  capture.Finish();
  EXPECT_EQ(capture.err(), "-\b\\\b|\b/\b-\b");
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(SpinnerPosition, 1);
}

TEST(TrimTrailingSpaces, Cases) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"Orders              ", "Orders"},
      {"                    ", " "},
      {"", ""},
      {"Name\t", "Name\t"},
      {"Name\t  ", "Name\t"},
      {"Order Lines   ", "Order Lines"},
      {"A", "A"},
      {" A ", " A"},
  };
  for (const Case& c : cases) {
    char buf[32] = {};
    strcpy(buf, c.in);
    TrimTrailingSpaces(buf);
    EXPECT_STREQ(buf, c.out) << '"' << c.in << '"';
  }
}

TEST(PadWithSpaces, FillsToWidthWithoutTerminator) {
  char buf[32];
  memset(buf, 'Z', sizeof buf);
  strcpy(buf, "Items");
  buf[20] = '\0';
  PadWithSpaces(buf, 20);
  EXPECT_STREQ(buf, "Items               ");
  EXPECT_EQ(buf[21], 'Z');

  char full[32] = "ABCDEFGHIJKLMNOPQRSTUVWXY";  // 25 characters: unchanged
  PadWithSpaces(full, 20);
  EXPECT_STREQ(full, "ABCDEFGHIJKLMNOPQRSTUVWXY");

  char empty[32];
  memset(empty, 'Z', sizeof empty);
  empty[0] = '\0';
  empty[20] = '\0';
  PadWithSpaces(empty, 20);
  EXPECT_STREQ(empty, "                    ");
}

TEST(PrintStatistics, BlockWithExtremeValues) {
  ResetSpineState();
  {
    OutputCapture capture;
    PrintStatistics();
    capture.Finish();
    EXPECT_EQ(capture.out(),
              "\nWork completed.\n"
              "Files Processed = 0\n"
              "Files Rejected  = 0\n"
              "Btrieve Keys    = 0\n"
              "Indices Verified= 0\n"
              "Indices Needed  = 0\n"
              "Indices Corrupt = 0\n");
    EXPECT_EQ(capture.err(), "");
  }
  RunStats = RunCounters{4294967295u, 1, 2, 3, 4, 4294967295u};
  OutputCapture capture;
  PrintStatistics();
  capture.Finish();
  EXPECT_EQ(capture.out(),
            "\nWork completed.\n"
            "Files Processed = 4294967295\n"
            "Files Rejected  = 1\n"
            "Btrieve Keys    = 2\n"
            "Indices Verified= 3\n"
            "Indices Needed  = 4\n"
            "Indices Corrupt = 4294967295\n");
}

}  // namespace
