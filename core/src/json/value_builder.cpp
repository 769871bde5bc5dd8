#include "json/value_builder.hpp"

namespace tarnwick::json {

Value& ValueBuilder::put(Value v) {
  if (open_.empty()) return root_ = std::move(v);
  Value& into = *open_.back();
  if (Array* a = into.if_array()) return a->emplace_back(std::move(v));
  return into.get_object().emplace(key_, std::move(v)).first->value();
}

void ValueBuilder::doubles(std::span<const double> values) {
  Array a;
  a.reserve(values.size());
  for (double d : values) a.push_back(json::number(d));
  put(std::move(a));
}

}  // namespace tarnwick::json
