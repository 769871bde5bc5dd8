// Scaffolding while the store is built in parallel: each function here moves to its own file
// as it is written, and this file goes away with the last one.
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {
std::unexpected<TarnwickError> pending() { return fail(err::NotImplemented{"not built yet"}); }
}  // namespace

Result<void> Store::ensure_loaded() {
  if (closed_) return fail(err::Closed{});
  return pending();
}
Result<void> Store::write_snapshot() { return pending(); }
Result<void> Store::compact() { return pending(); }
Result<void> Store::apply_with_identity(const ChangeBatch&, const std::optional<std::string>&,
                                        const std::optional<std::string>&, const std::optional<std::string>&,
                                        std::optional<std::uint64_t>, const std::optional<json::Value>&) {
  return pending();
}

Result<std::vector<MutationRecord>> Store::mutation_log() { return pending(); }

Result<void> Store::install_index_definitions(std::string_view) { return pending(); }
Result<void> Store::install_schemas(std::string_view) { return pending(); }

void Store::index_node(const Node&) {}
void Store::unindex_node(std::string_view) {}
void Store::index_edge(const Edge&) {}
void Store::unindex_edge(std::string_view) {}
void Store::rebuild_indexes() {}

Result<void> Store::validate_schemas(const Projection&) const { return pending(); }
Result<void> Store::validate_unique_indexes(const Projection&) const { return pending(); }

}  // namespace tarnwick::store
