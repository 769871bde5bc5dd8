#include "storage/format/record_msg.hpp"

#include <bit>
#include <cmath>
#include <cstring>

#include "storage/format/keys.hpp"
#include "storage/format/integral.hpp"

namespace tarnwick::format {

namespace {

using Pairs = std::vector<std::pair<std::string, Msg>>;


Msg str_array(const std::vector<std::string>& list) {
  Msg::Array a;
  for (const auto& s : list) a.push_back(Msg::str(s));
  return Msg::array(std::move(a));
}

Msg json_object_to_msg(const json::Object& o) {
  Msg::Map m;
  for (const auto& kv : o) m.emplace_back(Msg::str(std::string(kv.key())), json_to_msg(kv.value()));
  return Msg::map_of(std::move(m));
}

bool is_nil_or_absent(const Msg* m) { return !m || m->is(Msg::Kind::Nil); }

std::optional<double> as_double(const Msg* m) {
  if (!m) return std::nullopt;
  if (m->is(Msg::Kind::Float)) return m->as_float().value;
  if (m->is(Msg::Kind::Int)) return m->as_int().to_double();
  return std::nullopt;
}

std::optional<std::int64_t> as_i64(const Msg* m) {
  if (m && m->is(Msg::Kind::Int)) return m->as_int().to_i64();
  return std::nullopt;
}

// An integer, or an integral double (insertedAt, updatedAt, createdAt).
std::optional<std::int64_t> as_timestamp(const Msg* m) {
  if (m && m->is(Msg::Kind::Float)) return integral_i64(m->as_float().value);
  return as_i64(m);
}

Result<std::uint64_t> read_revision(const Msg& map) {
  const Msg* m = map.get(key::kRevision);
  if (is_nil_or_absent(m)) return std::uint64_t{0};
  std::optional<std::uint64_t> r;
  if (m->is(Msg::Kind::Int)) r = m->as_int().to_u64();
  if (m->is(Msg::Kind::Float)) r = integral_u64(m->as_float().value);
  if (!r) return fail(corrupt("invalid revision"));
  return *r;
}

Result<std::int64_t> read_timestamp(const Msg& map, std::string_view k) {
  auto t = as_timestamp(map.get(k));
  if (!t) return fail(corrupt("missing or invalid " + std::string(k)));
  return *t;
}

// An optional text field: absent or nil gives none.
Result<std::optional<std::string>> read_optional_text(const Msg& map, std::string_view k) {
  const Msg* m = map.get(k);
  if (is_nil_or_absent(m)) return std::optional<std::string>();
  if (!m->is(Msg::Kind::Str)) return fail(corrupt(std::string(k) + " must be a string or null"));
  return std::optional<std::string>(m->as_str());
}

Result<std::optional<std::vector<std::string>>> read_optional_texts(const Msg& map, std::string_view k) {
  const Msg* m = map.get(k);
  if (is_nil_or_absent(m)) return std::optional<std::vector<std::string>>();
  if (!m->is(Msg::Kind::Array)) return fail(corrupt(std::string(k) + " must be an array or null"));
  TARNWICK_TRY_ASSIGN(auto list, msg_vec_str(m->as_array()));
  return std::optional<std::vector<std::string>>(std::move(list));
}

Result<std::optional<json::Object>> read_data(const Msg* m, std::string_view wrong_kind) {
  if (is_nil_or_absent(m)) return std::optional<json::Object>();
  if (!m->is(Msg::Kind::Map)) return fail(corrupt(std::string(wrong_kind)));
  return std::optional<json::Object>(std::move(msg_to_json(*m).as_object()));
}

std::optional<ContextMap> read_context(const Msg* m) {
  if (!m || !m->is(Msg::Kind::Map)) return std::nullopt;
  ContextMap context;
  for (const auto& [name, entry] : m->as_map()) {
    if (!name.is(Msg::Kind::Str) || !entry.is(Msg::Kind::Map)) continue;
    auto score = as_double(entry.get(key::kScore));
    auto last = as_i64(entry.get(key::kLastMeaningfulActivation));
    if (score && last) context.set(name.as_str(), ContextActivation{*score, *last});
  }
  return context;
}

}  // namespace

// ---- writers --------------------------------------------------------------------------------

Msg packed_vector(VectorRef values, VectorPrecision precision) {
  if (precision == VectorPrecision::Float64) {
    Msg::Array a;
    std::visit([&](auto span) { for (auto v : span) a.push_back(Msg::number(static_cast<double>(v))); }, values);
    return Msg::array(std::move(a));
  }
  Bytes packed;
  std::visit(
      [&](auto span) {
        for (auto v : span) {
          const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v));
          for (int i = 0; i < 4; ++i) packed.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
        }
      },
      values);
  return Msg::map({{std::string(key::kPackedF32), Msg::bin(std::move(packed))}});
}

