// Every class of description error: the message names the JSON place and
// what is wrong, the exit code is 1, and nothing is written.
#include <functional>

#include <gtest/gtest.h>

#include "db_test_support.h"

using nlohmann::json;

namespace {

struct ErrorCase {
  const char* name;
  std::function<void(json&)> change;
  const char* message;  // the whole line after "scrutor-db: "
};

const ErrorCase kCases[] = {
    // Text fields wider than their field.
    {"name too long", [](json& d) { d["fields"][1]["name"] = "ABCDEFGHIJKLMNOPQRSTUVW"; },
     "fields[1].name: 23 bytes, at most 20"},
    {"location too long", [](json& d) { d["tables"][0]["location"] = std::string(65, 'x'); },
     "tables[0].location: 65 bytes, at most 64"},
    {"UTF-8 counted in bytes", [](json& d) { d["tables"][0]["name"] = "\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4\u00c4"; },
     "tables[0].name: 22 bytes, at most 20"},
    // Hex.
    {"odd hex", [](json& d) { d["files"][0]["records"][1] = "123"; },
     "files[0].records[1]: odd number of hex digits (3)"},
    {"bad hex digit", [](json& d) { d["attributes"] = {{{"field", 11}, {"type", "O"}, {"data", "ACZZ"}}}; },
     "attributes[0].data: not a hex digit at character 2"},
    {"attribute data too long",
     [](json& d) { d["attributes"] = {{{"field", 11}, {"type", "O"}, {"data", std::string(4098, 'A')}}}; },
     "attributes[0].data: 2049 bytes, at most 2048"},
    // Ranges, per field width.
    {"u16 too big", [](json& d) { d["tables"][0]["id"] = 65536; },
     "tables[0].id: 65536 out of range 0..65535"},
    {"negative", [](json& d) { d["indexes"][0]["part"] = -1; },
     "indexes[0].part: -1 out of range 0..65535"},
    {"byte from hex string", [](json& d) { d["tables"][0]["flags"] = "0x100"; },
     "tables[0].flags: 0x100 out of range 0..255"},
    {"not an integer", [](json& d) { d["fields"][0]["size"] = "four"; },
     "fields[0].size: \"four\" is not an integer"},
    {"fraction", [](json& d) { d["fields"][0]["offset"] = 1.5; },
     "fields[0].offset: not an integer"},
    {"record length 0", [](json& d) { d["files"][0]["record_length"] = 0; },
     "files[0].record_length: 0 out of range 1..65535"},
    {"key number", [](json& d) { d["files"][0]["keys"][0]["number"] = 256; },
     "files[0].keys[0].number: 256 out of range 0..255"},
    {"segment position 0", [](json& d) { d["files"][0]["keys"][1]["segments"][0]["position"] = 0; },
     "files[0].keys[1].segments[0].position: 0 out of range 1..65535"},
    {"segment past the record", [](json& d) { d["files"][0]["keys"][1]["segments"][0]["length"] = 13; },
     "files[0].keys[1].segments[0]: bytes 5 to 17 lie outside the 16-byte record"},
    // Duplicate values on the dictionaries' unique keys.
    {"table id", [](json& d) { d["tables"].push_back({{"id", 1}, {"name", "Other"}, {"location", "O.DAT"}}); },
     "tables[1].id: duplicate value on unique key 0, as tables[0]"},
    {"table name ignores case", [](json& d) { d["tables"].push_back({{"id", 2}, {"name", "PART"}, {"location", "O.DAT"}}); },
     "tables[1].name: duplicate value on unique key 1, as tables[0]"},
    {"column id", [](json& d) { d["fields"][1]["id"] = 10; },
     "fields[1].id: duplicate value on unique key 0, as fields[0]"},
    {"index segment", [](json& d) { d["indexes"][1]["number"] = 0; },
     "indexes[1]: duplicate value on unique key 2, as indexes[0]"},
    {"attribute",
     [](json& d) {
       d["attributes"] = {{{"field", 11}, {"type", "O"}, {"data", "00"}}, {{"field", 11}, {"type", "O"}, {"data", "01"}}};
     },
     "attributes[1]: duplicate value on unique key 0, as attributes[0]"},
    // Unknown and missing places.
    {"unknown top-level place", [](json& d) { d["tabels"] = json::array(); }, "tabels: unknown place"},
    {"unknown row place", [](json& d) { d["tables"][0]["nmae"] = "x"; }, "tables[0].nmae: unknown place"},
    {"unknown segment place", [](json& d) { d["files"][0]["keys"][0]["segments"][0]["pos"] = 1; },
     "files[0].keys[0].segments[0].pos: unknown place"},
    {"missing location", [](json& d) { d["tables"][0].erase("location"); }, "tables[0].location: missing"},
    {"null is missing", [](json& d) { d["fields"][0]["type"] = nullptr; }, "fields[0].type: missing"},
    {"missing record length", [](json& d) { d["files"][0].erase("record_length"); },
     "files[0].record_length: missing"},
    {"missing segments", [](json& d) { d["files"][0]["keys"][0].erase("segments"); },
     "files[0].keys[0].segments: missing"},
    {"empty key", [](json& d) { d["files"][0]["keys"][0]["segments"] = json::array(); },
     "files[0].keys[0].segments: a key needs at least one segment"},
    // Wrong kinds of value.
    {"not an object", [](json& d) { d = json::array(); }, "description: not an object"},
    {"tables not an array", [](json& d) { d["tables"] = 3; }, "tables: not an array"},
    {"variable not boolean", [](json& d) { d["files"][0]["variable"] = 1; },
     "files[0].variable: not true or false"},
    {"attribute type of two characters",
     [](json& d) { d["attributes"] = {{{"field", 11}, {"type", "OO"}, {"data", ""}}}; },
     "attributes[0].type: 2 bytes, must be 1"},
    {"empty owner", [](json& d) { d["owner"] = ""; }, "owner: empty; null means no owner name"},
    // Records and collating sequences.
    {"record too short", [](json& d) { d["files"][0]["records"][0] = "01"; },
     "files[0].records[0]: 1 bytes, the record length is 16"},
    {"variable record under the fixed part",
     [](json& d) {
       d["files"][0]["variable"] = true;
       d["files"][0]["records"][1] = "0300";
     },
     "files[0].records[1]: 2 bytes, at least 16"},
    {"segment names a missing collating sequence",
     [](json& d) {
       d["files"][0]["keys"][1]["segments"][0]["flags"] = "0x0023";
       d["files"][0]["keys"][1]["segments"][0]["acs"] = 1;
       d["files"][0]["acs"] = {"AC" + std::string(528, '0')};
     },
     "files[0].keys[1].segments[0].acs: collating sequence 1, the file has 1"},
    {"collating sequence size", [](json& d) { d["files"][0]["acs"] = {std::string(528, '0')}; },
     "files[0].acs[0]: 264 bytes, must be 265"},
    // Paths of data files.
    {"absolute path", [](json& d) { d["files"][0]["path"] = "/tmp/PART.DAT"; },
     "files[0].path: \"/tmp/PART.DAT\" is not relative to the build directory"},
    {"path leaving the folder", [](json& d) { d["files"][0]["path"] = "DATA\\..\\..\\PART.DAT"; },
     "files[0].path: \"DATA\\..\\..\\PART.DAT\" leads outside the build directory"},
    {"path of a dictionary", [](json& d) { d["files"][0]["path"] = "./FIELD.DDF"; },
     "files[0].path: the same file as a dictionary file"},
    {"backslash is a separator",
     [](json& d) {
       json second = d["files"][0];
       d["files"][0]["path"] = "DATA/PART.DAT";
       second["path"] = "DATA\\PART.DAT";
       d["files"].push_back(second);
     },
     "files[1].path: the same file as files[0].path"},
    {"same path twice",
     [](json& d) {
       json second = d["files"][0];
       second["path"] = "./PART.DAT";
       d["files"].push_back(second);
     },
     "files[1].path: the same file as files[0].path"},
};

class DescriptionErrors : public testing::TestWithParam<ErrorCase> {};

TEST_P(DescriptionErrors, NameThePlaceAndWriteNothing) {
  const ErrorCase& c = GetParam();
  json d = SmallDescription();
  c.change(d);
  TempDir tmp;
  std::string desc = tmp.path() + "/d.json";
  WriteFileBytes(desc, d.dump());
  std::string target = tmp.path() + "/db";
  ProcessResult r = RunDb({"build", desc, target});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, std::string("scrutor-db: ") + c.message + "\n");
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(std::filesystem::exists(target));
}

