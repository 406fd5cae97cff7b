// Owner names: only the exact name opens an owned file; owner-less files
// open with anything; the file holds a salted digest, never the name.
#include <gtest/gtest.h>

#include <cstdio>

#include "engine/sha256.h"
#include "engine_test_util.h"
#include "run_process.h"

namespace {

using namespace enginetest;

engine::FileDef Def(std::optional<std::string> owner) {
  engine::FileDef def;
  def.recordLength = 4;
  def.keys.push_back(Key(0, {Seg(1, 4, 0)}));
  def.owner = std::move(owner);
  return def;
}

// Opens with the data buffer holding `owner` and the data length `length`.
int OpenWith(const std::string& path, const void* owner, uint32_t length) {
  uint8_t pb[128] = {};
  std::string key = path + '\0';
  std::vector<char> data(static_cast<const char*>(owner),
                         static_cast<const char*>(owner) + (owner ? length : 0));
  uint32_t len = length;
  int st = engine::Entry(kOpen, pb, owner ? data.data() : nullptr, &len, key.data(), 255, 0);
  EXPECT_EQ(len, length) << "Open hands back no length";
  if (st == 0) engine::Entry(kClose, pb, nullptr, nullptr, nullptr, 0, 0);
  return st;
}

TEST(Owner, OnlyTheExactNameOpensAnOwnedFile) {
  TempDir dir;
  std::string owned = dir.path() + "/OWNED.DAT", open = dir.path() + "/OPEN.DAT";
  ASSERT_EQ(engine::CreateFile(owned, Def(std::string("Se cret!"))), 0);
  ASSERT_EQ(engine::CreateFile(open, Def(std::nullopt)), 0);
  struct Case { const char* name; std::string path; const char* data; uint32_t length; int status; };
  const Case cases[] = {
      {"right", owned, "Se cret!\0", 9, 0},
      {"right, no terminator within the length", owned, "Se cret!", 8, 0},
      {"right, longer buffer", owned, "Se cret!\0garbage", 16, 0},
      {"wrong case", owned, "se cret!\0", 9, 51},
      {"prefix", owned, "Se cret\0", 8, 51},
      {"cut by the length", owned, "Se cret!\0", 5, 51},
      {"longer", owned, "Se cret!!\0", 10, 51},
      {"empty", owned, "\0", 1, 51},
      {"zero length", owned, "Se cret!\0", 0, 51},
      {"missing buffer", owned, nullptr, 0, 51},
      {"owner-less, any name", open, "whatever\0", 9, 0},
      {"owner-less, empty", open, "\0", 1, 0},
      {"owner-less, missing buffer", open, nullptr, 0, 0},
  };
  for (const Case& c : cases) EXPECT_EQ(OpenWith(c.path, c.data, c.length), c.status) << c.name;
  std::vector<Bytes> records;
  EXPECT_EQ(engine::ReadAllRecords(owned, "Se cret!", &records), 0);
  EXPECT_EQ(engine::ReadAllRecords(owned, "wrong", &records), 51);
  EXPECT_EQ(engine::ReadAllRecords(owned, "", &records), 51);
}

TEST(Owner, TheFileHoldsASaltedDigestNotTheName) {
  TempDir dir;
  std::string a = dir.path() + "/A.DAT", b = dir.path() + "/B.DAT";
  ASSERT_EQ(engine::CreateFile(a, Def(std::string("MASTERPW"))), 0);
  ASSERT_EQ(engine::CreateFile(b, Def(std::string("MASTERPW"))), 0);
  std::string bytesA = ReadFileBytes(a), bytesB = ReadFileBytes(b);
  EXPECT_EQ(bytesA.find("MASTERPW"), std::string::npos);
  EXPECT_EQ(bytesA.size(), bytesB.size());
  EXPECT_NE(bytesA, bytesB) << "two files with one owner name must differ by their salt";
  EXPECT_EQ(OpenWith(a, "MASTERPW", 9), 0);
  EXPECT_EQ(OpenWith(b, "MASTERPW", 9), 0);
}

// The digest is SHA-256, so that an independent reader can check names.
TEST(Owner, DigestIsSha256) {
  auto hex = [](const std::array<uint8_t, 32>& d) {
    std::string s;
    char b[3];
    for (uint8_t x : d) {
      std::snprintf(b, sizeof b, "%02x", x);
      s += b;
    }
    return s;
  };
  struct Case { std::string in; const char* out; };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000, 'a'), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hex(engine::Sha256(reinterpret_cast<const uint8_t*>(c.in.data()), c.in.size())), c.out) << c.in.size();
}

}  // namespace
