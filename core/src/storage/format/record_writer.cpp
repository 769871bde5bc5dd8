#include "storage/format/record_writer.hpp"

#include <bit>

#include "storage/format/keys.hpp"

namespace tarnwick::format {

using msgpack::Writer;

namespace {

void write_json(const json::Value& v, std::size_t depth, Writer& out);

void write_object(const json::Object& o, std::size_t depth, Writer& out) {
  if (!msgpack::check_depth(depth, out)) return;
  msgpack::encode_map_header(o.size(), out);
  for (const auto& kv : o) {
    msgpack::encode_str(kv.key(), out);
    write_json(kv.value(), depth + 1, out);
  }
}

// `depth` is the level this value has when it is a container.
void write_json(const json::Value& v, std::size_t depth, Writer& out) {
  switch (v.kind()) {
    case json::Kind::null: return msgpack::encode_nil(out);
    case json::Kind::bool_: return msgpack::encode_bool(v.get_bool(), out);
    case json::Kind::int64: return msgpack::encode_int(v.get_int64(), out);
    case json::Kind::uint64: return msgpack::encode_uint(v.get_uint64(), out);
    case json::Kind::double_: return msgpack::encode_float64(v.get_double(), out);
    case json::Kind::string: return msgpack::encode_str(v.get_string(), out);
    case json::Kind::array:
      if (!msgpack::check_depth(depth, out)) return;
      msgpack::encode_array_header(v.get_array().size(), out);
      for (const auto& item : v.get_array()) write_json(item, depth + 1, out);
      return;
    case json::Kind::object: return write_object(v.get_object(), depth, out);
  }
}

void write_strings(const std::vector<std::string>& list, Writer& out) {
  msgpack::encode_array_header(list.size(), out);
  for (const auto& s : list) msgpack::encode_str(s, out);
}

template <class T>
void write_packed(std::span<const T> values, Writer& out) {
  if (!msgpack::encode_bin_header(values.size() * 4, out)) return;
  std::uint8_t* p = out.extend(values.size() * 4);
  if constexpr (std::is_same_v<T, float> && std::endian::native == std::endian::little) {
    if (!values.empty()) std::memcpy(p, values.data(), values.size() * 4);
  } else {
    for (T v : values) {
      const auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(v));
      for (int i = 0; i < 4; ++i) *p++ = static_cast<std::uint8_t>(bits >> (8 * i));
    }
  }
}

void write_activation(const NodeActivation& a, Writer& out) {
  const bool has_inhibited_at = a.inhibition || a.last_inhibited_at;
  msgpack::encode_map_header(4 + (a.inhibition ? 1 : 0) + (has_inhibited_at ? 1 : 0) + (a.context ? 1 : 0), out);
  msgpack::encode_str(key::kScore, out);
  msgpack::encode_number(a.score, out);
  msgpack::encode_str(key::kImportance, out);
  msgpack::encode_number(a.importance, out);
  msgpack::encode_str(key::kReinforcementCount, out);
  msgpack::encode_uint(a.reinforcement_count, out);
  msgpack::encode_str(key::kLastMeaningfulActivation, out);
  msgpack::encode_int(a.last_meaningful_activation, out);
  if (a.inhibition) {
    msgpack::encode_str(key::kInhibition, out);
    msgpack::encode_number(*a.inhibition, out);
  }
  if (has_inhibited_at) {
    msgpack::encode_str(key::kLastInhibitedAt, out);
    msgpack::encode_int(a.last_inhibited_at.value_or(a.last_meaningful_activation), out);
  }
  if (a.context) {
    msgpack::encode_str(key::kContext, out);
    msgpack::encode_map_header(a.context->size(), out);
    for (const auto& [name, c] : a.context->entries()) {
      msgpack::encode_str(name, out);
      msgpack::encode_map_header(2, out);
      msgpack::encode_str(key::kScore, out);
      msgpack::encode_number(c.score, out);
      msgpack::encode_str(key::kLastMeaningfulActivation, out);
      msgpack::encode_int(c.last_meaningful_activation, out);
    }
  }
}

}  // namespace

void write_vector(VectorRef values, VectorPrecision precision, std::size_t depth, Writer& out) {
  if (!msgpack::check_depth(depth, out)) return;
  std::visit(
      [&](auto span) {
        if (precision == VectorPrecision::Float64) {
          msgpack::encode_array_header(span.size(), out);
          const std::size_t room = span.size() * msgpack::kMaxNumberSize;
          std::uint8_t* const start = out.extend(room);
          std::uint8_t* p = start;
          for (auto v : span) p = msgpack::put_number(static_cast<double>(v), p);
          out.give_back(room - static_cast<std::size_t>(p - start));
        } else {
          msgpack::encode_map_header(1, out);
          msgpack::encode_str(key::kPackedF32, out);
          write_packed(span, out);
        }
      },
      values);
}

