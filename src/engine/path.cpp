#include "engine/path.h"

#include "engine/status.h"

namespace engine {

constexpr size_t kMaxPath = 4095;

int NormalizePath(std::string* path) {
  if (path->empty() || path->size() > kMaxPath) return kBadFileName;
  for (char& c : *path) {
    if (c == '\\') c = '/';
  }
  if (path->back() == '/') return kBadFileName;
  return kOk;
}

}  // namespace engine
