#include "json/json.hpp"

#include <algorithm>

namespace tarnwick::json {

std::size_t nesting_depth(const Object& o) {
  std::size_t deepest = 0;
  for (const auto& kv : o) deepest = std::max(deepest, nesting_depth(kv.value()));
  return deepest + 1;
}

std::size_t nesting_depth(const Value& v) {
  if (const Object* o = v.if_object()) return nesting_depth(*o);
  const Array* a = v.if_array();
  if (!a) return 0;
  std::size_t deepest = 0;
  for (const Value& e : *a) deepest = std::max(deepest, nesting_depth(e));
  return deepest + 1;
}

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
