#include <array>
#include <span>
#include <string_view>

#include "query/plan.hpp"

namespace tarnwick::query {

namespace {

template <class E, std::size_t N>
ReadResult<E> read_enum(json::Value& v, const std::array<std::string_view, N>& names, std::string_view expected) {
  TARNWICK_TRY_ASSIGN(auto index, read_unit_variant(v, names, expected));
  return static_cast<E>(index);
}

constexpr std::array<std::string_view, 2> kDirectionNames = {"out", "in"};
constexpr std::array<std::string_view, 2> kEngineNames = {"exact", "hnsw"};
constexpr std::array<std::string_view, 2> kOrderNames = {"asc", "desc"};
constexpr std::array<std::string_view, 2> kOperatorNames = {"eq", "range"};

// An attribute filter's variant: its fields, as a record table, and how its array form is
// described when elements are missing or left over.
template <class V>
struct VariantSpec {
  RecordSpec<V> record;            // description and array description are those of a struct variant
  std::string_view exact_length;   // "2 elements in sequence"
};

// The array form of a variant holds every field, optional ones included, and nothing more.
template <class V>
ReadResult<V> read_variant_elements(std::span<json::Value> elements, const VariantSpec<V>& spec) {
  const auto fields = spec.record.fields;
  V variant{};
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i == elements.size()) return invalid_length(i, spec.record.array_description);
    TARNWICK_TRY(fields[i].read(elements[i], variant));
  }
  if (elements.size() > fields.size()) return invalid_length(elements.size(), spec.exact_length);
  return variant;
}

// An object's content is read like a record; "operator" names no field and is skipped.
template <class V>
ReadResult<AttributeFilter> read_variant(json::Value& content, std::span<json::Value> elements, bool from_array,
                                         const VariantSpec<V>& spec) {
  TARNWICK_TRY_ASSIGN(auto variant, from_array ? read_variant_elements(elements, spec) : read_record(content, spec.record));
  return AttributeFilter{std::move(variant)};
}

using Eq = AttributeFilter::Eq;
using Range = AttributeFilter::Range;

constexpr FieldSpec<Eq> kEqFields[] = {
    {"field", true, [](json::Value& x, Eq& r) { return assign(r.field, read_string(x)); }},
    {"value", true,
     [](json::Value& x, Eq& r) -> ReadResult<void> {
       r.value = std::move(x);
       return {};
     }},
};
constexpr VariantSpec<Eq> kEqSpec{
    {"struct variant AttributeFilter::Eq", "struct variant AttributeFilter::Eq with 2 elements", kEqFields},
    "2 elements in sequence"};

constexpr FieldSpec<Range> kRangeFields[] = {
    {"field", true, [](json::Value& x, Range& r) { return assign(r.field, read_string(x)); }},
    {"above", false, [](json::Value& x, Range& r) { return assign(r.above, read_optional(x, read_f64)); }},
    {"below", false, [](json::Value& x, Range& r) { return assign(r.below, read_optional(x, read_f64)); }},
};
constexpr VariantSpec<Range> kRangeSpec{
    {"struct variant AttributeFilter::Range", "struct variant AttributeFilter::Range with 3 elements", kRangeFields},
    "3 elements in sequence"};

ReadResult<std::size_t> read_operator(json::Value& tag) {
  if (!tag.is_string()) return invalid_type(tag, "variant identifier");
  return read_unit_variant(tag, kOperatorNames, "`eq` or `range`");
}

}  // namespace

ReadResult<Direction> read_direction(json::Value& v) {
  return read_enum<Direction>(v, kDirectionNames, "`out` or `in`");
}

ReadResult<SimilarityEngine> read_similarity_engine(json::Value& v) {
  return read_enum<SimilarityEngine>(v, kEngineNames, "`exact` or `hnsw`");
}

ReadResult<OrderDirection> read_order_direction(json::Value& v) {
  return read_enum<OrderDirection>(v, kOrderNames, "`asc` or `desc`");
}

// The tag is read before any other entry is looked at, so a bad tag hides every other fault.
ReadResult<AttributeFilter> AttributeFilter::deserialize(json::Value& v) {
  json::Value* tag = nullptr;
  std::span<json::Value> elements;
  const bool from_array = v.is_array();
  if (json::Object* obj = v.if_object()) {
    tag = obj->if_contains("operator");
  } else if (json::Array* arr = v.if_array()) {
    if (!arr->empty()) {
      tag = &arr->front();
      elements = std::span<json::Value>(arr->data() + 1, arr->size() - 1);
    }
  } else {
    return invalid_type(v, "internally tagged enum AttributeFilter");
  }
  if (!tag) return missing_field("operator");
  TARNWICK_TRY_ASSIGN(auto which, read_operator(*tag));
  if (which == 0) return read_variant(v, elements, from_array, kEqSpec);
  return read_variant(v, elements, from_array, kRangeSpec);
}

