#pragma once
// The JSON object forms of the records, described once as a stream of events to a sink: a
// json::TextWriter prints them (a mutation-log line), a json::ValueBuilder builds the value
// (serialize()). Keys come in field order; optional fields that are absent leave no key; doubles
// are written as numbers (non-finite ones as null), integers with their own signedness.
//
// A sink offers begin_object, end_object, begin_array, end_array, key, null, string, int64,
// uint64, number, object (a JSON object as it is) and doubles (a record's vector: an array of
// numbers, or whatever form the sink gives vectors).

#include <span>
#include <string>
#include <vector>

#include "model/records.hpp"

namespace tarnwick {

namespace record_json_detail {
template <class Sink>
void strings(Sink& s, const std::vector<std::string>& list) {
  s.begin_array();
  for (const std::string& text : list) s.string(text);
  s.end_array();
}
}  // namespace record_json_detail

template <class Sink>
void write_json(Sink& s, const ContextActivation& a) {
  s.begin_object();
  s.key("score");
  s.number(a.score);
  s.key("lastMeaningfulActivation");
  s.int64(a.last_meaningful_activation);
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const NodeActivation& a) {
  s.begin_object();
  s.key("score");
  s.number(a.score);
  s.key("importance");
  s.number(a.importance);
  s.key("reinforcementCount");
  s.uint64(a.reinforcement_count);
  s.key("lastMeaningfulActivation");
  s.int64(a.last_meaningful_activation);
  if (a.inhibition) {
    s.key("inhibition");
    s.number(*a.inhibition);
  }
  if (a.last_inhibited_at) {
    s.key("lastInhibitedAt");
    s.int64(*a.last_inhibited_at);
  }
  if (a.context) {
    s.key("context");
    s.begin_object();
    for (const auto& [name, context] : a.context->entries()) {
      s.key(name);
      write_json(s, context);
    }
    s.end_object();
  }
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const Node& n) {
  s.begin_object();
  s.key("id");
  s.string(n.id);
  s.key("type");
  s.string(n.type);
  s.key("data");
  s.object(n.data);
  s.key("vector");
  if (n.vector) {
    s.doubles(*n.vector);
  } else {
    s.null();
  }
  s.key("insertedAt");
  s.int64(n.inserted_at);
  s.key("updatedAt");
  s.int64(n.updated_at);
  s.key("revision");
  s.uint64(n.revision);
  if (n.activation) {
    s.key("activation");
    write_json(s, *n.activation);
  }
  if (n.memory_class) {
    s.key("memoryClass");
    s.string(memory_class_name(*n.memory_class));
  }
  if (n.confidence) {
    s.key("confidence");
    s.number(*n.confidence);
  }
  if (n.source) {
    s.key("source");
    s.string(*n.source);
  }
  if (n.observed_at) {
    s.key("observedAt");
    s.int64(*n.observed_at);
  }
  if (n.derived_from) {
    s.key("derivedFrom");
    record_json_detail::strings(s, *n.derived_from);
  }
  if (n.supersedes) {
    s.key("supersedes");
    s.string(*n.supersedes);
  }
  if (n.contradicts) {
    s.key("contradicts");
    record_json_detail::strings(s, *n.contradicts);
  }
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const Edge& e) {
  s.begin_object();
  s.key("id");
  s.string(e.id);
  s.key("source");
  s.string(e.source);
  s.key("target");
  s.string(e.target);
  s.key("type");
  s.string(e.type);
  s.key("data");
  if (e.data) {
    s.object(*e.data);
  } else {
    s.null();
  }
  s.key("createdAt");
  s.int64(e.created_at);
  s.key("revision");
  s.uint64(e.revision);
  s.end_object();
}

template <class Sink>
void write_json(Sink& s, const VectorEntry& v) {
  s.begin_object();
  s.key("id");
  s.string(v.id);
  s.key("vector");
  s.doubles(v.vector);
  s.end_object();
}

}  // namespace tarnwick