Msg json_to_msg(const json::Value& value) {
  switch (value.kind()) {
    case json::Kind::null: return Msg();
    case json::Kind::bool_: return Msg::boolean(value.get_bool());
    case json::Kind::int64: return Msg::integer(value.get_int64());
    case json::Kind::uint64: return Msg::unsigned_integer(value.get_uint64());
    case json::Kind::double_: return Msg::float64(value.get_double());
    case json::Kind::string: return Msg::str(std::string(value.get_string()));
    case json::Kind::array: {
      Msg::Array a;
      for (const auto& v : value.get_array()) a.push_back(json_to_msg(v));
      return Msg::array(std::move(a));
    }
    case json::Kind::object: return json_object_to_msg(value.get_object());
  }
  return Msg();
}

Msg activation_to_msg(const NodeActivation& a) {
  Pairs p;
  p.emplace_back(key::kScore, Msg::number(a.score));
  p.emplace_back(key::kImportance, Msg::number(a.importance));
  p.emplace_back(key::kReinforcementCount, Msg::unsigned_integer(a.reinforcement_count));
  p.emplace_back(key::kLastMeaningfulActivation, Msg::integer(a.last_meaningful_activation));
  if (a.inhibition) p.emplace_back(key::kInhibition, Msg::number(*a.inhibition));
  // Written whenever it is set, so that it survives a reload; with inhibition and no time of
  // its own it falls back to the last meaningful activation.
  if (a.last_inhibited_at || a.inhibition)
    p.emplace_back(key::kLastInhibitedAt, Msg::integer(a.last_inhibited_at.value_or(a.last_meaningful_activation)));
  if (a.context) {
    Msg::Map entries;
    for (const auto& [name, c] : a.context->entries())
      entries.emplace_back(Msg::str(name), Msg::map({{std::string(key::kScore), Msg::number(c.score)},
                                                     {std::string(key::kLastMeaningfulActivation),
                                                      Msg::integer(c.last_meaningful_activation)}}));
    p.emplace_back(key::kContext, Msg::map_of(std::move(entries)));
  }
  return Msg::map(std::move(p));
}

Msg node_to_msg(const Node& n, std::optional<VectorRef> vector, VectorPrecision precision) {
  Pairs p;
  p.emplace_back(key::kId, Msg::str(n.id));
  p.emplace_back(key::kType, Msg::str(n.type));
  p.emplace_back(key::kData, json_object_to_msg(n.data));
  p.emplace_back(key::kVector, vector ? packed_vector(*vector, precision) : Msg());
  p.emplace_back(key::kInsertedAt, Msg::integer(n.inserted_at));
  p.emplace_back(key::kUpdatedAt, Msg::integer(n.updated_at));
  p.emplace_back(key::kActivation, n.activation ? activation_to_msg(*n.activation) : Msg());
  if (n.revision != 0) p.emplace_back(key::kRevision, Msg::unsigned_integer(n.revision));
  if (n.memory_class) p.emplace_back(key::kMemoryClass, Msg::str(std::string(memory_class_name(*n.memory_class))));
  if (n.confidence) p.emplace_back(key::kConfidence, Msg::number(*n.confidence));
  if (n.source) p.emplace_back(key::kSource, Msg::str(*n.source));
  if (n.observed_at) p.emplace_back(key::kObservedAt, Msg::integer(*n.observed_at));
  if (n.derived_from) p.emplace_back(key::kDerivedFrom, str_array(*n.derived_from));
  if (n.supersedes) p.emplace_back(key::kSupersedes, Msg::str(*n.supersedes));
  if (n.contradicts) p.emplace_back(key::kContradicts, str_array(*n.contradicts));
  return Msg::map(std::move(p));
}

