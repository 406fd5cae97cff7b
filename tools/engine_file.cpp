#include "engine_file.h"

#include "engine/engine.h"
#include "recmgr/bytes.h"

namespace scrutordb {

namespace {
constexpr uint32_t kStatBufferSize = 1 << 20;
constexpr int kFileSpecSize = 16, kKeySpecSize = 16, kAcsSize = 265;
}  // namespace

int EngineFile::Open(const std::string& path, const std::string& owner) {
  Close();
  std::string key = path;
  key.push_back('\0');
  Bytes data(owner.begin(), owner.end());
  data.push_back(0);
  uint32_t length = static_cast<uint32_t>(data.size());
  uint8_t keyLength = static_cast<uint8_t>(key.size() > 255 ? 255 : key.size());
  int status = engine::Entry(kOpOpen, position_, data.data(), &length, key.data(), keyLength, 0);
  open_ = status == 0;
  return status;
}

int EngineFile::Close() {
  if (!open_) return 0;
  open_ = false;
  uint32_t length = 0;
  uint8_t key[1] = {0};
  return engine::Entry(kOpClose, position_, nullptr, &length, key, 0, 0);
}

int EngineFile::Insert(const Bytes& record) {
  Bytes data = record;
  uint32_t length = static_cast<uint32_t>(data.size());
  uint8_t key[256] = {};
  return engine::Entry(kOpInsert, position_, data.data(), &length, key, 255, 0);
}

int EngineFile::GetEqual(uint8_t keyNumber, Bytes keyValue) {
  Bytes data(1 << 16);
  uint32_t length = static_cast<uint32_t>(data.size());
  keyValue.resize(256, 0);
  return engine::Entry(kOpGetEqual, position_, data.data(), &length, keyValue.data(), 255,
                       keyNumber);
}

int EngineFile::Stat(Bytes* result) {
  result->assign(kStatBufferSize, 0);
  uint32_t length = kStatBufferSize;
  uint8_t key[256] = {};
  int status = engine::Entry(kOpStat, position_, result->data(), &length, key, 255, 0);
  result->resize(status == 0 && length <= kStatBufferSize ? length : 0);
  return status;
}

bool DecodeStat(const Bytes& stat, StatInfo* info, std::string* error) {
  if (stat.size() < kFileSpecSize) {
    *error = "Stat result of " + std::to_string(stat.size()) + " bytes";
    return false;
  }
  info->recordLength = LoadU16(&stat[0]);
  info->pageSize = LoadU16(&stat[2]);
  info->keyCount = stat[4];
  info->version = stat[5];
  info->recordCount = LoadU32(&stat[6]);
  info->fileFlags = LoadU16(&stat[10]);
  size_t at = kFileSpecSize;
  for (int ends = 0; ends < info->keyCount;) {
    if (at + kKeySpecSize > stat.size()) {
      *error = "Stat result ends inside the key specifications";
      return false;
    }
    const uint8_t* p = &stat[at];
    StatSegment s;
    s.position = LoadU16(p);
    s.length = LoadU16(p + 2);
    s.flags = LoadU16(p + 4);
    s.distinct = LoadU32(p + 6);
    s.type = p[10];
    s.nullValue = p[11];
    s.keyNumber = p[14];
    s.acs = p[15];
    info->segments.push_back(s);
    if (!(s.flags & 0x0010)) ends++;
    at += kKeySpecSize;
  }
  if ((stat.size() - at) % kAcsSize != 0) {
    *error = "Stat result has " + std::to_string(stat.size() - at) +
             " bytes after the key specifications, not whole collating sequences";
    return false;
  }
  for (; at < stat.size(); at += kAcsSize)
    info->acs.emplace_back(stat.begin() + at, stat.begin() + at + kAcsSize);
  return true;
}

Bytes KeyValue(const std::vector<StatSegment>& keySegments, const Bytes& record) {
  Bytes value;
  for (const StatSegment& s : keySegments) {
    for (size_t i = 0; i < s.length; i++) {
      size_t at = size_t{s.position} - 1 + i;
      value.push_back(at < record.size() ? record[at] : 0);
    }
  }
  return value;
}

}  // namespace scrutordb
