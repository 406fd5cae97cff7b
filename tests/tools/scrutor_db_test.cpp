// End-to-end tests of scrutor-db: build, export, dump and their round trips,
// on the sample database and on small edge descriptions.
#include <gtest/gtest.h>

#include "db_test_support.h"
#include "engine/engine.h"

using nlohmann::json;
namespace fs = std::filesystem;

namespace {

const std::set<std::string> kDictionaries = {"FILE.DDF", "FIELD.DDF", "INDEX.DDF", "ATTRIB.DDF"};

// Builds a description into dir; fails the test on error.
void Build(const json& d, const std::string& dir, std::vector<std::string> extra = {}) {
  TempDir tmp;
  std::string path = tmp.path() + "/d.json";
  WriteFileBytes(path, d.dump(2));
  std::vector<std::string> args = {"build", path, dir};
  args.insert(args.end(), extra.begin(), extra.end());
  ProcessResult r = RunDb(args);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  ASSERT_EQ(r.err, "");
}

json Dump(const std::string& file, const std::string& owner = "") {
  std::vector<std::string> args = {"dump", file};
  if (!owner.empty()) args.insert(args.end(), {"--owner", owner});
  ProcessResult r = RunDb(args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  if (r.exitCode != 0) return json();
  json j = json::parse(r.out);
  j.erase("file");
  return j;
}

std::vector<std::vector<uint8_t>> Records(const std::string& file, const std::string& owner = "") {
  std::vector<std::vector<uint8_t>> records;
  EXPECT_EQ(engine::ReadAllRecords(file, owner, &records), 0) << file;
  return records;
}

std::vector<uint8_t> Bytes(std::initializer_list<int> values) {
  std::vector<uint8_t> b;
  for (int v : values) b.push_back(static_cast<uint8_t>(v));
  return b;
}

std::vector<uint8_t> Padded(const std::string& text, size_t width) {
  std::vector<uint8_t> b(text.begin(), text.end());
  b.resize(width, ' ');
  return b;
}

TEST(Build, SampleWritesTheDictionariesAndDataFilesOnly) {
  TempDir tmp;
  ProcessResult r = RunDb({"build", SamplePath(), tmp.path() + "/db"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");
  std::set<std::string> expected = kDictionaries;
  for (const char* f : {"DATA", "DATA/CUSTOMER.DAT", "DATA/VENDOR.DAT", "DATA/ITEM.DAT",
                        "DATA/WAREHOUS.DAT", "DATA/STOCK.DAT", "DATA/ORDERS.DAT",
                        "DATA/ORDLINE.DAT", "DATA/INVOICE.DAT", "DATA/EMPLOYEE.DAT"})
    expected.insert(f);
  EXPECT_EQ(ListTree(tmp.path() + "/db"), expected);  // no temporary folder left, no PAYMENT.DAT
  for (const std::string& f : expected)
    if (f != "DATA") {
      EXPECT_EQ(engine::VerifyFile(tmp.path() + "/db/" + f, ""), 0) << f;
    }
}

TEST(Build, DictionaryRecordsHaveTheirLayouts) {
  json d = SmallDescription();
  d["tables"][0]["flags"] = 7;
  d["fields"][1]["dec"] = 3;
  d["fields"][1]["flags"] = "0x8001";
  d["attributes"] = {{{"field", 11}, {"type", "O"}, {"data", "AC01"}}, {{"field", 10}, {"type", 65}, {"data", ""}}};
  TempDir tmp;
  Build(d, tmp.path());

  auto file = Records(tmp.path() + "/FILE.DDF");
  ASSERT_EQ(file.size(), 1u);
  std::vector<uint8_t> expected = Bytes({1, 0});
  for (auto part : {Padded("Part", 20), Padded("PART.DAT", 64)}) expected.insert(expected.end(), part.begin(), part.end());
  expected.push_back(7);
  expected.resize(97, 0);
  EXPECT_EQ(file[0], expected);

  auto fields = Records(tmp.path() + "/FIELD.DDF");
  ASSERT_EQ(fields.size(), 2u);
  expected = Bytes({11, 0, 1, 0});
  auto name = Padded("Name", 20);
  expected.insert(expected.end(), name.begin(), name.end());
  for (int b : {0, 4, 0, 12, 0, 3, 0x01, 0x80}) expected.push_back(static_cast<uint8_t>(b));
  EXPECT_EQ(fields[1], expected);

  auto indexes = Records(tmp.path() + "/INDEX.DDF");
  ASSERT_EQ(indexes.size(), 2u);
  EXPECT_EQ(indexes[1], Bytes({1, 0, 11, 0, 1, 0, 0, 0, 0x23, 0}));

  auto attribs = Records(tmp.path() + "/ATTRIB.DDF");
  ASSERT_EQ(attribs.size(), 2u);  // key 0 order: column 10 first
  EXPECT_EQ(attribs[0], Bytes({10, 0, 'A', 0, 0}));
  EXPECT_EQ(attribs[1], Bytes({11, 0, 'O', 2, 0, 0xAC, 0x01}));
}

// The dictionary files' keys: positions, lengths, types, and the duplicates,
// segment and case-insensitive flags.
TEST(Build, DictionaryFilesHaveTheirKeys) {
  struct Seg { int key, position, length, type; bool dup, more, ci; };
  const std::vector<std::pair<std::string, std::vector<Seg>>> expected = {
      {"FILE.DDF", {{0, 1, 2, 14, false, false, false}, {1, 3, 20, 0, false, false, true}}},
      {"FIELD.DDF", {{0, 1, 2, 14, false, false, false}, {1, 3, 2, 14, true, false, false},
                     {2, 5, 20, 0, true, false, true}, {3, 3, 2, 14, true, true, false},
                     {3, 5, 20, 0, true, false, true}, {4, 3, 2, 14, true, true, false},
                     {4, 26, 2, 14, true, true, false}, {4, 30, 1, 14, true, false, false}}},
      {"INDEX.DDF", {{0, 1, 2, 14, true, false, false}, {1, 3, 2, 14, true, false, false},
                     {2, 1, 2, 14, false, true, false}, {2, 5, 2, 14, false, true, false},
                     {2, 7, 2, 14, false, false, false}}},
      {"ATTRIB.DDF", {{0, 1, 2, 14, false, true, false}, {0, 3, 1, 0, false, false, false}}},
  };
  TempDir tmp;
  Build(json::object(), tmp.path());
  for (const auto& [name, segs] : expected) {
    json dump = Dump(tmp.path() + "/" + name);
    ASSERT_EQ(dump["segments"].size(), segs.size()) << name;
    for (size_t i = 0; i < segs.size(); i++) {
      const json& s = dump["segments"][i];
      int flags = s["flags"];
      EXPECT_EQ(s["key"], segs[i].key) << name << " " << i;
      EXPECT_EQ(s["position"], segs[i].position) << name << " " << i;
      EXPECT_EQ(s["length"], segs[i].length) << name << " " << i;
      EXPECT_EQ(s["type"], segs[i].type) << name << " " << i;
      EXPECT_EQ((flags & 0x0001) != 0, segs[i].dup) << name << " " << i;
      EXPECT_EQ((flags & 0x0010) != 0, segs[i].more) << name << " " << i;
      EXPECT_EQ((flags & 0x0400) != 0, segs[i].ci) << name << " " << i;
    }
    EXPECT_EQ(dump["records"].size(), 0u);
  }
  json attrib = Dump(tmp.path() + "/ATTRIB.DDF");
  EXPECT_EQ(attrib["record_length"], 5);
  EXPECT_EQ(attrib["variable"], true);
  EXPECT_EQ(Dump(tmp.path() + "/FILE.DDF")["record_length"], 97);
  EXPECT_EQ(Dump(tmp.path() + "/FIELD.DDF")["record_length"], 32);
  EXPECT_EQ(Dump(tmp.path() + "/INDEX.DDF")["record_length"], 10);
}

TEST(Dump, DecodesKeysAndListsRecordsInKeyOrder) {
  json d = SmallDescription();
  d["files"][0]["page_size"] = 1024;
  d["files"][0]["records"] = {"03000000432020202020202020202020", "01000000412020202020202020202020",
                              "02000000422020202020202020202020"};
  d["files"][0]["keys"][1]["segments"][0]["null"] = 32;
  d["files"][0]["keys"][1]["number"] = 5;
  TempDir tmp;
  Build(d, tmp.path());
  json dump = Dump(tmp.path() + "/PART.DAT");
  EXPECT_EQ(dump["record_length"], 16);
  EXPECT_EQ(dump["page_size"], 1024);
  EXPECT_EQ(dump["key_count"], 2);
  EXPECT_EQ(dump["record_count"], 3);
  EXPECT_EQ(dump["variable"], false);
  ASSERT_EQ(dump["segments"].size(), 2u);
  EXPECT_EQ(dump["segments"][1]["position"], 5);
  EXPECT_EQ(dump["segments"][1]["length"], 12);
  EXPECT_EQ(dump["segments"][1]["flags"], 0x0403);
  EXPECT_EQ(dump["segments"][1]["null"], 32);
  EXPECT_EQ(dump["segments"][1]["key"], 5);
  EXPECT_EQ(dump["records"], json({"01000000412020202020202020202020", "02000000422020202020202020202020",
                                   "03000000432020202020202020202020"}));
}

TEST(Build, SegmentFlagMarksEveryButTheLastSegment) {
  json d = SmallDescription();
  d["files"][0]["keys"] = {{{"segments", {{{"position", 5}, {"length", 4}, {"flags", "0x0003"}},
                                          {{"position", 1}, {"length", 4}, {"flags", "0x0013"}}}}}};
  TempDir tmp;
  Build(d, tmp.path());
  json dump = Dump(tmp.path() + "/PART.DAT");
  EXPECT_EQ(dump["segments"][0]["flags"], 0x0013);
  EXPECT_EQ(dump["segments"][1]["flags"], 0x0003);
}

// Tests of the checker need a collating sequence whose signature is wrong:
// the builder and the engine keep it exactly as given.
TEST(Build, CollatingSequenceIsStoredExactlyAsGiven) {
  json d = SmallDescription();
  std::string bad = "00" + std::string(528, 'B');
  d["files"][0]["acs"] = {bad};
  TempDir tmp;
  Build(d, tmp.path());
  EXPECT_EQ(Dump(tmp.path() + "/PART.DAT")["acs"], json({bad}));
}

TEST(Build, IntegersMayBeStrings) {
  json d = SmallDescription();
  d["tables"][0]["id"] = "0x0001";
  d["fields"][0]["table"] = "1";
  d["indexes"][1]["flags"] = "0X0023";
  TempDir tmp;
  Build(d, tmp.path());
  EXPECT_EQ(Records(tmp.path() + "/FILE.DDF")[0][0], 1);
  EXPECT_EQ(Records(tmp.path() + "/INDEX.DDF")[1][8], 0x23);
}

TEST(Build, ReadsStandardInput) {
  TempDir tmp;
  ProcessResult r = RunDb({"build", "-", tmp.path() + "/db"}, ReadFileBytes(SamplePath()));
  ASSERT_EQ(r.exitCode, 0) << r.err;
  TempDir other;
  ASSERT_EQ(RunDb({"build", SamplePath(), other.path() + "/db"}).exitCode, 0);
  for (const char* f : {"FILE.DDF", "ATTRIB.DDF", "DATA/ITEM.DAT"})
    EXPECT_EQ(Dump(tmp.path() + "/db/" + f), Dump(other.path() + "/db/" + f)) << f;
}

TEST(Build, DuplicateRecordOnUniqueKeyNamesTheRecordAndLeavesNothing) {
  json d = SmallDescription();
  // Key 1 is case-insensitive: "ball" equals "BALL" there, though key 0 differs.
  d["files"][0]["records"].push_back("0300000062616C6C2020202020202020");
  d["files"][0]["keys"][1]["segments"][0]["flags"] = "0x0402";
  TempDir tmp;
  std::string desc = tmp.path() + "/d.json";
  WriteFileBytes(desc, d.dump());
  ProcessResult r = RunDb({"build", desc, tmp.path() + "/db"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "scrutor-db: files[0].records[2]: duplicate value on unique key 1\n");
  EXPECT_FALSE(fs::exists(tmp.path() + "/db"));

  // Into a folder that exists: what it held stays, nothing is added.
  fs::create_directory(tmp.path() + "/kept");
  WriteFileBytes(tmp.path() + "/kept/notes.txt", "mine");
  r = RunDb({"build", desc, tmp.path() + "/kept"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(ListTree(tmp.path() + "/kept"), std::set<std::string>{"notes.txt"});
}

TEST(Build, FailureInALaterFileRemovesEarlierOnes) {
  json d = SmallDescription();
  json second = d["files"][0];
  second["path"] = "SUB/DIR/SECOND.DAT";
  second["records"] = {"01000000412020202020202020202020", "01000000422020202020202020202020"};
  d["files"].push_back(second);
  TempDir tmp;
  std::string desc = tmp.path() + "/d.json";
  WriteFileBytes(desc, d.dump());
  fs::create_directory(tmp.path() + "/db");
  ProcessResult r = RunDb({"build", desc, tmp.path() + "/db"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "scrutor-db: files[1].records[1]: duplicate value on unique key 0\n");
  EXPECT_EQ(ListTree(tmp.path() + "/db"), std::set<std::string>{});
}

TEST(Build, RefusesToOverwriteWithoutForce) {
  TempDir tmp;
  json d = SmallDescription();
  Build(d, tmp.path());
  std::string before = ReadFileBytes(tmp.path() + "/FILE.DDF");

  d["tables"][0]["name"] = "Renamed";
  std::string desc = tmp.path() + "/new.json";
  WriteFileBytes(desc, d.dump());
  ProcessResult r = RunDb({"build", desc, tmp.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "scrutor-db: " + tmp.path() + "/FILE.DDF: exists (--force overwrites it)\n");
  EXPECT_EQ(ReadFileBytes(tmp.path() + "/FILE.DDF"), before);

  // A data file alone is enough to refuse.
  TempDir other;
  WriteFileBytes(other.path() + "/PART.DAT", "x");
  r = RunDb({"build", desc, other.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "scrutor-db: " + other.path() + "/PART.DAT: exists (--force overwrites it)\n");
  EXPECT_EQ(ListTree(other.path()), std::set<std::string>{"PART.DAT"});

  r = RunDb({"build", desc, tmp.path(), "--force"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  auto file = Records(tmp.path() + "/FILE.DDF");
  ASSERT_EQ(file.size(), 1u);
  EXPECT_EQ(std::string(file[0].begin() + 2, file[0].begin() + 9), "Renamed");
  EXPECT_EQ(Records(tmp.path() + "/PART.DAT").size(), 2u);
}

TEST(Build, TargetThatIsAFileIsRefused) {
  TempDir tmp;
  WriteFileBytes(tmp.path() + "/plain", "x");
  std::string desc = tmp.path() + "/d.json";
  WriteFileBytes(desc, "{}");
  ProcessResult r = RunDb({"build", desc, tmp.path() + "/plain", "--force"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "scrutor-db: " + tmp.path() + "/plain: exists and is not a folder\n");
  EXPECT_EQ(ReadFileBytes(tmp.path() + "/plain"), "x");
}

// build -> export -> build gives the same records, keys and collating
// sequences; export -> build -> export gives the same JSON.
void ExpectRoundTrip(const std::string& firstDir, const std::string& owner = "") {
  std::vector<std::string> exportArgs = {"export", firstDir, "--records"};
  if (!owner.empty()) exportArgs.insert(exportArgs.end(), {"--owner", owner});
  ProcessResult first = RunDb(exportArgs);
  ASSERT_EQ(first.exitCode, 0) << first.err;

  TempDir second;
  ProcessResult r = RunDb({"build", "-", second.path() + "/db"}, first.out);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ListTree(second.path() + "/db"), ListTree(firstDir));
  for (const std::string& f : ListTree(firstDir))
    if (!fs::is_directory(firstDir + "/" + f)) {
      EXPECT_EQ(Dump(second.path() + "/db/" + f, owner), Dump(firstDir + "/" + f, owner)) << f;
    }

  exportArgs[1] = second.path() + "/db";
  ProcessResult again = RunDb(exportArgs);
  ASSERT_EQ(again.exitCode, 0) << again.err;
  EXPECT_EQ(again.out, first.out);
}

TEST(RoundTrip, Sample) {
  TempDir tmp;
  ASSERT_EQ(RunDb({"build", SamplePath(), tmp.path() + "/db"}).exitCode, 0);
  ExpectRoundTrip(tmp.path() + "/db");
}

TEST(RoundTrip, EdgeDescriptions) {
  const std::vector<std::pair<std::string, json>> cases = {
      {"empty", json::object()},
      {"keyless variable-length file, insertion order",
       json::parse(R"({"tables": [{"id": 1, "name": "Events", "location": "LOG\\EVENTS.LOG"}],
                       "files": [{"path": "LOG/EVENTS.LOG", "record_length": 2, "variable": true,
                       "page_size": 512, "records": ["0900", "0100FFFFFF", "0500"]}]})")},
      {"duplicates keep insertion order, two collating sequences, odd bytes",
       json::parse(R"({"tables": [{"id": 65535, "name": {"hex": "C46C"}, "location": "T\u0001.DAT", "flags": 255}],
                       "fields": [{"id": 0, "table": 65535, "name": "", "type": 255, "offset": 65535, "size": 0,
                                   "dec": 255, "flags": 65535}],
                       "attributes": [{"field": 0, "type": 200, "data": ""}, {"field": 0, "type": "\u0001", "data": "00"}],
                       "files": [{"path": "T\u0001.DAT", "record_length": 4,
                         "keys": [{"number": 9, "segments": [{"position": 1, "length": 2, "flags": "0x0161",
                                   "type": 0, "null": 255, "acs": 1}]}],
                         "acs": ["AC)" + std::string(528, 'A') + R"(", "AC)" + std::string(528, '0') + R"("],
                         "records": ["02020000", "01010000", "02020001", "02020002"]}]})")},
  };
  for (const auto& [name, d] : cases) {
    SCOPED_TRACE(name);
    TempDir tmp;
    Build(d, tmp.path() + "/db");
    ExpectRoundTrip(tmp.path() + "/db");
  }
}

TEST(Export, WritesEveryPlaceAndLeavesRecordsOutUnlessAsked) {
  json d = SmallDescription();
  d["indexes"][1]["flags"] = "0x0023";
  d["tables"][0]["location"] = "PART.DAT   ";
  d["tables"].push_back({{"id", 2}, {"name", "Gone"}, {"location", "MISSING.DAT"}});
  TempDir tmp;
  Build(d, tmp.path());
  ProcessResult r = RunDb({"export", tmp.path()});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json e = json::parse(r.out);
  EXPECT_EQ(e["owner"], nullptr);
  EXPECT_EQ(e["tables"][0], json::parse(R"({"id": 1, "name": "Part", "location": "PART.DAT", "flags": 0})"));
  EXPECT_EQ(e["fields"][1], json::parse(R"({"id": 11, "table": 1, "name": "Name", "type": 0, "offset": 4,
                                           "size": 12, "dec": 0, "flags": 1})"));
  EXPECT_EQ(e["indexes"][1], json::parse(R"({"table": 1, "field": 11, "number": 1, "part": 0, "flags": 35})"));
  ASSERT_EQ(e["files"].size(), 1u);  // MISSING.DAT does not exist
  EXPECT_EQ(e["files"][0], json::parse(R"({"path": "PART.DAT", "owner": null, "record_length": 16,
      "variable": false, "page_size": 4096,
      "keys": [{"number": 0, "segments": [{"position": 1, "length": 4, "flags": 0, "type": 14, "null": 0, "acs": 0}]},
               {"number": 1, "segments": [{"position": 5, "length": 12, "flags": 1027, "type": 0, "null": 0, "acs": 0}]}],
      "acs": [], "records": []})"));
}

TEST(Export, OwnerNames) {
  json d = SmallDescription();
  d["owner"] = "..QV....";
  d["files"][0]["owner"] = "secret";
  TempDir tmp;
  Build(d, tmp.path() + "/db");

  ProcessResult r = RunDb({"export", tmp.path() + "/db"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("FILE.DDF: cannot be read (status 51"), std::string::npos) << r.err;

  // The dictionaries open with their owner name; the data file needs another.
  r = RunDb({"export", tmp.path() + "/db", "--owner", "..QV...."});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("PART.DAT: cannot be read (status 51"), std::string::npos) << r.err;

  TempDir same;
  d["files"][0]["owner"] = "..QV....";
  Build(d, same.path() + "/db");
  r = RunDb({"export", same.path() + "/db", "--owner", "..QV...."});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  json e = json::parse(r.out);
  EXPECT_EQ(e["owner"], "..QV....");
  EXPECT_EQ(e["files"][0]["owner"], "..QV....");
  ExpectRoundTrip(same.path() + "/db", "..QV....");
}

TEST(Export, MissingDirectoryOrDictionary) {
  TempDir tmp;
  ProcessResult r = RunDb({"export", tmp.path() + "/none"});
  EXPECT_EQ(r.exitCode, 1);
  Build(json::object(), tmp.path());
  fs::remove(tmp.path() + "/ATTRIB.DDF");
  r = RunDb({"export", tmp.path()});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("ATTRIB.DDF: cannot be read (status 12"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
