// NativeStore's graph reads. Each loads the store first; only get_node builds its Python result
// while holding the lock, the others copy what they need out of the store and build afterwards.

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "lib/json_bridge.hpp"
#include "lib/native_store.hpp"
#include "lib/record_objects.hpp"
#include "lib/vectors.hpp"

namespace tarnwick::py {

namespace {

// An omitted type filter is spelled None; anything else must be the type's text.
PyResult<std::optional<std::string>> edge_type_arg(PyObject* value) {
  if (value == Py_None) return std::optional<std::string>();
  auto text = str_arg(value, "edge_type");
  if (!text) return error_set();
  return std::optional<std::string>(std::string(*text));
}

enum class EdgeEnd { Source, Target };

template <EdgeEnd End>
PyResult<PyRef> edges_at(StoreObject& self, FastArgs args) {
  constexpr const char* kIds = End == EdgeEnd::Source ? "sources" : "targets";
  static constexpr Parameter kParameters[] = {{kIds, true}, {"edge_type", true}};
  auto bound = bind<2>({kStoreClass, End == EdgeEnd::Source ? "get_edges_by_sources" : "get_edges_by_targets",
                        kParameters},
                       args);
  if (!bound) return error_set();
  auto ids = str_list_arg((*bound)[0], kIds);
  if (!ids) return error_set();
  auto edge_type = edge_type_arg((*bound)[1]);
  if (!edge_type) return error_set();
  auto edges = locked(self, [&](store::Store& s) {
    if constexpr (End == EdgeEnd::Source) {
      return s.get_edges_by_sources(*ids, *edge_type);
    } else {
      return s.get_edges_by_targets(*ids, *edge_type);
    }
  });
  if (!edges) return error_set();
  return list_of(*edges, edge_to_py);
}

}  // namespace

PyResult<PyRef> nodes_to_py(std::span<const Node> nodes) { return list_of(nodes, node_to_py); }

PyResult<PyRef> store_vector_precision(StoreObject& self) {
  auto precision = locked(self, [](store::Store& s) { return s.precision(); });
  if (!precision) return error_set();
  return text_to_py(*precision == VectorPrecision::Float32 ? "float32" : "float64");
}

PyResult<PyRef> store_all_node_ids(StoreObject& self) {
  auto ids = locked(self, [](store::Store& s) { return s.node_ids(); });
  if (!ids) return error_set();
  return texts_to_py(*ids);
}

PyResult<PyRef> store_node_count(StoreObject& self) {
  auto count = locked(self, [](store::Store& s) { return s.node_count(); });
  if (!count) return error_set();
  return checked(PyLong_FromSize_t(*count));
}

PyResult<PyRef> store_get_edges_by_sources(StoreObject& self, FastArgs args) {
  return edges_at<EdgeEnd::Source>(self, args);
}

PyResult<PyRef> store_get_edges_by_targets(StoreObject& self, FastArgs args) {
  return edges_at<EdgeEnd::Target>(self, args);
}

PyResult<PyRef> store_get_node(StoreObject& self, FastArgs args) {
  static constexpr Parameter kParameters[] = {{"id", true}};
  auto bound = bind<1>({kStoreClass, "get_node", kParameters}, args);
  if (!bound) return error_set();
  auto id = str_arg((*bound)[0], "id");
  if (!id) return error_set();
  PyResult<PyRef> built = none();
  auto found = locked(self, [&](store::Store& s) -> Result<void> {
    TARNWICK_TRY_ASSIGN(std::optional<Node> node, s.get_node(*id));
    if (node) built = node_to_py(*node);
    return {};
  });
  if (!found) return error_set();
  return built;
}

PyResult<PyRef> store_all_edges(StoreObject& self) {
  auto edges = locked(self, [](store::Store& s) { return s.edges_snapshot(); });
  if (!edges) return error_set();
  return list_of(*edges, [](const std::pair<std::string, Edge>& entry) { return edge_to_py(entry.second); });
}

PyResult<PyRef> store_all_vectors(StoreObject& self) {
  auto vectors = locked(self, [](store::Store& s) { return s.vectors(); });
  if (!vectors) return error_set();
  return list_of(*vectors, [](const std::pair<std::string, std::vector<double>>& entry) -> PyResult<PyRef> {
    auto array = f64_array(entry.second);
    if (!array) return error_set();
    return pair(entry.first, std::move(*array));
  });
}

}  // namespace tarnwick::py
