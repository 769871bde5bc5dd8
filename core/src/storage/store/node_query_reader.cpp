#include <utility>

#include "storage/store/node_query.hpp"

namespace tarnwick::store {

namespace {

ReadResult<std::vector<std::pair<std::string, RangeQuery>>> read_ranges(json::Value& v) {
  json::Object* obj = v.if_object();
  if (!obj) return invalid_type(v, "a map");
  std::vector<std::pair<std::string, RangeQuery>> out;
  out.reserve(obj->size());
  for (auto& kv : *obj) {
    TARNWICK_TRY_ASSIGN(auto range, RangeQuery::deserialize(kv.value()));
    out.emplace_back(std::string(kv.key()), range);
  }
  return out;
}

using Q = NodeQuery;

constexpr FieldSpec<Q> kQueryFields[] = {
    {"candidateIds", false,
     [](json::Value& x, Q& q) { return assign(q.candidate_ids, read_optional(x, read_string_list)); }},
    {"nodeTypes", false, [](json::Value& x, Q& q) { return assign(q.node_types, read_optional(x, read_string_list)); }},
    {"attributes", false, [](json::Value& x, Q& q) { return assign(q.attributes, read_optional(x, read_object)); }},
    {"attributeRanges", false,
     [](json::Value& x, Q& q) { return assign(q.attribute_ranges, read_optional(x, read_ranges)); }},
    {"orderBy", false, [](json::Value& x, Q& q) { return assign(q.order_by, read_optional(x, OrderBy::deserialize)); }},
    {"offset", false, [](json::Value& x, Q& q) { return assign(q.offset, read_optional(x, read_usize)); }},
    {"limit", false, [](json::Value& x, Q& q) { return assign(q.limit, read_optional(x, read_usize)); }},
    {"maxNodesVisited", false,
     [](json::Value& x, Q& q) { return assign(q.max_nodes_visited, read_optional(x, read_usize)); }},
    {"maxResultSize", false,
     [](json::Value& x, Q& q) { return assign(q.max_result_size, read_optional(x, read_usize)); }},
};

constexpr FieldSpec<RangeQuery> kRangeFields[] = {
    {"above", false, [](json::Value& x, RangeQuery& r) { return assign(r.above, read_optional(x, read_f64)); }},
    {"below", false, [](json::Value& x, RangeQuery& r) { return assign(r.below, read_optional(x, read_f64)); }},
};

constexpr FieldSpec<OrderBy> kOrderFields[] = {
    {"field", true, [](json::Value& x, OrderBy& o) { return assign(o.field, read_string(x)); }},
    {"direction", true, [](json::Value& x, OrderBy& o) { return assign(o.direction, read_string(x)); }},
};

}  // namespace

ReadResult<NodeQuery> NodeQuery::deserialize(json::Value& v) {
  static constexpr RecordSpec<NodeQuery> kSpec{"struct NodeQuery", "struct NodeQuery with 9 elements", kQueryFields};
  return read_record(v, kSpec);
}

ReadResult<RangeQuery> RangeQuery::deserialize(json::Value& v) {
  static constexpr RecordSpec<RangeQuery> kSpec{"struct RangeQuery", "struct RangeQuery with 2 elements",
                                                kRangeFields};
  return read_record(v, kSpec);
}

ReadResult<OrderBy> OrderBy::deserialize(json::Value& v) {
  static constexpr RecordSpec<OrderBy> kSpec{"struct OrderBy", "struct OrderBy with 2 elements", kOrderFields};
  return read_record(v, kSpec);
}

}  // namespace tarnwick::store
