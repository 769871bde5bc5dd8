#include "lib/record_objects.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lib/field_names.hpp"
#include "lib/json_bridge.hpp"

namespace tarnwick::py {

namespace {

PyResult<PyRef> none() { return PyRef::borrow(Py_None); }
PyResult<PyRef> int_to_py(std::int64_t n) { return checked(PyLong_FromLongLong(n)); }
PyResult<PyRef> uint_to_py(std::uint64_t n) { return checked(PyLong_FromUnsignedLongLong(n)); }
PyResult<PyRef> number_to_py(double d) { return d - d == 0.0 ? checked(PyFloat_FromDouble(d)) : none(); }

PyResult<PyRef> numbers_to_py(const std::vector<double>& values) {
  auto list = checked(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return error_set();
  for (std::size_t i = 0; i < values.size(); ++i) {
    auto item = number_to_py(values[i]);
    if (!item) return error_set();
    PyList_SetItem(list->get(), static_cast<Py_ssize_t>(i), item->release());
  }
  return list;
}

// A dict filled in key order; each value is taken over.
class DictOut {
 public:
  static PyResult<DictOut> make() {
    auto dict = checked(PyDict_New());
    if (!dict) return error_set();
    return DictOut(std::move(*dict));
  }

  PyResult<void> set(PyObject* key, PyResult<PyRef> value) {
    if (!value) return error_set();
    if (PyDict_SetItem(dict_.get(), key, value->get()) != 0) return error_set();
    return {};
  }

  PyResult<void> set(std::string_view key, PyResult<PyRef> value) {
    auto str = text_to_py(key);
    if (!str) return error_set();
    return set(str->get(), std::move(value));
  }

  // Sets the key only when the field is present.
  template <class K, class T, class Convert>
  PyResult<void> set_present(K key, const std::optional<T>& field, Convert convert) {
    return field ? set(key, convert(*field)) : PyResult<void>{};
  }

  PyRef done() { return std::move(dict_); }

 private:
  explicit DictOut(PyRef dict) : dict_(std::move(dict)) {}
  PyRef dict_;
};

PyResult<PyRef> text_of(const std::string& text) { return text_to_py(text); }
PyResult<PyRef> texts_of(const std::vector<std::string>& texts) { return texts_to_py(texts); }

PyResult<PyRef> context_to_py(const ContextMap& context) {
  auto out = DictOut::make();
  if (!out) return error_set();
  for (const auto& [key, a] : context.entries()) {
    auto entry = DictOut::make();
    if (!entry) return error_set();
    PY_TRY(entry->set(context_names.str(kContextScore), number_to_py(a.score)));
    PY_TRY(entry->set(context_names.str(kContextLastMeaningful), int_to_py(a.last_meaningful_activation)));
    PY_TRY(out->set(key, entry->done()));
  }
  return out->done();
}

PyResult<PyRef> activation_to_py(const NodeActivation& a) {
  if (!activation_names.load() || !context_names.load()) return error_set();
  auto out = DictOut::make();
  if (!out) return error_set();
  auto key = [](ActivationField f) { return activation_names.str(f); };
  PY_TRY(out->set(key(kActivationScore), number_to_py(a.score)));
  PY_TRY(out->set(key(kActivationImportance), number_to_py(a.importance)));
  PY_TRY(out->set(key(kActivationReinforcementCount), uint_to_py(a.reinforcement_count)));
  PY_TRY(out->set(key(kActivationLastMeaningful), int_to_py(a.last_meaningful_activation)));
  PY_TRY(out->set_present(key(kActivationInhibition), a.inhibition, number_to_py));
  PY_TRY(out->set_present(key(kActivationLastInhibitedAt), a.last_inhibited_at, int_to_py));
  PY_TRY(out->set_present(key(kActivationContext), a.context, context_to_py));
  return out->done();
}

PyResult<PyRef> memory_class_to_py(MemoryClass c) { return text_to_py(memory_class_name(c)); }

PyResult<PyRef> operation_to_py(const store::MutationOperation& op) {
  auto out = DictOut::make();
  if (!out) return error_set();
  PY_TRY(out->set("operationType", text_to_py(op.operation_type)));
  // The payload sits inside the record's "operations" list and the operation's object.
  PY_TRY(out->set("payload", json_to_py(op.payload, 3)));
  return out->done();
}

}  // namespace

PyResult<PyRef> node_to_py(const Node& n) {
  if (!node_names.load()) return error_set();
  auto out = DictOut::make();
  if (!out) return error_set();
  auto key = [](NodeField f) { return node_names.str(f); };
  PY_TRY(out->set(key(kNodeId), text_to_py(n.id)));
  PY_TRY(out->set(key(kNodeType), text_to_py(n.type)));
  PY_TRY(out->set(key(kNodeData), object_to_py(n.data, 1)));
  PY_TRY(out->set(key(kNodeVector), n.vector ? numbers_to_py(*n.vector) : none()));
  PY_TRY(out->set(key(kNodeInsertedAt), int_to_py(n.inserted_at)));
  PY_TRY(out->set(key(kNodeUpdatedAt), int_to_py(n.updated_at)));
  PY_TRY(out->set(key(kNodeRevision), uint_to_py(n.revision)));
  PY_TRY(out->set_present(key(kNodeActivation), n.activation, activation_to_py));
  PY_TRY(out->set_present(key(kNodeMemoryClass), n.memory_class, memory_class_to_py));
  PY_TRY(out->set_present(key(kNodeConfidence), n.confidence, number_to_py));
  PY_TRY(out->set_present(key(kNodeSource), n.source, text_of));
  PY_TRY(out->set_present(key(kNodeObservedAt), n.observed_at, int_to_py));
  PY_TRY(out->set_present(key(kNodeDerivedFrom), n.derived_from, texts_of));
  PY_TRY(out->set_present(key(kNodeSupersedes), n.supersedes, text_of));
  PY_TRY(out->set_present(key(kNodeContradicts), n.contradicts, texts_of));
  return out->done();
}

PyResult<PyRef> edge_to_py(const Edge& e) {
  if (!edge_names.load()) return error_set();
  auto out = DictOut::make();
  if (!out) return error_set();
  auto key = [](EdgeField f) { return edge_names.str(f); };
  PY_TRY(out->set(key(kEdgeId), text_to_py(e.id)));
  PY_TRY(out->set(key(kEdgeSource), text_to_py(e.source)));
  PY_TRY(out->set(key(kEdgeTarget), text_to_py(e.target)));
  PY_TRY(out->set(key(kEdgeType), text_to_py(e.type)));
  PY_TRY(out->set(key(kEdgeData), e.data ? object_to_py(*e.data, 1) : none()));
  PY_TRY(out->set(key(kEdgeCreatedAt), int_to_py(e.created_at)));
  PY_TRY(out->set(key(kEdgeRevision), uint_to_py(e.revision)));
  return out->done();
}

PyResult<PyRef> mutation_record_to_py(const store::MutationRecord& r) {
  auto out = DictOut::make();
  if (!out) return error_set();
  PY_TRY(out->set("operationId", text_to_py(r.operation_id)));
  PY_TRY(out->set("sequence", uint_to_py(r.sequence)));
  PY_TRY(out->set("transactionId", text_to_py(r.transaction_id)));
  PY_TRY(out->set("timestamp", int_to_py(r.timestamp)));
  auto operations = checked(PyList_New(static_cast<Py_ssize_t>(r.operations.size())));
  if (!operations) return error_set();
  for (std::size_t i = 0; i < r.operations.size(); ++i) {
    auto op = operation_to_py(r.operations[i]);
    if (!op) return error_set();
    PyList_SetItem(operations->get(), static_cast<Py_ssize_t>(i), op->release());
  }
  PY_TRY(out->set("operations", std::move(*operations)));
  PY_TRY(out->set_present("actor", r.actor, text_of));
  PY_TRY(out->set_present("baseRevision", r.base_revision, uint_to_py));
  if (const json::Value* metadata = store::written_metadata(r)) PY_TRY(out->set("metadata", json_to_py(*metadata, 1)));
  return out->done();
}

}  // namespace tarnwick::py
