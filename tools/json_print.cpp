#include "json_print.h"

namespace scrutordb {

namespace {

constexpr size_t kLineWidth = 120;

std::string Inline(const nlohmann::ordered_json& v) {
  if (v.is_object()) {
    std::string out = "{";
    for (auto it = v.begin(); it != v.end(); ++it) {
      if (it != v.begin()) out += ", ";
      out += nlohmann::ordered_json(it.key()).dump() + ": " + Inline(it.value());
    }
    return out + "}";
  }
  if (v.is_array()) {
    std::string out = "[";
    for (size_t i = 0; i < v.size(); i++) out += (i ? ", " : "") + Inline(v[i]);
    return out + "]";
  }
  return v.dump();
}

void Print(const nlohmann::ordered_json& v, size_t indent, std::string* out) {
  std::string flat = Inline(v);
  if (!v.is_structured() || v.empty() || indent + flat.size() <= kLineWidth) {
    *out += flat;
    return;
  }
  std::string pad(indent + 2, ' ');
  bool object = v.is_object();
  *out += object ? "{\n" : "[\n";
  size_t i = 0;
  for (auto it = v.begin(); it != v.end(); ++it, ++i) {
    *out += pad;
    if (object) *out += nlohmann::ordered_json(it.key()).dump() + ": ";
    Print(it.value(), indent + 2, out);
    *out += i + 1 < v.size() ? ",\n" : "\n";
  }
  *out += std::string(indent, ' ') + (object ? "}" : "]");
}

}  // namespace

std::string PrintJson(const nlohmann::ordered_json& value) {
  std::string out;
  Print(value, 0, &out);
  return out + "\n";
}

}  // namespace scrutordb
