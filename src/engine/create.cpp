// Creating a file: the header and a first commit are written to a new file
// beside the target, synced, and linked into place only if the target does
// not exist, so a crash never leaves a half-made file under the real name.
#include <cstdio>

#include "engine/engine.h"
#include "engine/format.h"
#include "engine/fs.h"
#include "engine/path.h"
#include "engine/status.h"
#include "engine/table.h"

namespace engine {
namespace {

int Fail(std::string* error, const std::string& why, int status) {
  if (error) *error = why;
  return status;
}

}  // namespace

int CreateFile(const std::string& pathIn, const FileDef& def, std::string* error) {
  std::string path = pathIn;
  if (NormalizePath(&path) != kOk) return Fail(error, "invalid file name", kBadFileName);
  FileMeta m;
  m.recordLength = def.recordLength;
  m.variable = def.variable;
  m.maxRecordLength = def.variable ? (def.maxRecordLength ? def.maxRecordLength : kMaxRecordLength)
                                   : def.recordLength;
  m.pageSize = def.pageSize;
  if (def.keys.size() > static_cast<size_t>(kMaxKeys)) return Fail(error, "too many keys", kBadKeyNumber);
  for (const KeyDef& k : def.keys) {
    Key key;
    key.number = k.number;
    key.segmentCount = static_cast<uint16_t>(k.segments.size() > 0xFFFF ? 0xFFFF : k.segments.size());
    m.keys.push_back(key);
    for (const SegmentDef& sd : k.segments) {
      Segment s;
      s.position = sd.position;
      s.length = sd.length;
      s.flags = sd.flags;
      s.type = sd.type;
      s.nullValue = sd.nullValue;
      s.acs = sd.acs;
      m.segments.push_back(s);
    }
  }
  m.acs = def.acs;
  const char* why = FinishMeta(&m);
  if (*why) return Fail(error, why, kBadKeyNumber);
  FileSystem* fs = CurrentFileSystem();
  if (def.owner && !def.owner->empty()) {
    if (def.owner->size() > kMaxOwnerLength) return Fail(error, "owner name longer than 255 bytes", kBadOwner);
    m.hasOwner = true;
    fs->Random(m.salt.data(), m.salt.size());
    m.digest = OwnerDigest(m.salt, *def.owner);
  }

  std::vector<uint8_t> bytes = EncodeHeader(m);
  bytes.resize(m.logStart, 0);
  Commit first;
  first.sequence = 1;
  first.logEnd = m.logStart;
  first.distinct.assign(m.keys.size(), 0);
  std::vector<uint8_t> block = EncodeCommit(m, first);
  std::copy(block.begin(), block.end(), bytes.begin() + static_cast<long>(m.commitOffset));

  if (fs->IsDirectory(path)) return Fail(error, "the name is a directory", kBadFileName);
  uint8_t rnd[8];
  fs->Random(rnd, sizeof rnd);
  char suffix[24];
  std::snprintf(suffix, sizeof suffix, ".new%02x%02x%02x%02x", rnd[0], rnd[1], rnd[2], rnd[3]);
  std::string temp = path + suffix;
  int fd = fs->Open(temp, OpenMode::kCreateNew);
  if (fd < 0) {
    if (fd == kFsNotFound) return Fail(error, "the folder does not exist", kFileNotFound);
    if (fd == kFsAccess) return Fail(error, "access denied", kAccessDenied);
    return Fail(error, "cannot create the file", fd == kFsNoSpace ? kDiskFull : kIoError);
  }
  int r = fs->Write(fd, 0, bytes.data(), bytes.size());
  if (r == 0) r = fs->Sync(fd);
  fs->Close(fd);
  if (r == 0) r = fs->LinkNoReplace(temp, path);
  fs->Unlink(temp);
  if (r == kFsExists) return Fail(error, "the file exists", kFileExists);
  if (r != 0) return Fail(error, "cannot write the file", r == kFsNoSpace ? kDiskFull : kIoError);
  if (fs->SyncDirectoryOf(path) != 0) {
    // The new name may not survive a crash: take it away rather than leave
    // a file whose creation was reported as failed.
    fs->Unlink(path);
    return Fail(error, "cannot sync the folder", kIoError);
  }
  return kOk;
}

int ReadAllRecords(const std::string& pathIn, const std::string& owner,
                   std::vector<std::vector<uint8_t>>* records) {
  std::string path = pathIn;
  int st = NormalizePath(&path);
  if (st != kOk) return st;
  std::unique_ptr<Table> t;
  st = Table::Open(path, Access::kReadOnly, owner.empty() ? nullptr : &owner, &t);
  if (st != kOk) return st;
  return t->ReadAll(records);
}

int InsertRecords(const std::string& pathIn, const std::string& owner,
                  const std::vector<std::vector<uint8_t>>& records, size_t* failed) {
  std::string path = pathIn;
  int st = NormalizePath(&path);
  if (st != kOk) return st;
  std::unique_ptr<Table> t;
  st = Table::Open(path, Access::kNormal, owner.empty() ? nullptr : &owner, &t);
  if (st != kOk) return st;
  return t->InsertMany(records, failed);
}

int VerifyFile(const std::string& pathIn, const std::string& owner, std::string* problem) {
  std::string path = pathIn;
  int st = NormalizePath(&path);
  if (st != kOk) return st;
  std::unique_ptr<Table> t;
  st = Table::Open(path, Access::kReadOnly, owner.empty() ? nullptr : &owner, &t);
  if (st != kOk) {
    if (problem) *problem = "the file does not open";
    return st;
  }
  return t->Verify(problem);
}

}  // namespace engine
