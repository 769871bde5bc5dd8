#include "storage/store/store.hpp"

#include <utility>

namespace tarnwick::store {

Store::Store(std::unique_ptr<Storage> storage, StoreOptions options, Clock clock)
    : options_(std::move(options)),
      storage_(std::move(storage)),
      vector_precision_(options_.vector_precision.value_or(VectorPrecision::Float64)),
      clock_(clock) {}

Result<std::size_t> Store::node_count() {
  TARNWICK_TRY(ensure_loaded());
  return nodes_.size();
}

Result<std::vector<std::string>> Store::node_ids() {
  TARNWICK_TRY(ensure_loaded());
  std::vector<std::string> out;
  out.reserve(nodes_.size());
  for (const auto& entry : nodes_) out.push_back(entry.first);
  return out;
}

Result<std::vector<std::pair<std::string, Edge>>> Store::edges_snapshot() {
  TARNWICK_TRY(ensure_loaded());
  return std::vector<std::pair<std::string, Edge>>(edges_.begin(), edges_.end());
}

Result<std::vector<std::pair<std::string, std::vector<double>>>> Store::vectors() {
  TARNWICK_TRY(ensure_loaded());
  std::vector<std::pair<std::string, std::vector<double>>> out;
  out.reserve(vectors_.size());
  for (const auto& [id, v] : vectors_) out.emplace_back(id, v.to_f64());
  return out;
}

Result<VectorPrecision> Store::precision() {
  TARNWICK_TRY(ensure_loaded());
  return vector_precision_;
}

Result<void> Store::close() {
  if (closed_) return {};
  if (loaded_) TARNWICK_TRY(compact());
  closed_ = true;
  return {};
}

}  // namespace tarnwick::store
