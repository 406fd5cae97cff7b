// Bad input end to end: owner names, damaged or foreign dictionaries, names
// with control and non-ASCII bytes, odd locations, damaged or huge data
// files, argument counts and arguments with control characters. The program
// must never crash, must say what it could not do, must go on where it can,
// and must change no file (no /F here).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "repair_db.h"
#include "run_process.h"

namespace reliability {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// Two sound tables, Alpha and Beta, one key each, dictionary and data files
// in agreement; extra tables are added by the cases.
json BaseDescription() {
  json d = {{"owner", nullptr},
            {"tables", json::array()},
            {"fields", json::array()},
            {"indexes", json::array()},
            {"attributes", json::array()},
            {"files", json::array()}};
  const char* names[] = {"Alpha", "Beta"};
  for (int i = 0; i < 2; ++i) {
    const int table = 10 + i, column = 100 + 10 * i;
    std::string file = std::string(names[i]).substr(0, 1);
    d["tables"].push_back(
        {{"id", table}, {"name", names[i]}, {"location", "DATA\\" + file + ".DAT"}});
    d["fields"].push_back({{"id", column}, {"table", table}, {"name", "Code"}, {"type", 14},
                           {"offset", 0}, {"size", 4}});
    d["indexes"].push_back({{"table", table}, {"field", column}, {"number", 0}, {"part", 0}});
    d["files"].push_back({{"path", "DATA/" + file + ".DAT"},
                          {"record_length", 8},
                          {"keys", json::array({{{"segments", json::array({{{"position", 1},
                                                                              {"length", 4},
                                                                              {"type", 14}}})}}})},
                          {"records", json::array({"0100000041414141"})}});
  }
  return d;
}

// Adds table id with one 4-byte column at offset 0 and its INDEX.DDF row.
void AddTable(json& d, int id, const std::string& name, const std::string& location) {
  d["tables"].push_back({{"id", id}, {"name", name}, {"location", location}});
  d["fields"].push_back({{"id", id * 10}, {"table", id}, {"name", "Code"}, {"type", 14},
                         {"offset", 0}, {"size", 4}});
  d["indexes"].push_back({{"table", id}, {"field", id * 10}, {"number", 0}, {"part", 0}});
}

class BadInput : public ::testing::Test {
 protected:
  // Builds a description into work/name and returns the directory.
  std::string Build(const json& d, const std::string& name) {
    const std::string dir = work_.path() + "/" + name;
    const std::string path = work_.path() + "/" + name + ".json";
    WriteFileBytes(path, d.dump());
    ProcessResult r = RunProcess({SCRUTOR_DB_BIN, "build", path, dir}, "", "", true);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return dir;
  }
  static ProcessResult Scrutor(const std::string& dir, std::vector<std::string> args) {
    args.insert(args.begin(), SCRUTOR_BIN);
    return RunProcess(args, dir, "", true);
  }
  // Every file under dir, by path.
  static std::map<std::string, std::string> Files(const std::string& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
      if (e.is_regular_file() && e.file_size() < (1u << 20)) {
        files[e.path().string()] = ReadFileBytes(e.path().string());
      }
    }
    return files;
  }
  static bool Has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  TempDir work_;
};

