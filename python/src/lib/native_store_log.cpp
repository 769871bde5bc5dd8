// NativeStore's mutation-log methods, verify and capabilities. None of them loads the store but
// replace_mutation_log, which converts its records before taking the lock.

#include <span>
#include <utility>
#include <vector>

#include "lib/json_bridge.hpp"
#include "lib/native_store.hpp"
#include "lib/record_objects.hpp"
#include "storage/store/verify_report.hpp"

namespace tarnwick::py {

namespace {

PyResult<PyRef> records_to_py(const std::vector<store::MutationRecord>& records) {
  return list_of(records, mutation_record_to_py);
}

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

PyResult<PyRef> store_verify(StoreObject& self) {
  auto report = locked(self, [](store::Store& s) { return s.verify(); });
  if (!report) return error_set();
  auto dict = checked(PyDict_New());
  if (!dict) return error_set();
  PyObject* d = dict->get();
  PY_TRY(set_item(d, "ok", flag(report->ok)));
  PY_TRY(set_item(d, "errors", texts_to_py(report->errors)));
  PY_TRY(set_item(d, "nodeCount", count(report->node_count)));
  PY_TRY(set_item(d, "edgeCount", count(report->edge_count)));
  PY_TRY(set_item(d, "vectorCount", count(report->vector_count)));
  PY_TRY(set_item(d, "mutationCount", count(report->mutation_count)));
  return dict;
}

PyResult<PyRef> store_mutation_log(StoreObject& self) {
  auto records = locked(self, [](store::Store& s) { return s.mutation_log(); });
  if (!records) return error_set();
  return records_to_py(*records);
}

PyResult<PyRef> store_replace_mutation_log(StoreObject& self, FastArgs args) {
  static constexpr Parameter kParameters[] = {{"records", true}};
  auto bound = bind<1>({kStoreClass, "replace_mutation_log", kParameters}, args);
  if (!bound) return error_set();
  auto items = list_arg((*bound)[0], "records");
  if (!items) return error_set();
  auto records = records_from_py<store::MutationRecord>(*items);
  if (!records) return error_set();
  PY_TRY(locked(self, [&](store::Store& s) { return s.replace_mutation_log(*records); }));
  return none();
}

PyResult<PyRef> store_mutation_log_since(StoreObject& self, FastArgs args) {
  static constexpr Parameter kParameters[] = {{"sequence", false}};
  auto bound = bind<1>({kStoreClass, "mutation_log_since", kParameters}, args);
  if (!bound) return error_set();
  std::uint64_t sequence = 0;
  if ((*bound)[0] != nullptr) {
    auto given = u64_arg((*bound)[0], "sequence");
    if (!given) return error_set();
    sequence = *given;
  }
  auto records = locked(self, [&](store::Store& s) { return s.mutation_log_since(sequence); });
  if (!records) return error_set();
  return records_to_py(*records);
}

PyResult<PyRef> store_mutation_log_page(StoreObject& self, FastArgs args) {
  static constexpr Parameter kParameters[] = {{"sequence", true}, {"limit", true}};
  auto bound = bind<2>({kStoreClass, "mutation_log_page", kParameters}, args);
  if (!bound) return error_set();
  auto sequence = u64_arg((*bound)[0], "sequence");
  if (!sequence) return error_set();
  auto limit = u64_arg((*bound)[1], "limit");
  if (!limit) return error_set();
  auto records = locked(self, [&](store::Store& s) { return s.mutation_log_page(*sequence, *limit); });
  if (!records) return error_set();
  return records_to_py(*records);
}

PyResult<PyRef> store_latest_mutation_sequence(StoreObject& self) {
  auto sequence = locked(self, [](store::Store& s) { return s.latest_mutation_sequence(); });
  if (!sequence) return error_set();
  return count(*sequence);
}

}  // namespace tarnwick::py
