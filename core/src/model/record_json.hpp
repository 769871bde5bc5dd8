#pragma once
// The JSON object forms of the records, described once as a stream of events to a sink: a
// json::TextWriter prints them (a mutation-log line), a json::ValueBuilder builds the value
// (serialize()). Keys come in field order; optional fields that are absent leave no key; doubles
// are written as numbers (non-finite ones as null), integers with their own signedness.
//
// A sink offers begin_object, end_object, begin_array, end_array, key, null, string, int64,
// uint64, number, object (a JSON object as it is) and doubles (a record's vector: an array of
// numbers, or whatever form the sink gives vectors).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/records.hpp"

namespace tarnwick {

template <class Sink>
void write_json(Sink& s, const ContextActivation& a);
template <class Sink>
void write_json(Sink& s, const NodeActivation& a);

namespace record_json_detail {

// One key and its value, the value written by the overload for its field type.
template <class Sink>
void value(Sink& s, const std::string& text) {
  s.string(text);
}
template <class Sink>
void value(Sink& s, std::int64_t i) {
  s.int64(i);
}
template <class Sink>
void value(Sink& s, std::uint64_t u) {
  s.uint64(u);
}
template <class Sink>
void value(Sink& s, double d) {
  s.number(d);
}
template <class Sink>
void value(Sink& s, MemoryClass c) {
  s.string(memory_class_name(c));
}
template <class Sink>
void value(Sink& s, const std::vector<std::string>& list) {
  s.begin_array();
  for (const std::string& text : list) s.string(text);
  s.end_array();
}
template <class Sink, class Nested>
  requires requires(Sink& s, const Nested& n) { write_json(s, n); }
void value(Sink& s, const Nested& nested) {
  write_json(s, nested);
}

template <class Sink, class T>
void field(Sink& s, std::string_view key, const T& v) {
  s.key(key);
  value(s, v);
}
template <class Sink, class T>
void optional_field(Sink& s, std::string_view key, const std::optional<T>& v) {
  if (v) field(s, key, *v);
}

}  // namespace record_json_detail

template <class Sink>
void write_json(Sink& s, const ContextActivation& a) {
  using namespace record_json_detail;
  s.begin_object();
  field(s, "score", a.score);
  field(s, "lastMeaningfulActivation", a.last_meaningful_activation);
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const NodeActivation& a) {
  using namespace record_json_detail;
  s.begin_object();
  field(s, "score", a.score);
  field(s, "importance", a.importance);
  field(s, "reinforcementCount", a.reinforcement_count);
  field(s, "lastMeaningfulActivation", a.last_meaningful_activation);
  optional_field(s, "inhibition", a.inhibition);
  optional_field(s, "lastInhibitedAt", a.last_inhibited_at);
  if (a.context) {
    s.key("context");
    s.begin_object();
    for (const auto& [name, context] : a.context->entries()) field(s, name, context);
    s.end_object();
  }
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const Node& n) {
  using namespace record_json_detail;
  s.begin_object();
  field(s, "id", n.id);
  field(s, "type", n.type);
  s.key("data");
  s.object(n.data);
  s.key("vector");
  if (n.vector) {
    s.doubles(*n.vector);
  } else {
    s.null();
  }
  field(s, "insertedAt", n.inserted_at);
  field(s, "updatedAt", n.updated_at);
  field(s, "revision", n.revision);
  optional_field(s, "activation", n.activation);
  optional_field(s, "memoryClass", n.memory_class);
  optional_field(s, "confidence", n.confidence);
  optional_field(s, "source", n.source);
  optional_field(s, "observedAt", n.observed_at);
  optional_field(s, "derivedFrom", n.derived_from);
  optional_field(s, "supersedes", n.supersedes);
  optional_field(s, "contradicts", n.contradicts);
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const Edge& e) {
  using namespace record_json_detail;
  s.begin_object();
  field(s, "id", e.id);
  field(s, "source", e.source);
  field(s, "target", e.target);
  field(s, "type", e.type);
  s.key("data");
  if (e.data) {
    s.object(*e.data);
  } else {
    s.null();
  }
  field(s, "createdAt", e.created_at);
  field(s, "revision", e.revision);
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const VectorEntry& v) {
  using namespace record_json_detail;
  s.begin_object();
  field(s, "id", v.id);
  s.key("vector");
  s.doubles(v.vector);
  s.end_object();
}

}  // namespace tarnwick
