// NativeStore's node queries: the query dict is read as a NodeQuery before the lock is taken.

#include <utility>

#include "lib/json_bridge.hpp"
#include "lib/native_store.hpp"
#include "storage/store/node_query.hpp"

namespace tarnwick::py {

namespace {

PyResult<store::NodeQuery> query_arg(FastArgs args, const char* method) {
  static constexpr Parameter kParameters[] = {{"query", true}};
  auto bound = bind<1>({kStoreClass, method, kParameters}, args);
  if (!bound) return error_set();
  return py_to_tarnwick<store::NodeQuery>((*bound)[0]);
}

}  // namespace

PyResult<PyRef> store_query_nodes(StoreObject& self, FastArgs args) {
  auto query = query_arg(args, "query_nodes");
  if (!query) return error_set();
  auto nodes = locked(self, [&](store::Store& s) { return s.query_nodes(*query); });
  if (!nodes) return error_set();
  return nodes_to_py(*nodes);
}

PyResult<PyRef> store_count_nodes(StoreObject& self, FastArgs args) {
  auto query = query_arg(args, "count_nodes");
  if (!query) return error_set();
  auto count = locked(self, [&](store::Store& s) { return s.count_nodes(*query); });
  if (!count) return error_set();
  return checked(PyLong_FromUnsignedLongLong(*count));
}

}  // namespace tarnwick::py
