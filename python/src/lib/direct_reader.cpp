#include "lib/direct_reader.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.hpp"
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

// How a record field's value is taken. `Data` and `Vector` are the node fields whose values
// are kept; the record reader hands them to its caller.
enum class Take : std::uint8_t {
  Text, OptText, F64, OptF64, I64, OptI64, U64, OptTextList, OptData, OptActivation, OptMemoryClass, OptContext,
  Data, Vector,
};

struct Field {
  std::string_view key;
  Take take;
  bool required;
  int kept_text = -1;  // where the record reader hands a text field's UTF-8 text back, if it does
};

// A record's fields in field order, with their names interned once for the process (under the
// interpreter lock, like every call here) so that the keys of dicts written in Python source
// are matched by pointer.
template <std::size_t N>
struct Table {
  std::array<Field, N> fields;
  std::array<PyObject*, N> names{};

  DirectResult<void> intern() {
    if (names[N - 1] != nullptr) return {};
    for (std::size_t i = 0; i < N; ++i) {
      if (names[i] != nullptr) continue;
      names[i] = PyUnicode_InternFromString(std::string(fields[i].key).c_str());
      if (names[i] == nullptr) return std::unexpected(DirectStop::Raised);
    }
    return {};
  }

  // The field an interned key names, or N.
  std::size_t field_by_pointer(PyObject* key) const {
    for (std::size_t i = 0; i < N; ++i)
      if (names[i] == key) return i;
    return N;
  }

  // The field a key's text names, or N.
  std::size_t field_by_text(std::string_view text) const {
    for (std::size_t i = 0; i < N; ++i)
      if (fields[i].key == text) return i;
    return N;
  }
};

Table<15> node_table{{{
    {"id", Take::Text, true, 0},        {"type", Take::Text, true, 1},       {"data", Take::Data, false},
    {"vector", Take::Vector, false},    {"insertedAt", Take::I64, true},     {"updatedAt", Take::I64, true},
    {"revision", Take::U64, false},     {"activation", Take::OptActivation, false},
    {"memoryClass", Take::OptMemoryClass, false},                           {"confidence", Take::OptF64, false},
    {"source", Take::OptText, false},   {"observedAt", Take::OptI64, false}, {"derivedFrom", Take::OptTextList, false},
    {"supersedes", Take::OptText, false}, {"contradicts", Take::OptTextList, false},
}}};
constexpr std::size_t kNodeData = 2;

Table<7> edge_table{{{
    {"id", Take::Text, true},       {"source", Take::Text, true, 0}, {"target", Take::Text, true, 1},
    {"type", Take::Text, true, 2},  {"data", Take::OptData, false},  {"createdAt", Take::I64, true},
    {"revision", Take::U64, false},
}}};

Table<7> activation_table{{{
    {"score", Take::F64, true},           {"importance", Take::F64, true},
    {"reinforcementCount", Take::U64, true}, {"lastMeaningfulActivation", Take::I64, true},
    {"inhibition", Take::OptF64, false},  {"lastInhibitedAt", Take::OptI64, false},
    {"context", Take::OptContext, false},
}}};

Table<2> context_table{{{{"score", Take::F64, true}, {"lastMeaningfulActivation", Take::I64, true}}}};

// For records whose table has no kept field.
DirectResult<void> keeps_nothing(std::size_t, PyObject*) { return declined(); }

class Reader {
 public:
  explicit Reader(query::SnapshotColumns* columns = nullptr) : c_(columns) {
    if (c_) row_.resize(c_->fields.size());
  }

  // Any value the general conversion takes to a JSON value; built into `out` when given.
  DirectResult<void> value(PyObject* object, json::Value* out);

  DirectResult<void> node(PyObject* object);
  DirectResult<void> edge(PyObject* object);

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

  DirectResult<void> dict(PyObject* object, json::Value* out);
  DirectResult<void> sequence(PyObject* object, json::Value* out);
  template <class F>
  DirectResult<void> each_element(PyObject* object, F&& visit);

  // The texts of the fields a table marks as kept, by their `kept_text`.
  using KeptTexts = std::array<std::string_view, 3>;

