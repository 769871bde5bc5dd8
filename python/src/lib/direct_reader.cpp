#include "lib/direct_reader.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "json/json.hpp"
#include "lib/field_names.hpp"
#include "lib/json_bridge.hpp"
#include "model/records.hpp"

namespace tarnwick::py {

namespace {

using Stop = std::unexpected<DirectStop>;
Stop declined() { return std::unexpected(DirectStop::Declined); }

// A C-API failure inside the reader. The failures the general conversion reports itself (a
// str that UTF-8 cannot encode, the recursion limit) are dropped and the reader declines;
// anything else (MemoryError) stays pending and passes up unchanged.
Stop stop_on_error() {
  if (PyErr_ExceptionMatches(PyExc_UnicodeEncodeError) || PyErr_ExceptionMatches(PyExc_RecursionError)) {
    PyErr_Clear();
    return declined();
  }
  return std::unexpected(DirectStop::Raised);
}

// Passes a failed DirectResult on from a function that returns one.
#define DIRECT_TRY(expr)                                                                \
  do {                                                                                  \
    if (auto direct_try_r = (expr); !direct_try_r) return Stop(direct_try_r.error());   \
  } while (false)

// The UTF-8 text of an exact str.
DirectResult<std::string_view> text_of(PyObject* str) {
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(str, &size);
  if (text == nullptr) return stop_on_error();
  return std::string_view(text, static_cast<std::size_t>(size));
}

// The UTF-8 text of a field's value, which must be an exact str.
DirectResult<std::string_view> exact_text(PyObject* v) {
  if (!PyUnicode_CheckExact(v)) return declined();
  return text_of(v);
}

// An exact int within the signed 64-bit range. Larger ints take the general route, which
// turns them into unsigned integers or doubles.
std::optional<std::int64_t> small_int(PyObject* object) {
  if (!PyLong_CheckExact(object)) return std::nullopt;
  int overflow = 0;
  const long long n = PyLong_AsLongLongAndOverflow(object, &overflow);
  if (overflow != 0) return std::nullopt;
  return static_cast<std::int64_t>(n);
}

// An exact float (NaN and infinities included) or a small exact int, as a double.
std::optional<double> number_of(PyObject* object) {
  if (PyFloat_CheckExact(object)) return PyFloat_AsDouble(object);
  if (const auto n = small_int(object)) return static_cast<double>(*n);
  return std::nullopt;
}

bool finite(double d) { return d - d == 0.0; }

// Calls `visit(key, value)` for each entry of a dict, in order; declines at a key that is not an
// exact str.
template <class F>
DirectResult<void> each_entry(PyObject* dict, F&& visit) {
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* item = nullptr;
  while (PyDict_Next(dict, &position, &key, &item)) {
    if (!PyUnicode_CheckExact(key)) return declined();
    DIRECT_TRY(visit(key, item));
  }
  return {};
}

// Which fields of each record must be given, by field; those not listed need not be.
constexpr std::array<bool, kNodeFields> kNodeRequired{true, true, false, false, true, true};
constexpr std::array<bool, kEdgeFields> kEdgeRequired{true, true, true, true, false, true, false};
constexpr std::array<bool, kActivationFields> kActivationRequired{true, true, true, true};
constexpr std::array<bool, kContextFields> kContextRequired{true, true};
constexpr std::array<bool, kVectorEntryFields> kVectorEntryRequired{true, true};

// Reads values and records as the general conversion and the record readers would, each into
// `out` when one is given and only checked when not. Records fill either record structs or
// snapshot columns (keeping only what the projection names); nothing is built for what is
// only checked.
class Reader {
 public:
  explicit Reader(query::SnapshotColumns* columns = nullptr) : c_(columns) {
    if (c_) row_.resize(c_->fields.size());
  }

  // Any value the general conversion takes to a JSON value.
  DirectResult<void> value(PyObject* object, json::Value* out);

  DirectResult<void> node(PyObject* object, Node* out);
  DirectResult<void> edge(PyObject* object, Edge* out);
  DirectResult<void> vector_entry(PyObject* object, VectorEntry* out);

