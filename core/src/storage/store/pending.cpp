// Scaffolding while the store is built in parallel: each function here moves to its own file
// as it is written, and this file goes away with the last one.
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {
std::unexpected<TarnwickError> pending() { return fail(err::NotImplemented{"not built yet"}); }
}  // namespace

Result<std::string> pack_mutation_vectors(const MutationRecord& record, VectorPrecision precision) {
  (void)precision;
  json::Object o;
  o.emplace("operationId", record.operation_id);
  o.emplace("sequence", record.sequence);
  return json::print(o);
}
Result<MutationRecord> read_mutation_line(std::string_view) { return pending(); }

Result<std::vector<MutationRecord>> Store::mutation_log() {
  if (closed_) return fail(err::Closed{});
  TARNWICK_TRY(storage_->read(kMutationLogFile));
  return std::vector<MutationRecord>();
}
Result<void> Store::trim_mutation_log() { return {}; }

Result<void> Store::install_index_definitions(std::string_view) { return pending(); }
Result<void> Store::install_schemas(std::string_view) { return pending(); }

}  // namespace tarnwick::store
