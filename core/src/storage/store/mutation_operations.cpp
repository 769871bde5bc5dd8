#include "storage/store/mutation_operations.hpp"

#include <string_view>

namespace tarnwick::store {

namespace {

json::Value id_payload(const std::string& id) {
  json::Object o;
  o.emplace("id", id);
  return o;
}

void add_deletes(std::string_view kind, const std::vector<std::string>& ids, std::vector<MutationOperation>& out) {
  for (const auto& id : ids) out.push_back({std::string(kind), id_payload(id)});
}

}  // namespace

std::vector<MutationOperation> mutation_operations(const ChangeBatch& batch) {
  std::vector<MutationOperation> out;
  out.reserve(batch.put_nodes.size() + batch.delete_node_ids.size() + batch.put_edges.size() +
              batch.delete_edge_ids.size() + batch.put_vectors.size() + batch.delete_vector_ids.size());
  for (const auto& n : batch.put_nodes) out.push_back({"putNode", n.serialize()});
  add_deletes("deleteNode", batch.delete_node_ids, out);
  for (const auto& e : batch.put_edges) out.push_back({"putEdge", e.serialize()});
  add_deletes("deleteEdge", batch.delete_edge_ids, out);
  for (const auto& v : batch.put_vectors) out.push_back({"putVector", v.serialize()});
  add_deletes("deleteVector", batch.delete_vector_ids, out);
  return out;
}

}  // namespace tarnwick::store