  // Into the snapshot columns; edges are only checked when the projection keeps none.
  DirectResult<void> node_columns(PyObject* object);
  DirectResult<void> edge_columns(PyObject* object);

 private:
  // One level of nesting, counted as the general conversion counts it, so that the reader
  // declines wherever that conversion would stop.
  template <class F>
  DirectResult<void> nested(F&& read) {
    if (depth_ == kMaxConvertDepth) return declined();
    if (Py_EnterRecursiveCall(" while converting a value") != 0) return stop_on_error();
    ++depth_;
    auto r = read();
    --depth_;
    Py_LeaveRecursiveCall();
    return r;
  }

  template <class F>
  DirectResult<void> each_element(PyObject* object, F&& visit);

  // A record dict: every key is matched against `names`, every known field's value handed to
  // `field(f, value)`, every other value checked as any value; a missing required field declines.
  template <std::size_t N, class Field>
  DirectResult<void> record(PyObject* object, FieldNames<N>& names, const std::array<bool, N>& required,
                            Field&& field);

  DirectResult<void> node_field(std::size_t f, PyObject* v, Node* out);
  DirectResult<void> edge_field(std::size_t f, PyObject* v, Edge* out);

  // Field values. Texts, lists and objects are exact built-in types; numbers exact floats or
  // ints within the signed 64-bit range.
  DirectResult<void> text(PyObject* v, std::string* out);
  DirectResult<void> f64(PyObject* v, double* out);
  DirectResult<void> i64(PyObject* v, std::int64_t* out);
  DirectResult<void> u64(PyObject* v, std::uint64_t* out);
  DirectResult<void> text_list(PyObject* v, std::vector<std::string>* out);
  DirectResult<void> f64_list(PyObject* v, std::vector<double>* out);
  DirectResult<void> object(PyObject* v, json::Object* out);
  DirectResult<void> activation(PyObject* v, NodeActivation* out);
  DirectResult<void> context_activation(PyObject* v, ContextActivation* out);
  DirectResult<void> context(PyObject* v, ContextMap* out);
  DirectResult<void> memory_class(PyObject* v, MemoryClass* out);
  // None is absent; anything else is read by `read`.
  template <class T>
  DirectResult<void> optional(PyObject* v, std::optional<T>* out, DirectResult<void> (Reader::*read)(PyObject*, T*));
  // None, or a number: NaN and infinities become null, which reads as absent too.
  DirectResult<void> optional_f64(PyObject* v, std::optional<double>* out);

  // A node's data and vector into the snapshot columns.
  DirectResult<void> projected_data(PyObject* v);
  DirectResult<void> kept_vector(PyObject* v);

  // The projected slot a str names as a data key (kNoSlot: none), remembered by the str's
  // address. Every object the reader meets stays alive and unchanged for the whole call, since
  // no Python code runs, so an address seen again is the same str, already found encodable.
  static constexpr std::uint32_t kNoSlot = UINT32_MAX;
  struct KnownText {
    PyObject* str = nullptr;
    std::uint32_t slot = kNoSlot;
  };
  DirectResult<std::uint32_t> known_text(PyObject* str);

