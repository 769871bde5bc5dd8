#include "model/records.hpp"

#include <array>

#include "json/value_builder.hpp"
#include "model/record_json.hpp"

namespace tarnwick {

namespace {

constexpr std::array<std::string_view, 4> kMemoryClassNames = {"episodic", "semantic", "procedural", "entity"};
constexpr std::string_view kMemoryClassExpected = "one of `episodic`, `semantic`, `procedural`, `entity`";

template <class Record>
json::Value built(const Record& r) {
  json::ValueBuilder builder;
  write_json(builder, r);
  return builder.take();
}

}  // namespace

// ---- MemoryClass ----------------------------------------------------------------------------

std::string_view memory_class_name(MemoryClass c) { return kMemoryClassNames[static_cast<std::size_t>(c)]; }

std::optional<MemoryClass> memory_class_from_name(std::string_view name) {
  for (std::size_t i = 0; i < kMemoryClassNames.size(); ++i)
    if (kMemoryClassNames[i] == name) return static_cast<MemoryClass>(i);
  return std::nullopt;
}

ReadResult<MemoryClass> read_memory_class(json::Value& v) {
  TARNWICK_TRY_ASSIGN(auto index, read_unit_variant(v, kMemoryClassNames, kMemoryClassExpected));
  return static_cast<MemoryClass>(index);
}

// ---- ContextActivation and ContextMap -------------------------------------------------------

json::Value ContextActivation::serialize() const { return built(*this); }

ReadResult<ContextActivation> ContextActivation::deserialize(json::Value& v) {
  static constexpr FieldSpec<ContextActivation> kFields[] = {
      {"score", true, [](json::Value& x, ContextActivation& r) { return assign(r.score, read_f64(x)); }},
      {"lastMeaningfulActivation", true,
       [](json::Value& x, ContextActivation& r) { return assign(r.last_meaningful_activation, read_i64(x)); }},
  };
  static constexpr RecordSpec<ContextActivation> kSpec{"struct ContextActivation",
                                                       "struct ContextActivation with 2 elements", kFields};
  return read_record(v, kSpec);
}

std::size_t ContextMap::position(std::string_view key) const {
  if (index_) {
    const auto it = index_->find(key);
    return it == index_->end() ? entries_.size() : it->second;
  }
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (entries_[i].first == key) return i;
  return entries_.size();
}

void ContextMap::set(std::string key, ContextActivation value) {
  if (const std::size_t i = position(key); i < entries_.size()) {
    entries_[i].second = value;
    return;
  }
  entries_.emplace_back(std::move(key), value);
  if (index_) {
    index_->emplace(entries_.back().first, entries_.size() - 1);
  } else if (entries_.size() == kIndexedFrom) {
    index_.emplace();
    for (std::size_t i = 0; i < entries_.size(); ++i) index_->emplace(entries_[i].first, i);
  }
}

const ContextActivation* ContextMap::find(std::string_view key) const {
  const std::size_t i = position(key);
  return i < entries_.size() ? &entries_[i].second : nullptr;
}

namespace {

ReadResult<ContextMap> read_context_map(json::Value& v) {
  json::Object* o = v.if_object();
  if (!o) return invalid_type(v, "a map");
  ContextMap map;
  for (auto& kv : *o) {
    TARNWICK_TRY_ASSIGN(auto a, ContextActivation::deserialize(kv.value()));
    map.set(std::string(kv.key()), a);
  }
  return map;
}

}  // namespace

// ---- NodeActivation -------------------------------------------------------------------------

json::Value NodeActivation::serialize() const { return built(*this); }

ReadResult<NodeActivation> NodeActivation::deserialize(json::Value& v) {
  using A = NodeActivation;
  static constexpr FieldSpec<A> kFields[] = {
      {"score", true, [](json::Value& x, A& r) { return assign(r.score, read_f64(x)); }},
      {"importance", true, [](json::Value& x, A& r) { return assign(r.importance, read_f64(x)); }},
      {"reinforcementCount", true, [](json::Value& x, A& r) { return assign(r.reinforcement_count, read_u64(x)); }},
      {"lastMeaningfulActivation", true,
       [](json::Value& x, A& r) { return assign(r.last_meaningful_activation, read_i64(x)); }},
      {"inhibition", false, [](json::Value& x, A& r) { return assign(r.inhibition, read_optional(x, read_f64)); }},
      {"lastInhibitedAt", false,
       [](json::Value& x, A& r) { return assign(r.last_inhibited_at, read_optional(x, read_i64)); }},
      {"context", false,
       [](json::Value& x, A& r) { return assign(r.context, read_optional(x, read_context_map)); }},
  };
  static constexpr RecordSpec<A> kSpec{"struct NodeActivation", "struct NodeActivation with 7 elements", kFields};
  return read_record(v, kSpec);
}

// ---- Node -----------------------------------------------------------------------------------

json::Value Node::serialize() const { return built(*this); }

ReadResult<Node> Node::deserialize(json::Value& v) {
  static constexpr FieldSpec<Node> kFields[] = {
      {"id", true, [](json::Value& x, Node& r) { return assign(r.id, read_string(x)); }},
      {"type", true, [](json::Value& x, Node& r) { return assign(r.type, read_string(x)); }},
      {"data", false, [](json::Value& x, Node& r) { return assign(r.data, read_object(x)); }},
      {"vector", false, [](json::Value& x, Node& r) { return assign(r.vector, read_optional(x, read_f64_list)); }},
      {"insertedAt", true, [](json::Value& x, Node& r) { return assign(r.inserted_at, read_i64(x)); }},
      {"updatedAt", true, [](json::Value& x, Node& r) { return assign(r.updated_at, read_i64(x)); }},
      {"revision", false, [](json::Value& x, Node& r) { return assign(r.revision, read_u64(x)); }},
      {"activation", false,
       [](json::Value& x, Node& r) { return assign(r.activation, read_optional(x, NodeActivation::deserialize)); }},
      {"memoryClass", false,
       [](json::Value& x, Node& r) { return assign(r.memory_class, read_optional(x, read_memory_class)); }},
      {"confidence", false, [](json::Value& x, Node& r) { return assign(r.confidence, read_optional(x, read_f64)); }},
      {"source", false, [](json::Value& x, Node& r) { return assign(r.source, read_optional(x, read_string)); }},
      {"observedAt", false, [](json::Value& x, Node& r) { return assign(r.observed_at, read_optional(x, read_i64)); }},
      {"derivedFrom", false,
       [](json::Value& x, Node& r) { return assign(r.derived_from, read_optional(x, read_string_list)); }},
      {"supersedes", false, [](json::Value& x, Node& r) { return assign(r.supersedes, read_optional(x, read_string)); }},
      {"contradicts", false,
       [](json::Value& x, Node& r) { return assign(r.contradicts, read_optional(x, read_string_list)); }},
  };
  static constexpr RecordSpec<Node> kSpec{"struct Node", "struct Node with 15 elements", kFields};
  return read_record(v, kSpec);
}

// ---- Edge -----------------------------------------------------------------------------------

json::Value Edge::serialize() const { return built(*this); }

ReadResult<Edge> Edge::deserialize(json::Value& v) {
  static constexpr FieldSpec<Edge> kFields[] = {
      {"id", true, [](json::Value& x, Edge& r) { return assign(r.id, read_string(x)); }},
      {"source", true, [](json::Value& x, Edge& r) { return assign(r.source, read_string(x)); }},
      {"target", true, [](json::Value& x, Edge& r) { return assign(r.target, read_string(x)); }},
      {"type", true, [](json::Value& x, Edge& r) { return assign(r.type, read_string(x)); }},
      {"data", false, [](json::Value& x, Edge& r) { return assign(r.data, read_optional(x, read_object)); }},
      {"createdAt", true, [](json::Value& x, Edge& r) { return assign(r.created_at, read_i64(x)); }},
      {"revision", false, [](json::Value& x, Edge& r) { return assign(r.revision, read_u64(x)); }},
  };
  static constexpr RecordSpec<Edge> kSpec{"struct Edge", "struct Edge with 7 elements", kFields};
  return read_record(v, kSpec);
}

// ---- VectorEntry ----------------------------------------------------------------------------

json::Value VectorEntry::serialize() const { return built(*this); }

ReadResult<VectorEntry> VectorEntry::deserialize(json::Value& v) {
  static constexpr FieldSpec<VectorEntry> kFields[] = {
      {"id", true, [](json::Value& x, VectorEntry& r) { return assign(r.id, read_string(x)); }},
      {"vector", true, [](json::Value& x, VectorEntry& r) { return assign(r.vector, read_f64_list(x)); }},
  };
  static constexpr RecordSpec<VectorEntry> kSpec{"struct VectorEntry", "struct VectorEntry with 2 elements", kFields};
  return read_record(v, kSpec);
}

}  // namespace tarnwick