Msg edge_to_msg(const Edge& e) {
  Pairs p;
  p.emplace_back(key::kId, Msg::str(e.id));
  p.emplace_back(key::kSource, Msg::str(e.source));
  p.emplace_back(key::kTarget, Msg::str(e.target));
  p.emplace_back(key::kType, Msg::str(e.type));
  p.emplace_back(key::kData, e.data ? json_object_to_msg(*e.data) : Msg());
  p.emplace_back(key::kCreatedAt, Msg::integer(e.created_at));
  if (e.revision != 0) p.emplace_back(key::kRevision, Msg::unsigned_integer(e.revision));
  return Msg::map(std::move(p));
}

// ---- readers --------------------------------------------------------------------------------

json::Value msg_to_json(const Msg& m) {
  switch (m.kind()) {
    case Msg::Kind::Nil: return nullptr;
    case Msg::Kind::Bool: return m.as_bool();
    case Msg::Kind::Int: {
      const Msg::Int& i = m.as_int();
      if (auto u = i.to_u64()) return *u;
      return static_cast<std::int64_t>(i.bits);
    }
    case Msg::Kind::Float: {
      const double d = m.as_float().value;
      if (std::isfinite(d)) return d;
      return std::uint64_t{0};
    }
    case Msg::Kind::Bin: {
      json::Array a;
      for (std::uint8_t b : m.as_bin()) a.emplace_back(std::uint64_t{b});
      return a;
    }
    case Msg::Kind::Str: return json::String(m.as_str());
    case Msg::Kind::Array: {
      json::Array a;
      for (const Msg& item : m.as_array()) a.push_back(msg_to_json(item));
      return a;
    }
    case Msg::Kind::Map: {
      json::Object o;
      for (const auto& [k, v] : m.as_map())
        if (k.is(Msg::Kind::Str)) o.insert_or_assign(k.as_str(), msg_to_json(v));
      return o;
    }
  }
  return nullptr;
}

Result<MemoryClass> memory_class_from_str(std::string_view text) {
  if (auto c = memory_class_from_name(text)) return *c;
  return fail(corrupt("invalid memoryClass " + std::string(text)));
}

Result<std::vector<double>> msg_vec_f64(const Msg::Array& items) {
  std::vector<double> out;
  out.reserve(items.size());
  for (const Msg& item : items) {
    auto d = as_double(&item);
    if (!d) return fail(corrupt("vector element must be numeric"));
    out.push_back(*d);
  }
  return out;
}

Result<std::vector<std::string>> msg_vec_str(const Msg::Array& items) {
  std::vector<std::string> out;
  out.reserve(items.size());
  for (const Msg& item : items) {
    if (!item.is(Msg::Kind::Str)) return fail(corrupt("expected a string array element"));
    out.push_back(item.as_str());
  }
  return out;
}

Result<std::vector<double>> msg_vector_f64(const Msg& m) {
  if (m.is(Msg::Kind::Array)) return msg_vec_f64(m.as_array());
  const Msg* packed = m.get(key::kPackedF32);
  if (!packed || !packed->is(Msg::Kind::Bin))
    return fail(corrupt("vector must be a numeric array or packed Float32 map"));
  const Bytes& b = packed->as_bin();
  if (b.size() % 4 != 0) return fail(corrupt("packed Float32 vector has invalid byte length"));
  std::vector<double> out;
  out.reserve(b.size() / 4);
  for (std::size_t i = 0; i < b.size(); i += 4) {
    const std::uint32_t bits = std::uint32_t{b[i]} | std::uint32_t{b[i + 1]} << 8 | std::uint32_t{b[i + 2]} << 16 |
                               std::uint32_t{b[i + 3]} << 24;
    out.push_back(std::bit_cast<float>(bits));
  }
  return out;
}

Result<std::optional<NodeActivation>> msg_to_activation(const Msg& node_map) {
  const Msg* m = node_map.get(key::kActivation);
  if (is_nil_or_absent(m)) return std::optional<NodeActivation>();
  if (!m->is(Msg::Kind::Map)) return fail(corrupt("activation must be a map or null"));
  NodeActivation a;
  auto score = as_double(m->get(key::kScore));
  if (!score) return fail(corrupt("activation missing or invalid score"));
  auto importance = as_double(m->get(key::kImportance));
  if (!importance) return fail(corrupt("activation missing or invalid importance"));
  const Msg* count = m->get(key::kReinforcementCount);
  std::optional<std::uint64_t> reinforcement;
  if (count && count->is(Msg::Kind::Int)) reinforcement = count->as_int().to_u64();
  if (!reinforcement) return fail(corrupt("activation missing or invalid reinforcementCount"));
  auto last = as_i64(m->get(key::kLastMeaningfulActivation));
  if (!last) return fail(corrupt("activation missing or invalid lastMeaningfulActivation"));
  a.score = *score;
  a.importance = *importance;
  a.reinforcement_count = *reinforcement;
  a.last_meaningful_activation = *last;
  a.inhibition = as_double(m->get(key::kInhibition));
  a.last_inhibited_at = as_i64(m->get(key::kLastInhibitedAt));
  a.context = read_context(m->get(key::kContext));
  return std::optional<NodeActivation>(std::move(a));
}