  query::SnapshotColumns* c_;
  std::array<KnownText, 1024> known_{};
  std::vector<json::Value> row_;  // the current node's projected values, by slot
  std::optional<query::VectorSpan> vector_;
  int depth_ = 0;
};

DirectResult<void> Reader::value(PyObject* o, json::Value* out) {
  if (PyDict_CheckExact(o)) return object(o, out ? &out->emplace_object() : nullptr);
  if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) {
    json::Array* elements = out ? &out->emplace_array() : nullptr;
    return nested([&] {
      return each_element(o, [&](PyObject* e) {
        return value(e, elements ? &elements->emplace_back(nullptr) : nullptr);
      });
    });
  }
  if (o == Py_None) {
    if (out) *out = json::Value(nullptr);
  } else if (PyBool_Check(o)) {
    if (out) *out = json::Value(o == Py_True);
  } else if (PyFloat_CheckExact(o)) {
    if (out) *out = json::number(PyFloat_AsDouble(o));
  } else if (PyLong_CheckExact(o)) {
    const auto n = small_int(o);
    if (!n) return declined();
    if (out) *out = *n < 0 ? json::Value(*n) : json::Value(static_cast<std::uint64_t>(*n));
  } else if (PyUnicode_CheckExact(o)) {
    if (!out) {
      DIRECT_TRY(known_text(o));
      return {};
    }
    const auto text = text_of(o);
    if (!text) return Stop(text.error());
    *out = json::Value(json::String(*text));
  } else {
    return declined();
  }
  return {};
}

DirectResult<std::uint32_t> Reader::known_text(PyObject* str) {
  const auto address = reinterpret_cast<std::uintptr_t>(str);
  KnownText& entry = known_[((address >> 4) ^ (address >> 14)) % known_.size()];
  if (entry.str == str) return entry.slot;
  const auto text = text_of(str);
  if (!text) return Stop(text.error());
  std::uint32_t slot = kNoSlot;
  if (c_) {
    const std::vector<std::string>& wanted = c_->projection.fields;
    for (std::size_t i = 0; i < wanted.size() && slot == kNoSlot; ++i)
      if (wanted[i] == *text) slot = static_cast<std::uint32_t>(i);
  }
  entry = KnownText{str, slot};
  return slot;
}

template <class F>
DirectResult<void> Reader::each_element(PyObject* object, F&& visit) {
  const bool list = PyList_CheckExact(object);
  const Py_ssize_t n = list ? PyList_Size(object) : PyTuple_Size(object);
  for (Py_ssize_t i = 0; i < n; ++i) DIRECT_TRY(visit(list ? PyList_GetItem(object, i) : PyTuple_GetItem(object, i)));
  return {};
}

template <std::size_t N, class Field>
DirectResult<void> Reader::record(PyObject* object, FieldNames<N>& names, const std::array<bool, N>& required,
                                  Field&& field) {
  static_assert(N <= 32, "the given fields are one bit each");
  if (!PyDict_CheckExact(object)) return declined();
  if (!names.load()) return std::unexpected(DirectStop::Raised);
  std::uint32_t given = 0;
  DIRECT_TRY(nested([&] {
    return each_entry(object, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      std::size_t f = names.by_pointer(key);
      if (f == N) {
        const auto name = text_of(key);
        if (!name) return Stop(name.error());
        f = names.by_text(*name);
      }
      if (f == N) return value(item, nullptr);
      given |= std::uint32_t{1} << f;
      return field(f, item);
    });
  }));
  for (std::size_t i = 0; i < N; ++i)
    if (required[i] && (given >> i & 1) == 0) return declined();
  return {};
}

DirectResult<void> Reader::node_field(std::size_t f, PyObject* v, Node* out) {
  switch (static_cast<NodeField>(f)) {
    case kNodeId: return text(v, out ? &out->id : nullptr);
    case kNodeType: return text(v, out ? &out->type : nullptr);
    case kNodeData: return object(v, out ? &out->data : nullptr);
    case kNodeVector: return optional(v, out ? &out->vector : nullptr, &Reader::f64_list);
    case kNodeInsertedAt: return i64(v, out ? &out->inserted_at : nullptr);
    case kNodeUpdatedAt: return i64(v, out ? &out->updated_at : nullptr);
    case kNodeRevision: return u64(v, out ? &out->revision : nullptr);
    case kNodeActivation: return optional(v, out ? &out->activation : nullptr, &Reader::activation);
    case kNodeMemoryClass: return optional(v, out ? &out->memory_class : nullptr, &Reader::memory_class);
    case kNodeConfidence: return optional_f64(v, out ? &out->confidence : nullptr);
    case kNodeSource: return optional(v, out ? &out->source : nullptr, &Reader::text);
    case kNodeObservedAt: return optional(v, out ? &out->observed_at : nullptr, &Reader::i64);
    case kNodeDerivedFrom: return optional(v, out ? &out->derived_from : nullptr, &Reader::text_list);
    case kNodeSupersedes: return optional(v, out ? &out->supersedes : nullptr, &Reader::text);
    case kNodeContradicts: return optional(v, out ? &out->contradicts : nullptr, &Reader::text_list);
    case kNodeFields: break;
  }
  return declined();
}

