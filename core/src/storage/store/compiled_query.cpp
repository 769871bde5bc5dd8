#include "storage/store/compiled_query.hpp"

#include <algorithm>

#include "storage/store/data_field.hpp"

namespace tarnwick::store {

namespace {
constexpr std::size_t kHashedTypesFrom = 9;
}  // namespace

CompiledQuery::CompiledQuery(const NodeQuery& query) : query_(query) {
  if (query.node_types && query.node_types->size() >= kHashedTypesFrom)
    type_set_.emplace(query.node_types->begin(), query.node_types->end());
  if (query.attributes) {
    equalities_.reserve(query.attributes->size());
    for (const auto& kv : *query.attributes) equalities_.push_back({FieldPath(kv.key()), &kv.value()});
  }
  if (query.attribute_ranges) {
    ranges_.reserve(query.attribute_ranges->size());
    for (const auto& [path, bounds] : *query.attribute_ranges) ranges_.push_back({FieldPath(path), bounds});
  }
  reads_data_ = !ranges_.empty() || std::ranges::any_of(equalities_, [](const Equality& e) { return !e.path.node_type; });
}

bool CompiledQuery::type_listed(std::string_view type) const {
  if (type_set_) return type_set_->contains(type);
  const auto& types = *query_.node_types;
  return std::find(types.begin(), types.end(), type) != types.end();
}

bool CompiledQuery::equal_at(std::string_view type, std::span<const std::uint8_t> data, const Equality& test) {
  if (test.path.node_type) {
    const json::String* expected = test.expected->if_string();
    return expected && std::string_view(*expected) == type;
  }
  const DataField found = DataField::at_path(data, test.path.path);
  return found.missing() ? test.expected->is_null() : found.equals(*test.expected);
}

bool CompiledQuery::within(std::span<const std::uint8_t> data, const Range& test) {
  if (test.path.node_type) return false;  // a type is a string, never a number
  const std::optional<json::Value> found = DataField::at_path(data, test.path.path).scalar();
  if (!found) return false;
  const std::optional<double> d = json::as_double(*found);
  if (!d) return false;
  // Written as negations so that a NaN bound admits nothing.
  if (test.bounds.above && !(*d > *test.bounds.above)) return false;
  if (test.bounds.below && !(*d < *test.bounds.below)) return false;
  return true;
}

bool CompiledQuery::matches(std::string_view type, std::span<const std::uint8_t> data) const {
  if (query_.node_types && !type_listed(type)) return false;
  for (const Equality& test : equalities_)
    if (!equal_at(type, data, test)) return false;
  for (const Range& test : ranges_)
    if (!within(data, test)) return false;
  return true;
}

double CompiledQuery::order_key(std::span<const std::uint8_t> data) const {
  const std::optional<json::Value> v = DataField::at_key(data, query_.order_by->field).scalar();
  return v ? json::finite_number(*v).value_or(0.0) : 0.0;
}

}  // namespace tarnwick::store
