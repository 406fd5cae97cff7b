// The option scan and the FILE.DDF table key.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "capture.h"
#include "driver/options.h"
#include "spine_reset.h"

namespace {

struct Flags {
  int a, c, d, f, i, k, n, s, t;
  bool operator==(const Flags&) const = default;
};

Flags Current() {
  const RunOptionFlags& o = RunOptions;
  return {o.strictAcs, o.strictType, o.trace,    o.fixAcs, o.showIndexes,
          o.showKeys,  o.checkNull,  o.showStats, o.showTables};
}

int Scan(std::vector<std::string> args) {
  args.insert(args.begin(), "scrutor");
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  ResetSpineState();
  SetRunDefaults();
  return ScanOptions(static_cast<int>(args.size()), argv.data());
}

TEST(OptionScan, FlagsAndOwnerName) {
  struct Case {
    std::vector<std::string> args;
    Flags flags;
    const char* owner;
  } cases[] = {
      {{"T"}, {}, "..QV...."},
      {{"T", "/A", "/C", "/D", "/F", "/I", "/K", "/N", "/S"}, {1, 1, 1, 1, 1, 1, 1, 1, 0}, "..QV...."},
      {{"T", "/AT"}, {1, 0, 0, 0, 0, 0, 0, 0, 0}, "..QV...."},
      {{"T", "/ST"}, {0, 0, 0, 0, 0, 0, 0, 1, 0}, "..QV...."},
      {{"T", "-t"}, {0, 0, 0, 0, 0, 0, 0, 0, 1}, "..QV...."},
      {{"T", "/s", "/S", "-S"}, {0, 0, 0, 0, 0, 0, 0, 1, 0}, "..QV...."},
      // The table name is scanned like any argument.
      {{"/S"}, {0, 0, 0, 0, 0, 0, 0, 1, 0}, "..QV...."},
      // Unknown letters, lone prefixes and plain words pass silently.
      {{"T", "/X", "/", "-", "word", "/1"}, {}, "..QV...."},
      {{"T", "/P=abc", "/T", "/P=xyz"}, {0, 0, 0, 0, 0, 0, 0, 0, 1}, "abc"},
      {{"T", "-pXsecret"}, {}, "secret"},
      {{"T", "/P="}, {}, ""},
      {{"T", "/P"}, {}, ""},
      {{"T", "-p"}, {}, ""},
      {{"T", "/P=123456789"}, {}, "123456789"},
  };
  for (const Case& c : cases) {
    std::string label;
    for (const auto& a : c.args) label += a + " ";
    SCOPED_TRACE(label);
    EXPECT_EQ(Scan(c.args), 0);
    EXPECT_EQ(Current(), c.flags);
    EXPECT_STREQ(OwnerName, c.owner);
  }
}

TEST(OptionScan, RefusesOwnerNameTooLongToSend) {
  for (std::vector<std::string> args :
       {std::vector<std::string>{"T", "/P=1234567890"},
        std::vector<std::string>{"T", "/P=ok", std::string("/P=") + std::string(60, 'x')}}) {
    OutputCapture capture;
    EXPECT_EQ(Scan(args), 1);
    capture.Finish();
    EXPECT_EQ(capture.err(), "The /P password is too long: at most 9 characters.\n");
    EXPECT_EQ(capture.out(), "");
    // The buffer never received the long value.
    EXPECT_LE(strlen(OwnerName), 9u);
  }
}

TEST(TableKey, Cases) {
  struct Case {
    std::string argument;
    const char* key;
    bool all;
  } cases[] = {
      {"Orders", "Orders              ", false},
      {"ABCDEFGHIJKLMNOPQRSTUVWXY", "ABCDEFGHIJKLMNOPQRST", false},
      {"", "                    ", false},
      {"   ", "                    ", false},
      {"*", "                    ", true},
      {"*abc", "                    ", true},
      {"a*", "a*                  ", false},
      {"/S", "/S                  ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.argument);
    char key[32];
    memset(key, 'Z', sizeof key);
    EXPECT_EQ(BuildTableKey(c.argument.c_str(), key), c.all);
    EXPECT_STREQ(key, c.key);
  }
}

}  // namespace