DirectResult<void> Reader::edge_field(std::size_t f, PyObject* v, Edge* out) {
  switch (static_cast<EdgeField>(f)) {
    case kEdgeId: return text(v, out ? &out->id : nullptr);
    case kEdgeSource: return text(v, out ? &out->source : nullptr);
    case kEdgeTarget: return text(v, out ? &out->target : nullptr);
    case kEdgeType: return text(v, out ? &out->type : nullptr);
    case kEdgeData: return optional(v, out ? &out->data : nullptr, &Reader::object);
    case kEdgeCreatedAt: return i64(v, out ? &out->created_at : nullptr);
    case kEdgeRevision: return u64(v, out ? &out->revision : nullptr);
    case kEdgeFields: break;
  }
  return declined();
}

DirectResult<void> Reader::node(PyObject* object, Node* out) {
  return record(object, node_names, kNodeRequired, [&](std::size_t f, PyObject* v) { return node_field(f, v, out); });
}

DirectResult<void> Reader::edge(PyObject* object, Edge* out) {
  return record(object, edge_names, kEdgeRequired, [&](std::size_t f, PyObject* v) { return edge_field(f, v, out); });
}

DirectResult<void> Reader::vector_entry(PyObject* object, VectorEntry* out) {
  return record(object, vector_entry_names, kVectorEntryRequired, [&](std::size_t f, PyObject* v) {
    return f == kVectorEntryId ? text(v, out ? &out->id : nullptr) : f64_list(v, out ? &out->vector : nullptr);
  });
}

DirectResult<void> Reader::node_columns(PyObject* object) {
  for (json::Value& v : row_) v = json::Value();
  vector_.reset();
  std::string_view id;
  std::string_view type;
  DIRECT_TRY(record(object, node_names, kNodeRequired, [&](std::size_t f, PyObject* v) -> DirectResult<void> {
    switch (f) {
      case kNodeId:
      case kNodeType: {
        const auto t = exact_text(v);
        if (!t) return Stop(t.error());
        (f == kNodeId ? id : type) = *t;
        return {};
      }
      case kNodeData: return projected_data(v);
      case kNodeVector: return kept_vector(v);
      default: return node_field(f, v, nullptr);
    }
  }));
  c_->node_ids.push_back(c_->texts.copy(id));
  c_->node_types.push_back(c_->texts.copy(type));
  for (std::size_t slot = 0; slot < row_.size(); ++slot) c_->fields[slot].push_back(std::move(row_[slot]));
  if (c_->projection.vectors) c_->vectors.push_back(vector_.value_or(query::VectorSpan{}));
  return {};
}

DirectResult<void> Reader::edge_columns(PyObject* object) {
  if (!c_->projection.edges) return edge(object, nullptr);
  std::array<std::string_view, 3> ends;  // source, target, type
  DIRECT_TRY(record(object, edge_names, kEdgeRequired, [&](std::size_t f, PyObject* v) -> DirectResult<void> {
    if (f < kEdgeSource || f > kEdgeType) return edge_field(f, v, nullptr);
    const auto t = exact_text(v);
    if (!t) return Stop(t.error());
    ends[f - kEdgeSource] = *t;
    return {};
  }));
  c_->edge_sources.push_back(c_->texts.copy(ends[0]));
  c_->edge_targets.push_back(c_->texts.copy(ends[1]));
  c_->edge_types.push_back(c_->texts.copy(ends[2]));
  return {};
}

DirectResult<void> Reader::text(PyObject* v, std::string* out) {
  const auto t = exact_text(v);
  if (!t) return Stop(t.error());
  if (out) out->assign(*t);
  return {};
}

// Integers are taken for doubles; NaN and infinities become null, which a double refuses.
DirectResult<void> Reader::f64(PyObject* v, double* out) {
  const auto d = number_of(v);
  if (!d || !finite(*d)) return declined();
  if (out) *out = *d;
  return {};
}