ReadResult<EdgeFilter> EdgeFilter::deserialize(json::Value& v) {
  static constexpr FieldSpec<EdgeFilter> kFields[] = {
      {"type", true, [](json::Value& x, EdgeFilter& r) { return assign(r.type, read_string(x)); }},
      {"target", false, [](json::Value& x, EdgeFilter& r) { return assign(r.target, read_optional(x, read_string)); }},
      {"source", false, [](json::Value& x, EdgeFilter& r) { return assign(r.source, read_optional(x, read_string)); }},
  };
  static constexpr RecordSpec<EdgeFilter> kSpec{"struct EdgeFilter", "struct EdgeFilter with 3 elements", kFields};
  return read_record(v, kSpec);
}

ReadResult<TraversalStep> TraversalStep::deserialize(json::Value& v) {
  using S = TraversalStep;
  static constexpr FieldSpec<S> kFields[] = {
      {"edgeType", true, [](json::Value& x, S& r) { return assign(r.edge_type, read_string(x)); }},
      {"direction", true, [](json::Value& x, S& r) { return assign(r.direction, read_direction(x)); }},
      {"depth", true, [](json::Value& x, S& r) { return assign(r.depth, read_usize(x)); }},
  };
  static constexpr RecordSpec<S> kSpec{"struct TraversalStep", "struct TraversalStep with 3 elements", kFields};
  return read_record(v, kSpec);
}

ReadResult<Join> Join::deserialize(json::Value& v) {
  static constexpr FieldSpec<Join> kFields[] = {
      {"edgeType", true, [](json::Value& x, Join& r) { return assign(r.edge_type, read_string(x)); }},
      {"direction", true, [](json::Value& x, Join& r) { return assign(r.direction, read_direction(x)); }},
  };
  static constexpr RecordSpec<Join> kSpec{"struct Join", "struct Join with 2 elements", kFields};
  return read_record(v, kSpec);
}

ReadResult<Similarity> Similarity::deserialize(json::Value& v) {
  using S = Similarity;
  static constexpr FieldSpec<S> kFields[] = {
      {"vector", true, [](json::Value& x, S& r) { return assign(r.vector, read_f64_list(x)); }},
      {"threshold", true, [](json::Value& x, S& r) { return assign(r.threshold, read_f64(x)); }},
      {"topK", false, [](json::Value& x, S& r) { return assign(r.top_k, read_optional(x, read_usize)); }},
      {"engine", false,
       [](json::Value& x, S& r) -> ReadResult<void> {
         if (x.is_null()) return {};  // absent: the exact engine
         return assign(r.engine, read_similarity_engine(x));
       }},
  };
  static constexpr RecordSpec<S> kSpec{"struct Similarity", "struct Similarity with 4 elements", kFields};
  return read_record(v, kSpec);
}

ReadResult<Order> Order::deserialize(json::Value& v) {
  static constexpr FieldSpec<Order> kFields[] = {
      {"field", true, [](json::Value& x, Order& r) { return assign(r.field, read_string(x)); }},
      {"direction", true, [](json::Value& x, Order& r) { return assign(r.direction, read_order_direction(x)); }},
  };
  static constexpr RecordSpec<Order> kSpec{"struct Order", "struct Order with 2 elements", kFields};
  return read_record(v, kSpec);
}

ReadResult<QueryPlan> QueryPlan::deserialize(json::Value& v) {
  using P = QueryPlan;
  static constexpr FieldSpec<P> kFields[] = {
      {"nodeTypes", false, [](json::Value& x, P& r) { return assign(r.node_types, read_optional(x, read_string_list)); }},
      {"attributes", false,
       [](json::Value& x, P& r) {
         return assign(r.attributes, read_optional(x, [](json::Value& y) {
                         return read_list(y, AttributeFilter::deserialize);
                       }));
       }},
      {"edgeFilter", false,
       [](json::Value& x, P& r) { return assign(r.edge_filter, read_optional(x, EdgeFilter::deserialize)); }},
      {"traversal", false,
       [](json::Value& x, P& r) {
         return assign(r.traversal,
                       read_optional(x, [](json::Value& y) { return read_list(y, TraversalStep::deserialize); }));
       }},
      {"joins", false,
       [](json::Value& x, P& r) {
         return assign(r.joins, read_optional(x, [](json::Value& y) { return read_list(y, Join::deserialize); }));
       }},
      {"similarity", false,
       [](json::Value& x, P& r) { return assign(r.similarity, read_optional(x, Similarity::deserialize)); }},
      {"order", false, [](json::Value& x, P& r) { return assign(r.order, read_optional(x, Order::deserialize)); }},
      {"offset", false, [](json::Value& x, P& r) { return assign(r.offset, read_optional(x, read_usize)); }},
      {"limit", false, [](json::Value& x, P& r) { return assign(r.limit, read_optional(x, read_usize)); }},
  };
  static constexpr RecordSpec<P> kSpec{"struct QueryPlan", "struct QueryPlan with 9 elements", kFields};
  return read_record(v, kSpec);
}

}  // namespace tarnwick::query
