#pragma once
// The Python class NativeStore: one Store behind one StoreLock. What its methods share is here:
// the instance, and the step that runs a store operation under the lock and turns its outcome
// into a Python result. Each group of methods lives in its own file (native_store_*.cpp).
//
// The order of a call: bind and extract the arguments, convert every Python value the store
// needs, and only then take the lock, so that a bad argument never reaches the store, also on
// a closed or poisoned one. Results become Python objects after the lock is released
// (get_node alone builds its dict while holding it).

#include <Python.h>

#include <memory>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

#include "lib/args.hpp"
#include "lib/entry_points.hpp"
#include "lib/exceptions.hpp"
#include "lib/python_storage.hpp"
#include "lib/store_lock.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::py {

struct StoreObject {
  PyObject_HEAD
  StoreLock lock;
  std::unique_ptr<store::Store> store;  // guarded by `lock`
  PythonStorage* storage;               // the store's own backend, borrowed
};

inline constexpr const char* kStoreClass = "NativeStore";

// The outcome of a store operation, seen after the lock is released: an exception the storage
// object raised that must pass through comes first, then the store's error, then the value.
template <class T>
PyResult<T> settle(StoreObject& self, Result<T> result) {
  if (PendingException kept = self.storage->take_kept()) return kept.restore();
  if (!result) return raise_core(std::move(result).error());
  if constexpr (std::is_void_v<T>) {
    return {};
  } else {
    return std::move(*result);
  }
}

// Runs `op(Store&)`, which returns a Result, under the lock.
template <class Op>
auto locked(StoreObject& self, Op&& op) -> PyResult<typename std::invoke_result_t<Op&, store::Store&>::value_type> {
  std::optional<std::invoke_result_t<Op&, store::Store&>> result;
  {
    auto held = self.lock.acquire();
    if (!held) return error_set();
    result.emplace(op(*self.store));
  }
  return settle(self, std::move(*result));
}

PyResult<PyObject*> native_store_type();

// A new list holding `build(item)` for each item; the first failure drops the list.
template <class Items, class Build>
PyResult<PyRef> list_of(const Items& items, Build&& build) {
  auto list = checked(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  if (!list) return error_set();
  Py_ssize_t i = 0;
  for (const auto& item : items) {
    auto value = build(item);
    if (!value) return error_set();
    PyList_SetItem(list->get(), i++, value->release());
  }
  return list;
}

// Nodes handed back as a list of their dicts.
PyResult<PyRef> nodes_to_py(std::span<const Node> nodes);

// Method bodies, one per method, in the order of the class's method table.
PyResult<PyRef> store_trim_mutation_log(StoreObject& self);
PyResult<PyRef> store_vector_precision(StoreObject& self);
PyResult<PyRef> store_capabilities(StoreObject& self);
PyResult<PyRef> store_verify(StoreObject& self);
PyResult<PyRef> store_mutation_log(StoreObject& self);
PyResult<PyRef> store_replace_mutation_log(StoreObject& self, FastArgs args);
PyResult<PyRef> store_mutation_log_since(StoreObject& self, FastArgs args);
PyResult<PyRef> store_mutation_log_page(StoreObject& self, FastArgs args);
PyResult<PyRef> store_latest_mutation_sequence(StoreObject& self);
PyResult<PyRef> store_apply(StoreObject& self, FastArgs args);
PyResult<PyRef> store_all_node_ids(StoreObject& self);
PyResult<PyRef> store_node_count(StoreObject& self);
PyResult<PyRef> store_query_nodes(StoreObject& self, FastArgs args);
PyResult<PyRef> store_count_nodes(StoreObject& self, FastArgs args);
PyResult<PyRef> store_get_edges_by_sources(StoreObject& self, FastArgs args);
PyResult<PyRef> store_get_edges_by_targets(StoreObject& self, FastArgs args);
PyResult<PyRef> store_get_node(StoreObject& self, FastArgs args);
PyResult<PyRef> store_all_edges(StoreObject& self);
PyResult<PyRef> store_all_vectors(StoreObject& self);
PyResult<PyRef> store_compact(StoreObject& self);
PyResult<PyRef> store_close(StoreObject& self);

}  // namespace tarnwick::py