DirectResult<void> Reader::optional_f64(PyObject* v, std::optional<double>* out) {
  if (v == Py_None) return {};
  const auto d = number_of(v);
  if (!d) return declined();
  if (out && finite(*d)) *out = *d;
  return {};
}

DirectResult<void> Reader::i64(PyObject* v, std::int64_t* out) {
  const auto n = small_int(v);
  if (!n) return declined();
  if (out) *out = *n;
  return {};
}

DirectResult<void> Reader::u64(PyObject* v, std::uint64_t* out) {
  const auto n = small_int(v);
  if (!n || *n < 0) return declined();
  if (out) *out = static_cast<std::uint64_t>(*n);
  return {};
}

DirectResult<void> Reader::text_list(PyObject* v, std::vector<std::string>* out) {
  if (!PyList_CheckExact(v) && !PyTuple_CheckExact(v)) return declined();
  return nested([&] {
    return each_element(v, [&](PyObject* e) { return text(e, out ? &out->emplace_back() : nullptr); });
  });
}

DirectResult<void> Reader::f64_list(PyObject* v, std::vector<double>* out) {
  if (!PyList_CheckExact(v) && !PyTuple_CheckExact(v)) return declined();
  if (out) out->reserve(static_cast<std::size_t>(PyList_CheckExact(v) ? PyList_Size(v) : PyTuple_Size(v)));
  return nested([&] {
    return each_element(v, [&](PyObject* e) { return f64(e, out ? &out->emplace_back() : nullptr); });
  });
}

DirectResult<void> Reader::object(PyObject* v, json::Object* out) {
  if (!PyDict_CheckExact(v)) return declined();
  if (out) out->reserve(static_cast<std::size_t>(PyDict_Size(v)));
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      if (!out) {
        DIRECT_TRY(known_text(key));
        return value(item, nullptr);
      }
      const auto name = text_of(key);
      if (!name) return Stop(name.error());
      json::Value member;
      DIRECT_TRY(value(item, &member));
      out->insert_or_assign(*name, std::move(member));
      return {};
    });
  });
}

DirectResult<void> Reader::activation(PyObject* v, NodeActivation* out) {
  return record(v, activation_names, kActivationRequired, [&](std::size_t f, PyObject* x) -> DirectResult<void> {
    switch (static_cast<ActivationField>(f)) {
      case kActivationScore: return f64(x, out ? &out->score : nullptr);
      case kActivationImportance: return f64(x, out ? &out->importance : nullptr);
      case kActivationReinforcementCount: return u64(x, out ? &out->reinforcement_count : nullptr);
      case kActivationLastMeaningful: return i64(x, out ? &out->last_meaningful_activation : nullptr);
      case kActivationInhibition: return optional_f64(x, out ? &out->inhibition : nullptr);
      case kActivationLastInhibitedAt: return optional(x, out ? &out->last_inhibited_at : nullptr, &Reader::i64);
      case kActivationContext: return optional(x, out ? &out->context : nullptr, &Reader::context);
      case kActivationFields: break;
    }
    return declined();
  });
}

DirectResult<void> Reader::context_activation(PyObject* v, ContextActivation* out) {
  return record(v, context_names, kContextRequired, [&](std::size_t f, PyObject* x) {
    return f == kContextScore ? f64(x, out ? &out->score : nullptr)
                              : i64(x, out ? &out->last_meaningful_activation : nullptr);
  });
}

DirectResult<void> Reader::context(PyObject* v, ContextMap* out) {
  if (!PyDict_CheckExact(v)) return declined();
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      if (!out) {
        DIRECT_TRY(known_text(key));
        return context_activation(item, nullptr);
      }
      const auto name = text_of(key);
      if (!name) return Stop(name.error());
      ContextActivation a;
      DIRECT_TRY(context_activation(item, &a));
      out->set(std::string(*name), a);
      return {};
    });
  });
}

