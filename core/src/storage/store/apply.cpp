// Applying a change batch: every check runs before anything is written; then one append to the
// write-ahead log and one to the mutation log; only then does memory change.

#include <algorithm>
#include <limits>
#include <utility>

#include "model/validate.hpp"
#include "storage/store/batch_line.hpp"
#include "storage/store/projection.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

using format::WalEntry;

void round_to_float32(std::vector<double>& values) {
  for (double& v : values) v = static_cast<double>(static_cast<float>(v));
}

// In a float32 store every later step sees the rounded values, so that memory, both logs and the
// checks agree on every value.
void round_vectors(ChangeBatch& batch, VectorPrecision precision) {
  if (precision != VectorPrecision::Float32) return;
  for (auto& n : batch.put_nodes)
    if (n.vector) round_to_float32(*n.vector);
  for (auto& v : batch.put_vectors) round_to_float32(v.vector);
}

// A record line nesting deeper than the parser reads back would leave a log no load can read.
Result<void> check_nesting(const ChangeBatch& batch, const std::optional<json::Value>& metadata) {
  const auto too_deep = [](const auto& v) { return json::deeper_than(v, json::kMaxValueDepth); };
  const bool deep = std::ranges::any_of(batch.put_nodes, [&](const Node& n) { return too_deep(n.data); }) ||
                    std::ranges::any_of(batch.put_edges, [&](const Edge& e) { return e.data && too_deep(*e.data); }) ||
                    (metadata && too_deep(*metadata));
  if (deep) return fail(err::InvalidArgument{"value is nested too deeply"});
  return {};
}

std::size_t entry_count(const ChangeBatch& b, bool set_precision) {
  return (set_precision ? 1 : 0) + b.delete_node_ids.size() + b.delete_edge_ids.size() + b.delete_vector_ids.size() +
         b.put_nodes.size() + b.put_edges.size() + b.put_vectors.size();
}

// All deletes before all puts, whatever the order of the caller's lists; memory changes in the
// same order, and a load replays it. Consumes the batch.
std::vector<WalEntry> wal_entries(ChangeBatch&& b, std::optional<VectorPrecision> set_precision) {
  std::vector<WalEntry> out;
  out.reserve(entry_count(b, set_precision.has_value()));
  if (set_precision) out.push_back({WalEntry::SetPrecision{*set_precision}});
  for (auto& id : b.delete_node_ids) out.push_back({WalEntry::DeleteNode{std::move(id)}});
  for (auto& id : b.delete_edge_ids) out.push_back({WalEntry::DeleteEdge{std::move(id)}});
  for (auto& id : b.delete_vector_ids) out.push_back({WalEntry::DeleteVector{std::move(id)}});
  for (auto& n : b.put_nodes) out.push_back({WalEntry::PutNode{std::move(n)}});
  for (auto& e : b.put_edges) out.push_back({WalEntry::PutEdge{std::move(e)}});
  for (auto& v : b.put_vectors) out.push_back({WalEntry::PutVector{std::move(v.id), std::move(v.vector)}});
  return out;
}

std::string default_id(std::uint64_t sequence) { return "mutation-" + std::to_string(sequence); }

// The batch's record but its operations, which its line takes from the batch itself, and its
// timestamp, which is read once the log entries are written.
MutationRecord record_identity(std::uint64_t sequence, const std::optional<std::string>& operation_id,
                               const std::optional<std::string>& transaction_id,
                               const std::optional<std::string>& actor, std::optional<std::uint64_t> base_revision,
                               const std::optional<json::Value>& metadata) {
  MutationRecord record;
  record.sequence = sequence;
  record.operation_id = operation_id.value_or(default_id(sequence));
  record.transaction_id = transaction_id.value_or(default_id(sequence));
  record.actor = actor;
  record.base_revision = base_revision;
  record.metadata = metadata;
  return record;
}

}  // namespace