INSTANTIATE_TEST_SUITE_P(Cases, DescriptionErrors, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<ErrorCase>& info) {
                           std::string n;
                           for (char ch : std::string(info.param.name))
                             n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return n;
                         });

TEST(DescriptionSyntax, ParseErrorNamesFileAndLine) {
  TempDir tmp;
  std::string desc = tmp.path() + "/broken.json";
  WriteFileBytes(desc, "{\n  \"tables\": [\n    {\"id\": 1,}\n  ]\n}\n");
  ProcessResult r = RunDb({"build", desc, tmp.path() + "/db"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err.rfind("scrutor-db: " + desc + ": parse error at line 3", 0), 0u) << r.err;
  EXPECT_FALSE(std::filesystem::exists(tmp.path() + "/db"));
}

TEST(DescriptionSyntax, UnreadableDescription) {
  TempDir tmp;
  ProcessResult r = RunDb({"build", tmp.path() + "/none.json", tmp.path() + "/db"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, "scrutor-db: " + tmp.path() + "/none.json: cannot be read\n");
}

TEST(Usage, BadCommandLinesExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"frobnicate"}, {"build", "only-one-argument"}, {"export"}, {"dump", "F", "--bogus"},
      {"build", "a", "b", "c"}};
  for (const auto& args : cases) {
    ProcessResult r = RunDb(args);
    EXPECT_EQ(r.exitCode, 2) << testing::PrintToString(args);
    EXPECT_NE(r.err, "") << testing::PrintToString(args);
  }
}

}  // namespace