// A class name as a str, or a dict whose one key is the name and whose value is None.
DirectResult<void> Reader::memory_class(PyObject* v, MemoryClass* out) {
  auto known = [&](std::string_view name) -> DirectResult<void> {
    const auto c = memory_class_from_name(name);
    if (!c) return declined();
    if (out) *out = *c;
    return {};
  };
  if (PyUnicode_CheckExact(v)) {
    const auto t = text_of(v);
    if (!t) return Stop(t.error());
    return known(*t);
  }
  if (!PyDict_CheckExact(v) || PyDict_Size(v) != 1) return declined();
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      const auto t = text_of(key);
      if (!t) return Stop(t.error());
      return item == Py_None ? known(*t) : declined();
    });
  });
}

template <class T>
DirectResult<void> Reader::optional(PyObject* v, std::optional<T>* out,
                                    DirectResult<void> (Reader::*read)(PyObject*, T*)) {
  if (v == Py_None) return {};
  if (!out) return (this->*read)(v, nullptr);
  return (this->*read)(v, &out->emplace());
}

// A node's data: every value checked, the projected keys' values built into the row.
DirectResult<void> Reader::projected_data(PyObject* v) {
  if (!PyDict_CheckExact(v)) return declined();
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      const auto slot = known_text(key);
      if (!slot) return Stop(slot.error());
      return value(item, *slot == kNoSlot ? nullptr : &row_[*slot]);
    });
  });
}

// A node's vector, into the double arena when the plan ranks by it.
DirectResult<void> Reader::kept_vector(PyObject* v) {
  if (v == Py_None) return {};
  std::vector<double>* values = c_->projection.vectors ? &c_->vector_values : nullptr;
  if (!values) return f64_list(v, nullptr);
  if (!PyList_CheckExact(v) && !PyTuple_CheckExact(v)) return declined();
  const std::size_t start = values->size();
  DIRECT_TRY(nested([&] { return each_element(v, [&](PyObject* e) { return f64(e, &values->emplace_back()); }); }));
  vector_ = query::VectorSpan{start, values->size() - start};
  return {};
}

template <class R>
DirectResult<void> read_into(Reader& reader, PyObject* object, R* out) {
  if constexpr (std::is_same_v<R, Node>) {
    return reader.node(object, out);
  } else if constexpr (std::is_same_v<R, Edge>) {
    return reader.edge(object, out);
  } else {
    return reader.vector_entry(object, out);
  }
}

}  // namespace

DirectResult<query::QueryPlan> read_plan_directly(PyObject* plan) {
  json::Value value;
  DIRECT_TRY(Reader().value(plan, &value));
  auto read = query::QueryPlan::deserialize(value);
  if (!read) return declined();
  return std::move(*read);
}

DirectResult<json::Value> read_value_directly(PyObject* object) {
  json::Value value;
  DIRECT_TRY(Reader().value(object, &value));
  return value;
}

template <class R>
DirectResult<std::vector<R>> read_records_directly(std::span<const PyRef> items) {
  std::vector<R> records(items.size());
  Reader reader;
  for (std::size_t i = 0; i < items.size(); ++i) DIRECT_TRY(read_into(reader, items[i].get(), &records[i]));
  return records;
}

template DirectResult<std::vector<Node>> read_records_directly(std::span<const PyRef>);
template DirectResult<std::vector<Edge>> read_records_directly(std::span<const PyRef>);
template DirectResult<std::vector<VectorEntry>> read_records_directly(std::span<const PyRef>);

DirectResult<query::SnapshotColumns> read_graph_directly(std::span<const PyRef> nodes, std::span<const PyRef> edges,
                                                         query::Projection projection) {
  query::SnapshotColumns columns(std::move(projection));
  columns.node_ids.reserve(nodes.size());
  columns.node_types.reserve(nodes.size());
  for (auto& slot : columns.fields) slot.reserve(nodes.size());
  if (columns.projection.edges) {
    columns.edge_sources.reserve(edges.size());
    columns.edge_targets.reserve(edges.size());
    columns.edge_types.reserve(edges.size());
  }
  Reader reader(&columns);
  for (const PyRef& item : nodes) DIRECT_TRY(reader.node_columns(item.get()));
  for (const PyRef& item : edges) DIRECT_TRY(reader.edge_columns(item.get()));
  return columns;
}

}  // namespace tarnwick::py