Result<void> Store::apply_with_identity(ChangeBatch batch, const std::optional<std::string>& operation_id,
                                        const std::optional<std::string>& transaction_id,
                                        const std::optional<std::string>& actor,
                                        std::optional<std::uint64_t> base_revision,
                                        const std::optional<json::Value>& metadata) {
  TARNWICK_TRY(ensure_loaded());
  if (operation_id && seen_operation_ids_.contains(*operation_id)) return {};
  if (transaction_id && seen_transaction_ids_.contains(*transaction_id)) return {};

  round_vectors(batch, vector_precision_);
  TARNWICK_TRY(validate_batch(batch));
  TARNWICK_TRY(check_nesting(batch, metadata));
  TARNWICK_TRY(check_batch(batch));

  const bool set_precision = !precision_known_;
  if (entry_count(batch, set_precision) == 0) return {};
  if (last_sequence_ == std::numeric_limits<std::uint64_t>::max())
    return fail(err::RangeOutOfBounds{"mutation sequence exhausted"});
  TARNWICK_TRY(settle_mutation_log_tail());

  MutationRecord record =
      record_identity(last_sequence_ + 1, operation_id, transaction_id, actor, base_revision, metadata);
  const std::size_t timestamp_at = start_batch_line(line_buffer_, record, batch, vector_precision_);
  std::vector<WalEntry> entries =
      wal_entries(std::move(batch), set_precision ? std::optional(vector_precision_) : std::nullopt);
  TARNWICK_TRY(append_to_wal(entries));
  if (set_precision) precision_known_ = true;
  TARNWICK_TRY(append_to_mutation_log(finish_batch_line(line_buffer_, timestamp_at, clock_())));

  last_sequence_ = record.sequence;
  seen_operation_ids_.insert(std::move(record.operation_id));
  seen_transaction_ids_.insert(std::move(record.transaction_id));
  for (auto& e : entries) apply_entry(std::move(e), true);

  wal_entries_since_snapshot_ += entries.size();
  return compact_if_due();
}

// The limit grows with the graph, so that the snapshots a store writes cost, per entry appended,
// a bounded number of record writes however large the graph gets.
Result<void> Store::compact_if_due() {
  const std::uint64_t held = nodes_.size() + edges_.size() + vectors_.size();
  if (wal_entries_since_snapshot_ < std::max(options_.compact_threshold, held / 4)) return {};
  return compact();
}

Result<void> Store::check_batch(const ChangeBatch& batch) const {
  const bool schemas = !node_types_.empty() || !edge_types_.empty();
  const bool unique = std::ranges::any_of(index_definitions_, [](const auto& d) { return d.second.unique; });
  if (!schemas && !unique) return {};
  const Projection projected(nodes_, edges_, batch);
  if (schemas) TARNWICK_TRY(validate_schemas(projected));
  if (unique) TARNWICK_TRY(validate_unique_indexes(projected));
  return {};
}

Result<void> Store::append_to_wal(std::span<const WalEntry> entries) {
  msgpack::Writer out;
  TARNWICK_TRY_ASSIGN(const auto frames, format::encode_wal_into(entries, vector_precision_, out));
  auto r = storage_->append(kWalFile, frames);
  if (r && options_.sync_mode == kSyncAfterWrites) r = storage_->sync(kWalFile);
  if (!r) {
    mark_out_of_step(FailedWrite::WalAppend);
    return r;
  }
  wal_bytes_written_ += frames.size();
  return {};
}

// The batch's frames are already in "wal.msgpack": any failure from here on leaves the files
// ahead of memory, which the repair settles.
Result<void> Store::append_to_mutation_log(std::string_view line) {
  auto r = storage_->append(kMutationLogFile, {reinterpret_cast<const std::uint8_t*>(line.data()), line.size()});
  if (r && options_.sync_mode == kSyncAfterWrites) r = storage_->sync(kMutationLogFile);
  if (!r) mark_out_of_step(FailedWrite::Other);
  return r;
}

}  // namespace tarnwick::store
