// NativeStore's mutation-log methods, verify and capabilities. None of them loads the store but
// replace_mutation_log, which converts its records before taking the lock.

#include <span>
#include <utility>
#include <vector>

#include "lib/json_bridge.hpp"
#include "lib/native_store.hpp"

namespace tarnwick::py {

namespace {

// Sets `dict[key] = value`, taking over the value.
PyResult<void> set_item(PyObject* dict, const char* key, PyResult<PyRef> value) {
  if (!value) return error_set();
  if (PyDict_SetItemString(dict, key, value->get()) != 0) return error_set();
  return {};
}

PyResult<PyRef> flag(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }

PyResult<PyRef> count(std::uint64_t n) { return checked(PyLong_FromUnsignedLongLong(n)); }

const char* vector_search_text(store::VectorSearchSupport support) {
  switch (support) {
    case store::VectorSearchSupport::None:
      return "none";
    case store::VectorSearchSupport::Exact:
      return "exact";
    case store::VectorSearchSupport::Ann:
      return "ann";
  }
  return "none";
}

}  // namespace

PyResult<PyRef> store_capabilities(StoreObject& self) {
  auto caps = locked(self, [](store::Store& s) -> Result<store::StorageCapabilities> { return s.capabilities(); });
  if (!caps) return error_set();
  auto dict = checked(PyDict_New());
  if (!dict) return error_set();
  PyObject* d = dict->get();
  PY_TRY(set_item(d, "atomicBatches", flag(caps->atomic_batches)));
  PY_TRY(set_item(d, "transactions", flag(caps->transactions)));
  PY_TRY(set_item(d, "fsync", flag(caps->fsync)));
  PY_TRY(set_item(d, "secondaryIndexes", flag(caps->secondary_indexes)));
  PY_TRY(set_item(d, "snapshots", flag(caps->snapshots)));
  PY_TRY(set_item(d, "changeFeed", flag(caps->change_feed)));
  PY_TRY(set_item(d, "concurrentWriters", flag(caps->concurrent_writers)));
  PY_TRY(set_item(d, "vectorSearch", text_to_py(vector_search_text(caps->vector_search))));
  return dict;
}

PyResult<PyRef> store_latest_mutation_sequence(StoreObject& self) {
  auto sequence = locked(self, [](store::Store& s) { return s.latest_mutation_sequence(); });
  if (!sequence) return error_set();
  return count(*sequence);
}

}  // namespace tarnwick::py