void write_node(const NodeFields& n, std::optional<VectorRef> vector, VectorPrecision precision, std::size_t depth,
                Writer& out) {
  static const Node kNoTail;
  const Node& t = n.tail ? *n.tail : kNoTail;
  const std::size_t optional_keys = (n.revision != 0) + t.memory_class.has_value() + t.confidence.has_value() +
                                    t.source.has_value() + t.observed_at.has_value() + t.derived_from.has_value() +
                                    t.supersedes.has_value() + t.contradicts.has_value();
  msgpack::encode_map_header(7 + optional_keys, out);
  msgpack::encode_str(key::kId, out);
  msgpack::encode_str(n.id, out);
  msgpack::encode_str(key::kType, out);
  msgpack::encode_str(n.type, out);
  msgpack::encode_str(key::kData, out);
  if (n.data)
    write_object(*n.data, depth + 1, out);
  else if (msgpack::check_depth(depth + n.packed_depth, out))
    out.put(n.packed_data.data(), n.packed_data.size());
  msgpack::encode_str(key::kVector, out);
  if (vector) {
    write_vector(*vector, precision, depth + 1, out);
  } else {
    msgpack::encode_nil(out);
  }
  msgpack::encode_str(key::kInsertedAt, out);
  msgpack::encode_int(n.inserted_at, out);
  msgpack::encode_str(key::kUpdatedAt, out);
  msgpack::encode_int(n.updated_at, out);
  msgpack::encode_str(key::kActivation, out);
  if (t.activation) {
    write_activation(*t.activation, out);
  } else {
    msgpack::encode_nil(out);
  }
  if (n.revision != 0) {
    msgpack::encode_str(key::kRevision, out);
    msgpack::encode_uint(n.revision, out);
  }
  if (t.memory_class) {
    msgpack::encode_str(key::kMemoryClass, out);
    msgpack::encode_str(memory_class_name(*t.memory_class), out);
  }
  if (t.confidence) {
    msgpack::encode_str(key::kConfidence, out);
    msgpack::encode_number(*t.confidence, out);
  }
  if (t.source) {
    msgpack::encode_str(key::kSource, out);
    msgpack::encode_str(*t.source, out);
  }
  if (t.observed_at) {
    msgpack::encode_str(key::kObservedAt, out);
    msgpack::encode_int(*t.observed_at, out);
  }
  if (t.derived_from) {
    msgpack::encode_str(key::kDerivedFrom, out);
    write_strings(*t.derived_from, out);
  }
  if (t.supersedes) {
    msgpack::encode_str(key::kSupersedes, out);
    msgpack::encode_str(*t.supersedes, out);
  }
  if (t.contradicts) {
    msgpack::encode_str(key::kContradicts, out);
    write_strings(*t.contradicts, out);
  }
}

NodeFields fields_of(const Node& n) {
  return {n.id, n.type, &n.data, {}, 1, n.inserted_at, n.updated_at, n.revision, &n};
}

void write_node(const Node& n, std::optional<VectorRef> vector, VectorPrecision precision, std::size_t depth,
                Writer& out) {
  write_node(fields_of(n), vector, precision, depth, out);
}

void write_data_object(const json::Object& data, Writer& out) { write_object(data, 1, out); }

void write_edge(const Edge& e, std::size_t depth, Writer& out) {
  msgpack::encode_map_header(6 + (e.revision != 0), out);
  msgpack::encode_str(key::kId, out);
  msgpack::encode_str(e.id, out);
  msgpack::encode_str(key::kSource, out);
  msgpack::encode_str(e.source, out);
  msgpack::encode_str(key::kTarget, out);
  msgpack::encode_str(e.target, out);
  msgpack::encode_str(key::kType, out);
  msgpack::encode_str(e.type, out);
  msgpack::encode_str(key::kData, out);
  if (e.data) {
    write_object(*e.data, depth + 1, out);
  } else {
    msgpack::encode_nil(out);
  }
  msgpack::encode_str(key::kCreatedAt, out);
  msgpack::encode_int(e.created_at, out);
  if (e.revision != 0) {
    msgpack::encode_str(key::kRevision, out);
    msgpack::encode_uint(e.revision, out);
  }
}

}  // namespace tarnwick::format
