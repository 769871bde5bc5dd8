// The NativeStore class: its constructor, its lifecycle methods, its method table and its type.

#include <memory>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "lib/class_type.hpp"
#include "lib/entry_points.hpp"
#include "lib/native_store.hpp"
#include "lib/precision.hpp"

namespace tarnwick::py {

namespace {

// The constructor's options in parameter order; the first failing extraction raises.
PyResult<store::StoreOptions> options_from(const Bound<5>& bound) {
  store::StoreOptions options;
  if (bound[1] != nullptr) {
    auto threshold = u64_arg(bound[1], "compact_threshold");
    if (!threshold) return error_set();
    options.compact_threshold = *threshold;
  }
  store::MutationLogRetention retention;
  if (bound[2] != nullptr && bound[2] != Py_None) {
    auto entries = u64_arg(bound[2], "mutation_log_max_entries");
    if (!entries) return error_set();
    retention.mutation_log_max_entries = *entries;
  }
  if (bound[3] != nullptr && bound[3] != Py_None) {
    auto age = i64_arg(bound[3], "mutation_log_max_age_ms");
    if (!age) return error_set();
    retention.mutation_log_max_age_ms = *age;
  }
  if (retention.mutation_log_max_entries || retention.mutation_log_max_age_ms) options.retention = retention;
  if (bound[4] != nullptr && bound[4] != Py_None) {
    auto text = str_arg(bound[4], "vector_precision");
    if (!text) return error_set();
    auto precision = precision_from_text(*text);
    if (!precision) return error_set();
    options.vector_precision = *precision;
  }
  // The mode in which the store never asks the storage object to sync.
  options.sync_mode = 1;
  return options;
}

PyResult<PyRef> construct(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static constexpr Parameter kParameters[] = {{"storage", true},
                                              {"compact_threshold", false},
                                              {"mutation_log_max_entries", false},
                                              {"mutation_log_max_age_ms", false},
                                              {"vector_precision", false}};
  auto bound = bind<5>({kStoreClass, "__new__", kParameters}, args, kwargs);
  if (!bound) return error_set();
  auto options = options_from(*bound);
  if (!options) return error_set();
  auto backend = std::make_unique<PythonStorage>(PyRef::borrow((*bound)[0]));
  PythonStorage* storage = backend.get();
  auto core = std::make_unique<store::Store>(std::move(backend), std::move(*options));
  auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
  auto self = checked(alloc(type, 0));
  if (!self) return error_set();
  StoreObject& object = object_of<StoreObject>(self->get());
  new (&object.lock) StoreLock();
  new (&object.store) std::unique_ptr<store::Store>(std::move(core));
  object.storage = storage;
  return self;
}

PyObject* new_instance(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded_object([&] { return construct(type, args, kwargs); });
}

// Dropping an instance writes nothing and calls nothing on the storage object.
void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  StoreObject& object = object_of<StoreObject>(self);
  object.store.~unique_ptr();
  object.lock.~StoreLock();
  auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
  free(self);
  Py_DECREF(type);
}

PyMethodDef* methods() {
  static PyMethodDef table[] = {
      noargs_method<StoreObject, &store_trim_mutation_log>(
          "trim_mutation_log",
          "trim_mutation_log($self)\n--\n\n"
          "Trim `mutations.jsonl` per the configured retention policy right now,\n"
          "independent of WAL-driven compaction. A no-op when no retention\n"
          "policy was configured at construction."),
      noargs_method<StoreObject, &store_vector_precision>("vector_precision", "vector_precision($self)\n--\n\n"),
      noargs_method<StoreObject, &store_capabilities>("capabilities", "capabilities($self)\n--\n\n"),
      noargs_method<StoreObject, &store_verify>("verify", "verify($self)\n--\n\n"),
      noargs_method<StoreObject, &store_mutation_log>("mutation_log", "mutation_log($self)\n--\n\n"),
      fastcall_method<StoreObject, &store_replace_mutation_log>(
          "replace_mutation_log",
          "replace_mutation_log($self, records)\n--\n\n"
          "Install source mutation history into a fresh migration destination."),
      fastcall_method<StoreObject, &store_mutation_log_since>("mutation_log_since",
                                                              "mutation_log_since($self, sequence=0)\n--\n\n"),
      fastcall_method<StoreObject, &store_mutation_log_page>("mutation_log_page",
                                                             "mutation_log_page($self, sequence, limit)\n--\n\n"),
      noargs_method<StoreObject, &store_latest_mutation_sequence>("latest_mutation_sequence",
                                                                  "latest_mutation_sequence($self)\n--\n\n"),
      fastcall_method<StoreObject, &store_apply>(
          "apply",
          "apply($self, put_nodes=..., delete_node_ids=..., put_edges=..., delete_edge_ids=..., "
          "put_vectors=..., delete_vector_ids=..., operation_id=None, transaction_id=None, actor=None, "
          "base_revision=None, metadata=None)\n--\n\n"),
      noargs_method<StoreObject, &store_all_node_ids>("all_node_ids", "all_node_ids($self)\n--\n\n"),
      noargs_method<StoreObject, &store_node_count>(
          "node_count", "node_count($self)\n--\n\nTotal persisted node count, without materialising ids."),
      fastcall_method<StoreObject, &store_query_nodes>(
          "query_nodes",
          "query_nodes($self, query)\n--\n\n"
          "Query nodes with a storage-level query dict:\n"
          "`{\"nodeTypes\": [...], \"attributes\": {...}, \"attributeRanges\": {...},\n"
          "\"orderBy\": {\"field\", \"direction\"}, \"offset\", \"limit\"}`."),
      fastcall_method<StoreObject, &store_count_nodes>(
          "count_nodes",
          "count_nodes($self, query)\n--\n\n"
          "Count nodes matching a storage-level query dict (same shape as\n`query_nodes`)."),
      fastcall_method<StoreObject, &store_get_edges_by_sources>(
          "get_edges_by_sources",
          "get_edges_by_sources($self, sources, edge_type)\n--\n\n"
          "Edges from the given sources, optionally filtered by edge type."),
      fastcall_method<StoreObject, &store_get_edges_by_targets>(
          "get_edges_by_targets",
          "get_edges_by_targets($self, targets, edge_type)\n--\n\n"
          "Edges targeting the given nodes, optionally filtered by edge type."),
      fastcall_method<StoreObject, &store_get_node>("get_node", "get_node($self, id)\n--\n\n"),
      noargs_method<StoreObject, &store_all_edges>("all_edges", "all_edges($self)\n--\n\n"),
      noargs_method<StoreObject, &store_all_vectors>("all_vectors", "all_vectors($self)\n--\n\n"),
      noargs_method<StoreObject, &store_compact>("compact", "compact($self)\n--\n\n"),
      noargs_method<StoreObject, &store_close>("close", "close($self)\n--\n\n"),
      {nullptr, nullptr, 0, nullptr},
  };
  return table;
}

PyObject* type_cell = nullptr;

}  // namespace

PyResult<PyRef> store_compact(StoreObject& self) {
  PY_TRY(locked(self, [](store::Store& s) { return s.compact(); }));
  return none();
}

// A failed compaction leaves the store open (and loaded), so a later close tries again.
PyResult<PyRef> store_close(StoreObject& self) {
  PY_TRY(locked(self, [](store::Store& s) { return s.close(); }));
  return none();
}

PyResult<PyRef> store_trim_mutation_log(StoreObject& self) {
  PY_TRY(locked(self, [](store::Store& s) { return s.trim_mutation_log(); }));
  return none();
}

PyResult<PyObject*> native_store_type() {
  static const PyType_Slot slots[] = {
      {Py_tp_new, reinterpret_cast<void*>(&new_instance)},
      {Py_tp_dealloc, reinterpret_cast<void*>(&dealloc)},
      {Py_tp_methods, methods()},
  };
  return class_type(type_cell,
                    {"tarnwick.NativeStore",
                     "(storage, compact_threshold=10000, mutation_log_max_entries=None, "
                     "mutation_log_max_age_ms=None, vector_precision=None)",
                     static_cast<int>(sizeof(StoreObject)), slots});
}

}  // namespace tarnwick::py
