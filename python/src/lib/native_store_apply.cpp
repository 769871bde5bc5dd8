// NativeStore.apply: every Python value becomes part of one ChangeBatch before the lock is
// taken, so bad input never reaches the store. Order of the first failure reported: argument
// extraction in parameter order, then nodes, edges, vectors, and the metadata last.
//
// Records are read in place by the direct reader; at anything it declines, the general
// conversion (Python -> JSON value -> record) reads the whole call again from the first node
// and decides the result and the first error.

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lib/direct_reader.hpp"
#include "lib/json_bridge.hpp"
#include "lib/native_store.hpp"

namespace tarnwick::py {

namespace {

constexpr std::array<Parameter, 11> kParameters{{
    {"put_nodes", false},
    {"delete_node_ids", false},
    {"put_edges", false},
    {"delete_edge_ids", false},
    {"put_vectors", false},
    {"delete_vector_ids", false},
    {"operation_id", false},
    {"transaction_id", false},
    {"actor", false},
    {"base_revision", false},
    {"metadata", false},
}};

// The arguments as extracted, before any record is converted.
struct Extracted {
  std::vector<PyRef> put_nodes, put_edges, put_vectors;
  std::vector<std::string> delete_node_ids, delete_edge_ids, delete_vector_ids;
  std::optional<std::string> operation_id, transaction_id, actor;
  std::optional<std::uint64_t> base_revision;
  PyObject* metadata = nullptr;  // borrowed from the call's arguments
};

struct Identity {
  std::optional<std::string> operation_id, transaction_id, actor;
  std::optional<std::uint64_t> base_revision;
  std::optional<json::Value> metadata;
};

bool given(PyObject* value) { return value != nullptr && value != Py_None; }

PyResult<void> objects(PyObject* value, std::size_t slot, std::vector<PyRef>& out) {
  if (value == nullptr) return {};
  auto items = list_arg(value, kParameters[slot].name);
  if (!items) return error_set();
  out = std::move(*items);
  return {};
}

PyResult<void> ids(PyObject* value, std::size_t slot, std::vector<std::string>& out) {
  if (value == nullptr) return {};
  auto items = str_list_arg(value, kParameters[slot].name);
  if (!items) return error_set();
  out = std::move(*items);
  return {};
}

PyResult<void> optional_text(PyObject* value, std::size_t slot, std::optional<std::string>& out) {
  if (!given(value)) return {};
  auto text = str_arg(value, kParameters[slot].name);
  if (!text) return error_set();
  out = std::string(*text);
  return {};
}

PyResult<Extracted> extract(const Bound<11>& bound) {
  Extracted e;
  PY_TRY(objects(bound[0], 0, e.put_nodes));
  PY_TRY(ids(bound[1], 1, e.delete_node_ids));
  PY_TRY(objects(bound[2], 2, e.put_edges));
  PY_TRY(ids(bound[3], 3, e.delete_edge_ids));
  PY_TRY(objects(bound[4], 4, e.put_vectors));
  PY_TRY(ids(bound[5], 5, e.delete_vector_ids));
  PY_TRY(optional_text(bound[6], 6, e.operation_id));
  PY_TRY(optional_text(bound[7], 7, e.transaction_id));
  PY_TRY(optional_text(bound[8], 8, e.actor));
  if (given(bound[9])) {
    auto revision = u64_arg(bound[9], "base_revision");
    if (!revision) return error_set();
    e.base_revision = *revision;
  }
  if (given(bound[10])) e.metadata = bound[10];
  return e;
}

// The records and metadata read from the Python values.
struct Converted {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
  std::vector<VectorEntry> vectors;
  std::optional<json::Value> metadata;
};

DirectResult<Converted> convert_directly(const Extracted& e) {
  Converted c;
  auto nodes = read_records_directly<Node>(e.put_nodes);
  if (!nodes) return std::unexpected(nodes.error());
  auto edges = read_records_directly<Edge>(e.put_edges);
  if (!edges) return std::unexpected(edges.error());
  auto vectors = read_records_directly<VectorEntry>(e.put_vectors);
  if (!vectors) return std::unexpected(vectors.error());
  if (e.metadata != nullptr) {
    auto metadata = read_value_directly(e.metadata);
    if (!metadata) return std::unexpected(metadata.error());
    c.metadata = std::move(*metadata);
  }
  c.nodes = std::move(*nodes);
  c.edges = std::move(*edges);
  c.vectors = std::move(*vectors);
  return c;
}

PyResult<Converted> convert_generally(const Extracted& e) {
  Converted c;
  auto nodes = records_from_py<Node>(e.put_nodes);
  if (!nodes) return error_set();
  auto edges = records_from_py<Edge>(e.put_edges);
  if (!edges) return error_set();
  auto vectors = records_from_py<VectorEntry>(e.put_vectors);
  if (!vectors) return error_set();
  if (e.metadata != nullptr) {
    auto metadata = py_to_json(e.metadata);
    if (!metadata) return error_set();
    c.metadata = std::move(*metadata);
  }
  c.nodes = std::move(*nodes);
  c.edges = std::move(*edges);
  c.vectors = std::move(*vectors);
  return c;
}

PyResult<void> convert(Extracted& e, ChangeBatch& batch, Identity& identity) {
  auto direct = convert_directly(e);
  if (!direct && direct.error() == DirectStop::Raised) return error_set();
  PyResult<Converted> converted = direct ? PyResult<Converted>(std::move(*direct)) : convert_generally(e);
  if (!converted) return error_set();
  batch.put_nodes = std::move(converted->nodes);
  batch.delete_node_ids = std::move(e.delete_node_ids);
  batch.put_edges = std::move(converted->edges);
  batch.delete_edge_ids = std::move(e.delete_edge_ids);
  batch.put_vectors = std::move(converted->vectors);
  batch.delete_vector_ids = std::move(e.delete_vector_ids);
  identity.metadata = std::move(converted->metadata);
  identity.operation_id = std::move(e.operation_id);
  identity.transaction_id = std::move(e.transaction_id);
  identity.actor = std::move(e.actor);
  identity.base_revision = e.base_revision;
  return {};
}

}  // namespace

PyResult<PyRef> store_apply(StoreObject& self, FastArgs args) {
  auto bound = bind<11>({kStoreClass, "apply", kParameters}, args);
  if (!bound) return error_set();
  auto extracted = extract(*bound);
  if (!extracted) return error_set();
  ChangeBatch batch;
  Identity identity;
  PY_TRY(convert(*extracted, batch, identity));
  PY_TRY(locked(self, [&](store::Store& s) {
    return s.apply_with_identity(std::move(batch), identity.operation_id, identity.transaction_id, identity.actor,
                                 identity.base_revision, identity.metadata);
  }));
  return none();
}

}  // namespace tarnwick::py