  template <std::size_t N, class Keep>
  DirectResult<KeptTexts> record(PyObject* object, Table<N>& table, Keep&& keep);
  DirectResult<void> take(Take how, PyObject* v, std::string_view* text = nullptr);
  DirectResult<void> memory_class(PyObject* v);
  DirectResult<void> context(PyObject* v);
  DirectResult<void> data(PyObject* v);
  DirectResult<void> vector(PyObject* v);

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
  if (PyDict_CheckExact(o)) return nested([&] { return dict(o, out); });
  if (PyList_CheckExact(o) || PyTuple_CheckExact(o)) return nested([&] { return sequence(o, out); });
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

DirectResult<void> Reader::dict(PyObject* object, json::Value* out) {
  json::Object* members = out ? &out->emplace_object() : nullptr;
  if (members) members->reserve(static_cast<std::size_t>(PyDict_Size(object)));
  return each_entry(object, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
    if (!members) {
      DIRECT_TRY(known_text(key));
      return value(item, nullptr);
    }
    const auto name = text_of(key);
    if (!name) return Stop(name.error());
    json::Value member;
    DIRECT_TRY(value(item, &member));
    members->insert_or_assign(*name, std::move(member));
    return {};
  });
}

template <class F>
DirectResult<void> Reader::each_element(PyObject* object, F&& visit) {
  const bool list = PyList_CheckExact(object);
  const Py_ssize_t n = list ? PyList_Size(object) : PyTuple_Size(object);
  for (Py_ssize_t i = 0; i < n; ++i) DIRECT_TRY(visit(list ? PyList_GetItem(object, i) : PyTuple_GetItem(object, i)));
  return {};
}

DirectResult<void> Reader::sequence(PyObject* object, json::Value* out) {
  json::Array* elements = out ? &out->emplace_array() : nullptr;
  return each_element(object, [&](PyObject* e) -> DirectResult<void> {
    if (!elements) return value(e, nullptr);
    DIRECT_TRY(value(e, &elements->emplace_back(nullptr)));
    return {};
  });
}

// Reads a record dict: every key is matched against the table, every known value is checked
// by its field's rule, every other value as any value; `keep(field, value)` takes the fields
// whose values the caller keeps.
template <std::size_t N, class Keep>
DirectResult<Reader::KeptTexts> Reader::record(PyObject* object, Table<N>& table, Keep&& keep) {
  static_assert(N <= 32, "the given fields are one bit each");
  if (!PyDict_CheckExact(object)) return declined();
  DIRECT_TRY(table.intern());
  KeptTexts texts;
  std::uint32_t given = 0;
  DIRECT_TRY(nested([&] {
    return each_entry(object, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      std::size_t f = table.field_by_pointer(key);
      if (f == N) {
        const auto name = text_of(key);
        if (!name) return Stop(name.error());
        f = table.field_by_text(*name);
      }
      if (f == N) return value(item, nullptr);
      given |= std::uint32_t{1} << f;
      const Field& field = table.fields[f];
      if (field.take == Take::Data || field.take == Take::Vector) return keep(f, item);
      const auto kept = static_cast<std::size_t>(field.kept_text);
      return take(field.take, item, field.kept_text < 0 ? nullptr : &texts[kept]);
    });
  }));
  for (std::size_t i = 0; i < N; ++i)
    if (table.fields[i].required && (given >> i & 1) == 0) return declined();
  return texts;
}

DirectResult<void> Reader::take(Take how, PyObject* v, std::string_view* text_out) {
  const bool none = v == Py_None;
  switch (how) {
    case Take::OptText:
      if (none) return {};
      [[fallthrough]];
    case Take::Text: {
      if (!PyUnicode_CheckExact(v)) return declined();
      const auto text = text_of(v);
      if (!text) return Stop(text.error());
      if (text_out) *text_out = *text;
      return {};
    }
    case Take::F64: {
      const auto d = number_of(v);
      if (!d || !finite(*d)) return declined();
      return {};
    }
    case Take::OptF64:
      // A NaN or infinity becomes null, which an optional double reads as absent.
      if (none || number_of(v)) return {};
      return declined();
    case Take::OptI64:
      if (none) return {};
      [[fallthrough]];
    case Take::I64:
      if (!small_int(v)) return declined();
      return {};
    case Take::U64: {
      const auto n = small_int(v);
      if (!n || *n < 0) return declined();
      return {};
    }
    case Take::OptTextList:
      if (none) return {};
      if (!PyList_CheckExact(v) && !PyTuple_CheckExact(v)) return declined();
      return nested([&] { return each_element(v, [&](PyObject* e) { return take(Take::Text, e); }); });
    case Take::OptData:
      if (none) return {};
      if (!PyDict_CheckExact(v)) return declined();
      return value(v, nullptr);
    case Take::OptActivation:
      if (none) return {};
      DIRECT_TRY(record(v, activation_table, keeps_nothing));
      return {};
    case Take::OptMemoryClass:
      return none ? DirectResult<void>{} : memory_class(v);
    case Take::OptContext:
      return none ? DirectResult<void>{} : context(v);
    case Take::Data:
    case Take::Vector:
      return declined();  // kept fields are the record reader's caller's
  }
  return declined();
}