Result<Node> msg_to_node(const Msg& m) {
  Node n;
  const Msg* id = m.get(key::kId);
  if (!id || !id->is(Msg::Kind::Str)) return fail(corrupt("node missing id"));
  n.id = id->as_str();
  const Msg* type = m.get(key::kType);
  if (!type || !type->is(Msg::Kind::Str)) return fail(corrupt("node missing type"));
  n.type = type->as_str();

  TARNWICK_TRY_ASSIGN(auto data, read_data(m.get(key::kData), "node data must be a map"));
  if (data) n.data = std::move(*data);

  const Msg* vector = m.get(key::kVector);
  if (!is_nil_or_absent(vector)) {
    if (!vector->is(Msg::Kind::Array) && !vector->is(Msg::Kind::Map))
      return fail(corrupt("node vector must be an array or null"));
    TARNWICK_TRY_ASSIGN(auto values, msg_vector_f64(*vector));
    n.vector = std::move(values);
  }

  TARNWICK_TRY_ASSIGN(auto inserted, read_timestamp(m, key::kInsertedAt));
  n.inserted_at = inserted;
  TARNWICK_TRY_ASSIGN(auto updated, read_timestamp(m, key::kUpdatedAt));
  n.updated_at = updated;
  TARNWICK_TRY_ASSIGN(auto revision, read_revision(m));
  n.revision = revision;

  TARNWICK_TRY_ASSIGN(auto activation, msg_to_activation(m));
  n.activation = std::move(activation);

  const Msg* memory_class = m.get(key::kMemoryClass);
  if (!is_nil_or_absent(memory_class)) {
    if (!memory_class->is(Msg::Kind::Str)) return fail(corrupt("memoryClass must be a string or null"));
    TARNWICK_TRY_ASSIGN(auto c, memory_class_from_str(memory_class->as_str()));
    n.memory_class = c;
  }

  const Msg* confidence = m.get(key::kConfidence);
  if (!is_nil_or_absent(confidence)) {
    n.confidence = as_double(confidence);
    if (!n.confidence) return fail(corrupt("confidence must be a number or null"));
  }

  TARNWICK_TRY_ASSIGN(auto source, read_optional_text(m, key::kSource));
  n.source = std::move(source);

  const Msg* observed = m.get(key::kObservedAt);
  if (!is_nil_or_absent(observed)) {
    n.observed_at = as_i64(observed);
    if (!n.observed_at) return fail(corrupt("observedAt must be an integer or null"));
  }

  TARNWICK_TRY_ASSIGN(auto derived, read_optional_texts(m, key::kDerivedFrom));
  n.derived_from = std::move(derived);
  TARNWICK_TRY_ASSIGN(auto supersedes, read_optional_text(m, key::kSupersedes));
  n.supersedes = std::move(supersedes);
  TARNWICK_TRY_ASSIGN(auto contradicts, read_optional_texts(m, key::kContradicts));
  n.contradicts = std::move(contradicts);
  return n;
}

Result<Edge> msg_to_edge(const Msg& m) {
  Edge e;
  const std::pair<std::string_view, std::string*> texts[] = {
      {key::kId, &e.id}, {key::kSource, &e.source}, {key::kTarget, &e.target}, {key::kType, &e.type}};
  for (const auto& [k, field] : texts) {
    const Msg* v = m.get(k);
    if (!v || !v->is(Msg::Kind::Str)) return fail(corrupt("edge missing " + std::string(k)));
    *field = v->as_str();
  }
  TARNWICK_TRY_ASSIGN(auto data, read_data(m.get(key::kData), "edge data must be a map or null"));
  e.data = std::move(data);
  TARNWICK_TRY_ASSIGN(auto created, read_timestamp(m, key::kCreatedAt));
  e.created_at = created;
  TARNWICK_TRY_ASSIGN(auto revision, read_revision(m));
  e.revision = revision;
  return e;
}

}  // namespace tarnwick::format