TEST_F(BadInput, OwnerNames) {
  json d = BaseDescription();
  d["owner"] = "SECRET";
  const std::string dir = Build(d, "owned");
  const auto before = Files(dir);
  // The owner name travels in the data buffer of every dictionary Open, and
  // INDEX.DDF's is 10 bytes: 9 characters and the terminator.
  const std::string longest(9, 'S'), tooLong(60, 'S');
  const struct {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    const char* err;
  } cases[] = {
      {"missing", {"*"}, 1, "Unable to Open Dictionary Files - Status 51\n"},
      {"wrong", {"*", "/P=WRONG"}, 1, "Unable to Open Dictionary Files - Status 51\n"},
      {"a prefix of the right one", {"*", "/P=SECR"}, 1, "Status 51\n"},
      {"right one and a control character", {"*", "/P=SECRET\x01"}, 1, "Status 51\n"},
      {"9 characters, the longest kept", {"*", "/P=" + longest}, 1, "Status 51\n"},
      {"10 characters", {"*", "/P=SECRETSECR"}, 1, "The /P password is too long"},
      {"60 characters", {"*", "/P=" + tooLong}, 1, "The /P password is too long"},
      {"right", {"*", "/P=SECRET"}, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProcessResult r = Scrutor(dir, c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
    if (c.exitCode == 0) {
      EXPECT_EQ(r.out, "Done.\n");
    }
  }
  EXPECT_EQ(Files(dir), before);
}

TEST_F(BadInput, MissingTruncatedBitFlippedAndForeignDictionaries) {
  const std::string base = Build(BaseDescription(), "base");
  const std::string foreignText = "This is not a dictionary file.\n";
  const std::string elf = ReadFileBytes("/bin/true");
  enum Damage { kMissing, kHalf, kTen, kFlipFirst, kFlipMiddle, kFlipLast, kText, kElf, kZeros };
  const char* damageNames[] = {"missing", "half", "10 bytes", "flip first", "flip middle",
                               "flip last", "text", "ELF", "zeros"};
  int round = 0;
  for (const char* ddf : {"FILE.DDF", "FIELD.DDF", "INDEX.DDF", "ATTRIB.DDF"}) {
    for (int damage = kMissing; damage <= kZeros; ++damage) {
      SCOPED_TRACE(std::string(ddf) + ", " + damageNames[damage]);
      const std::string dir = work_.path() + "/d" + std::to_string(round++);
      fs::copy(base, dir, fs::copy_options::recursive);
      const std::string path = dir + "/" + ddf;
      std::string bytes = ReadFileBytes(path);
      switch (damage) {
        case kMissing: fs::remove(path); break;
        case kHalf: bytes.resize(bytes.size() / 2); break;
        case kTen: bytes.resize(10); break;
        case kFlipFirst: bytes[0] ^= 0x10; break;
        case kFlipMiddle: bytes[bytes.size() / 2] ^= 0x01; break;
        case kFlipLast: bytes[bytes.size() - 1] ^= 0x80; break;
        case kText: bytes = foreignText; break;
        case kElf: bytes = elf; break;
        case kZeros: bytes.assign(4096, '\0'); break;
      }
      if (damage != kMissing) WriteFileBytes(path, bytes);
      const auto before = Files(dir);

      ProcessResult r = Scrutor(dir, {"*", "/A"});
      ASSERT_EQ(r.signal, 0) << r.err;
      if (r.exitCode == 1) {
        EXPECT_TRUE(Has(r.err, "Unable to Open Dictionary Files - Status ")) << r.err;
      } else {
        // Opened: whatever could not be read was reported, and the run ended.
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_TRUE(r.out.size() >= 6 && r.out.substr(r.out.size() - 6) == "Done.\n") << r.out;
      }
      if (damage == kMissing) {
        EXPECT_TRUE(Has(r.err, "Status 12\n")) << r.err;
      }
      if (damage == kText || damage == kElf) {
        EXPECT_TRUE(Has(r.err, std::string(ddf) + ": Not a Btrieve File\n")) << r.err;
        EXPECT_TRUE(Has(r.err, "Status 30\n")) << r.err;
      }
      if (damage == kHalf || damage == kTen || damage == kFlipFirst || damage == kZeros) {
        // Damage the engine must notice: the open fails, or a read says so.
        EXPECT_TRUE(r.exitCode == 1 || Has(r.err, "Btrieve Error")) << r.err;
      }
      EXPECT_EQ(Files(dir), before);
    }
  }
}

TEST_F(BadInput, NamesWithControlAndNonAsciiBytes) {
  json d = BaseDescription();
  const std::string table = "Ctl\x01\x1b[7mX\x7f";
  const std::string nonAscii = "Pr\xc3\xbc" "f\xe2\x82\xac";  // UTF-8 bytes
  AddTable(d, 20, table, "DATA\\A.DAT");
  AddTable(d, 21, nonAscii, "DATA\\B.DAT");
  // Tables 20 and 21 lose their INDEX.DDF rows, so that "Index Not Found"
  // quotes their names; Beta's column gets control and non-ASCII bytes in its
  // name and an INDEX.DDF row that allows duplicates where the key does not.
  d["indexes"].erase(d["indexes"].end() - 2, d["indexes"].end());
  d["fields"][1]["name"] = "Col\x02\xc3\xa9";
  d["indexes"][1]["flags"] = 1;  // Beta: duplicates in INDEX.DDF only
  const std::string dir = Build(d, "names");
  const auto before = Files(dir);

  ProcessResult r = Scrutor(dir, {"*"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Index Not Found: Key 0, Seg 0 on File " + table + ".\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Index Not Found: Key 0, Seg 0 on File " + nonAscii + ".\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Inconsistency Found: Key 0, Segment 0 for Beta.Col\x02\xc3\xa9.\n"))
      << r.out;

  // A named run finds the table by its bytes.
  r = Scrutor(dir, {nonAscii, "/T"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(Has(r.out, "Working On Table " + nonAscii + "...\n")) << r.out;
  EXPECT_EQ(Files(dir), before);
}

TEST_F(BadInput, Locations) {
  // A data file outside the database folder, reachable through "..".
  json outside = {{"owner", nullptr}, {"tables", json::array()}, {"fields", json::array()},
                  {"indexes", json::array()}, {"attributes", json::array()}};
  outside["files"] = BaseDescription()["files"];
  const std::string outsideDir = Build(outside, "outside");
  const auto outsideBefore = Files(outsideDir);
  const std::string passwd = ReadFileBytes("/etc/passwd");

  json d = BaseDescription();
  const std::string sixtyFour = std::string(60, 'L') + ".DAT";
  AddTable(d, 30, "Empty", std::string(1, '\0'));
  AddTable(d, 31, "Blanks", "        ");
  AddTable(d, 32, "Full", sixtyFour);
  AddTable(d, 33, "Folder", "DATA");
  AddTable(d, 34, "Outside", "..\\outside\\DATA\\A.DAT");
  AddTable(d, 35, "System", "../../../../../../../../etc/passwd");
  AddTable(d, 36, "Self", "ATTRIB.DDF");  // a dictionary, open twice at once
  const std::string dir = Build(d, "locations");
  const auto before = Files(dir);

  ProcessResult r = Scrutor(dir, {"*", "/T"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  const std::vector<std::string> expected = {
      "Working On Table Alpha...\n",
      "Working On Table Beta...\n",
      "Btrieve File  Not Found.\n",       // empty: an empty path
      "Btrieve File   Not Found.\n",      // blanks: one blank is kept
      "Btrieve File " + sixtyFour + " Not Found.\n",
      "Working On Table Folder...\nBtrieve File DATA Not Found.\n",
      "Working On Table Outside...\nWorking On Table Self...\nUnable To Match Table Self",
      "Btrieve File ../../../../../../../../etc/passwd Not Found.\n",
      "Done.\n",
  };
  for (const std::string& line : expected) EXPECT_TRUE(Has(r.out, line)) << line << "\n" << r.out;
  EXPECT_TRUE(Has(r.err, "../../../../../../../../etc/passwd: Not a Btrieve File\n")) << r.err;
  EXPECT_EQ(Files(dir), before);
  EXPECT_EQ(Files(outsideDir), outsideBefore);
  EXPECT_EQ(ReadFileBytes("/etc/passwd"), passwd);
}

TEST_F(BadInput, EmptyDamagedAndHugeDataFiles) {
  json d = BaseDescription();
  AddTable(d, 40, "Zero", "DATA\\ZERO.DAT");
  AddTable(d, 41, "Torn", "DATA\\TORN.DAT");
  AddTable(d, 42, "Flipped", "DATA\\FLIP.DAT");
  AddTable(d, 43, "Huge", "DATA\\HUGE.DAT");
  AddTable(d, 44, "Sparse", "DATA\\SPARSE.DAT");
  AddTable(d, 45, "Zulu", "DATA\\A.DAT");  // checked last: the walk went on
  const std::string dir = Build(d, "data");
  const std::string good = ReadFileBytes(dir + "/DATA/A.DAT");
  WriteFileBytes(dir + "/DATA/ZERO.DAT", "");
  WriteFileBytes(dir + "/DATA/TORN.DAT", good.substr(0, good.size() / 3));
  std::string flipped = good;
  for (size_t i = 0; i < flipped.size(); i += 97) flipped[i] ^= 0x04;
  WriteFileBytes(dir + "/DATA/FLIP.DAT", flipped);
  // A sound file followed by 8 GiB of holes, and 8 GiB of nothing but holes.
  WriteFileBytes(dir + "/DATA/HUGE.DAT", good);
  fs::resize_file(dir + "/DATA/HUGE.DAT", 8ull << 30);
  WriteFileBytes(dir + "/DATA/SPARSE.DAT", "");
  fs::resize_file(dir + "/DATA/SPARSE.DAT", 8ull << 30);
  const auto before = Files(dir);

  const auto start = std::chrono::steady_clock::now();
  ProcessResult r = Scrutor(dir, {"*", "/T", "/S"});
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                           std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_LT(seconds, 20) << "a huge file must not be read whole";
  for (const char* file : {"ZERO", "TORN", "SPARSE"}) {
    EXPECT_TRUE(Has(r.out, std::string("Btrieve File DATA\\") + file + ".DAT Not Found.\n"))
        << file << "\n" << r.out;
  }
  EXPECT_TRUE(Has(r.out, "Working On Table Zulu...\n"));
  EXPECT_TRUE(Has(r.out, "Files Processed = ")) << r.out;
  EXPECT_EQ(Files(dir), before);
  EXPECT_EQ(fs::file_size(dir + "/DATA/HUGE.DAT"), 8ull << 30);
}

TEST_F(BadInput, SpecialFilesAreRefusedWithoutWaiting) {
  // A named pipe would block the first read for ever; a device never ends.
  json d = BaseDescription();
  AddTable(d, 50, "Pipe", "DATA\\PIPE.DAT");
  AddTable(d, 51, "Zeros", "/dev/zero");
  const std::string dir = Build(d, "special");
  ASSERT_EQ(mkfifo((dir + "/DATA/PIPE.DAT").c_str(), 0644), 0);
  ProcessResult r = Scrutor(dir, {"*", "/T"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Btrieve File DATA\\PIPE.DAT Not Found.\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Btrieve File /dev/zero Not Found.\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Done.\n"));

  // A dictionary that is a named pipe, or a link to a device.
  fs::remove(dir + "/FILE.DDF");
  ASSERT_EQ(mkfifo((dir + "/FILE.DDF").c_str(), 0644), 0);
  r = Scrutor(dir, {"*"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Unable to Open Dictionary Files - Status ")) << r.err;
  fs::remove(dir + "/FILE.DDF");
  fs::create_symlink("/dev/urandom", dir + "/FILE.DDF");
  r = Scrutor(dir, {"*"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Unable to Open Dictionary Files - Status ")) << r.err;
}

TEST_F(BadInput, SixtyFourThousandColumnsAtOneOffset) {
  // Column ids are a unique 16-bit key of FIELD.DDF, so a real file holds at
  // most 65,536 columns: 64,800 named indexes at offset 0 come before the
  // table's column, added straight through the record manager.
  json d = BaseDescription();
  AddTable(d, 60, "Wide", "DATA\\A.DAT");
  const json column = d["fields"].back();  // id 600, inserted after the others
  d["fields"].erase(d["fields"].end() - 1);
  const std::string dir = Build(d, "wide");
  std::vector<std::vector<uint8_t>> rows;
  for (int i = 0; i < 64800; ++i) {
    std::vector<uint8_t> r(32, 0);
    const int id = 700 + i;  // clear of the ids the description uses
    r[0] = static_cast<uint8_t>(id & 0xFF);
    r[1] = static_cast<uint8_t>(id >> 8);
    r[2] = 60;  // table id
    std::memcpy(&r[4], "ByCode              ", 20);
    r[24] = 255;  // a named index
    r[27] = 4;    // size; offset 0
    rows.push_back(r);
  }
  std::vector<uint8_t> real(32, 0);
  real[0] = column["id"].get<int>() & 0xFF;
  real[1] = static_cast<uint8_t>(column["id"].get<int>() >> 8);
  real[2] = 60;
  std::memcpy(&real[4], "Code                ", 20);
  real[24] = 14;
  real[27] = 4;
  rows.push_back(real);
  ASSERT_EQ(engine::InsertRecords(dir + "/FIELD.DDF", "", rows), 0);
  ProcessResult r = Scrutor(dir, {"Wide", "/S"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(Has(r.out, "Indices Verified= 1\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "Indices Corrupt = 0\n")) << r.out;
}

TEST_F(BadInput, ArgumentCountsAndControlCharacters) {
  const std::string dir = Build(BaseDescription(), "args");
  const auto before = Files(dir);
  const struct {
    const char* what;
    std::vector<std::string> args;
    int exitCode;
    const char* out;
    const char* err;
  } cases[] = {
      {"none", {}, 1, "", "\nUsage:  SCRUTOR TableName [/<options>] [/P=Password]\n\n"},
      {"seven", {"*", "/A", "/C", "/I", "/K", "/N", "/S"}, 1, "", "\nUsage:  SCRUTOR"},
      {"eight", {"*", "/A", "/C", "/I", "/K", "/N", "/S", "/T"}, 1, "", "\nUsage:  SCRUTOR"},
      {"six", {"*", "/A", "/C", "/I", "/N", "/S"}, 0, "\nWork completed.\n", ""},
      {"escape sequence as table", {"\x1b[2J\x07"}, 2, "Table <\x1b[2J\x07> Not Found.\n", ""},
      {"table name past 20 bytes", {std::string(300, 'Q')}, 2,
       "Table <QQQQQQQQQQQQQQQQQQQQ> Not Found.\n", ""},
      {"control characters as options", {"*", "/\x01", "-\x7f", "/\x1b"}, 0, "Done.\n", ""},
      {"empty table name", {""}, 2, "Table < > Not Found.\n", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ProcessResult r = Scrutor(dir, c.args);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, c.out)) << r.out;
    EXPECT_TRUE(Has(r.err, c.err)) << r.err;
  }
  EXPECT_EQ(Files(dir), before);
}

}  // namespace
}  // namespace reliability