// A class name as a str, or a dict whose one key is the name and whose value is None.
DirectResult<void> Reader::memory_class(PyObject* v) {
  auto known = [](std::string_view name) { return memory_class_from_name(name).has_value(); };
  if (PyUnicode_CheckExact(v)) {
    const auto text = text_of(v);
    if (!text) return Stop(text.error());
    return known(*text) ? DirectResult<void>{} : declined();
  }
  if (!PyDict_CheckExact(v) || PyDict_Size(v) != 1) return declined();
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      const auto text = text_of(key);
      if (!text) return Stop(text.error());
      return item == Py_None && known(*text) ? DirectResult<void>{} : declined();
    });
  });
}

DirectResult<void> Reader::context(PyObject* v) {
  if (!PyDict_CheckExact(v)) return declined();
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      DIRECT_TRY(known_text(key));
      DIRECT_TRY(record(item, context_table, keeps_nothing));
      return {};
    });
  });
}

// A node's data: every value checked, the projected keys' values built into the row.
DirectResult<void> Reader::data(PyObject* v) {
  if (!PyDict_CheckExact(v)) return declined();
  return nested([&] {
    return each_entry(v, [&](PyObject* key, PyObject* item) -> DirectResult<void> {
      const auto slot = known_text(key);
      if (!slot) return Stop(slot.error());
      return value(item, *slot == kNoSlot ? nullptr : &row_[*slot]);
    });
  });
}

// A node's vector: None, or a list or tuple of finite numbers; kept when the plan ranks by it.
DirectResult<void> Reader::vector(PyObject* v) {
  if (v == Py_None) return {};
  if (!PyList_CheckExact(v) && !PyTuple_CheckExact(v)) return declined();
  std::vector<double>* values = c_->projection.vectors ? &c_->vector_values : nullptr;
  const std::size_t start = values ? values->size() : 0;
  DIRECT_TRY(nested([&] {
    return each_element(v, [&](PyObject* e) -> DirectResult<void> {
      // A NaN or infinity would become null, which a vector refuses.
      const auto d = number_of(e);
      if (!d || !finite(*d)) return declined();
      if (values) values->push_back(*d);
      return {};
    });
  }));
  if (values) vector_ = query::VectorSpan{start, values->size() - start};
  return {};
}

DirectResult<void> Reader::node(PyObject* object) {
  for (json::Value& v : row_) v = json::Value();
  vector_.reset();
  auto found = record(object, node_table, [&](std::size_t f, PyObject* v) { return f == kNodeData ? data(v) : vector(v); });
  if (!found) return Stop(found.error());
  c_->node_ids.push_back(c_->texts.copy((*found)[0]));
  c_->node_types.push_back(c_->texts.copy((*found)[1]));
  for (std::size_t slot = 0; slot < row_.size(); ++slot) c_->fields[slot].push_back(std::move(row_[slot]));
  if (c_->projection.vectors) c_->vectors.push_back(vector_.value_or(query::VectorSpan{}));
  return {};
}

DirectResult<void> Reader::edge(PyObject* object) {
  auto found = record(object, edge_table, keeps_nothing);
  if (!found) return Stop(found.error());
  c_->edge_sources.push_back(c_->texts.copy((*found)[0]));
  c_->edge_targets.push_back(c_->texts.copy((*found)[1]));
  c_->edge_types.push_back(c_->texts.copy((*found)[2]));
  return {};
}

}  // namespace

DirectResult<query::QueryPlan> read_plan_directly(PyObject* plan) {
  json::Value value;
  DIRECT_TRY(Reader().value(plan, &value));
  auto read = query::QueryPlan::deserialize(value);
  if (!read) return declined();
  return std::move(*read);
}

DirectResult<query::SnapshotColumns> read_graph_directly(std::span<const PyRef> nodes, std::span<const PyRef> edges,
                                                         query::Projection projection) {
  query::SnapshotColumns columns(std::move(projection));
  columns.node_ids.reserve(nodes.size());
  columns.node_types.reserve(nodes.size());
  for (auto& slot : columns.fields) slot.reserve(nodes.size());
  columns.edge_sources.reserve(edges.size());
  columns.edge_targets.reserve(edges.size());
  columns.edge_types.reserve(edges.size());
  Reader reader(&columns);
  for (const PyRef& item : nodes) DIRECT_TRY(reader.node(item.get()));
  for (const PyRef& item : edges) DIRECT_TRY(reader.edge(item.get()));
  return columns;
}

}  // namespace tarnwick::py
