#include "json/json.hpp"

namespace tarnwick::json {

bool deeper_than(const Object& o, std::size_t levels) {
  if (levels == 0) return true;
  for (const auto& kv : o)
    if (deeper_than(kv.value(), levels - 1)) return true;
  return false;
}

bool deeper_than(const Value& v, std::size_t levels) {
  if (const Object* o = v.if_object()) return deeper_than(*o, levels);
  if (const Array* a = v.if_array()) {
    if (levels == 0) return true;
    for (const Value& e : *a)
      if (deeper_than(e, levels - 1)) return true;
  }
  return false;
}

}  // namespace tarnwick::json
