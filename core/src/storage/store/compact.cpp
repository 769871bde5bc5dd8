// Snapshots and compaction: the whole graph goes into "snapshot.msgpack", and "wal.msgpack" keeps
// only the entries the snapshot does not cover.

#include <vector>

#include "storage/format/snapshot.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

Result<void> Store::write_snapshot() {
  std::vector<format::SnapshotNodeFields> nodes;
  nodes.reserve(nodes_.size());
  for (const auto& [id, node] : nodes_) {
    auto v = vectors_.find(id);
    nodes.push_back(
        {id, node.fields(id), v == vectors_.end() ? std::nullopt : std::optional(format::vector_ref(v->second))});
  }
  std::vector<format::SnapshotEdgeRef> edges;
  edges.reserve(edges_.size());
  for (const auto& [id, edge] : edges_) edges.push_back({id, &edge});
  std::vector<format::SnapshotVectorRef> vectors;
  vectors.reserve(vectors_.size());
  for (const auto& [id, v] : vectors_) vectors.push_back({id, format::vector_ref(v)});

  TARNWICK_TRY_ASSIGN(auto bytes, format::encode_snapshot_fields(nodes, edges, vectors, vector_precision_, true));
  if (auto r = storage_->write(kSnapshotFile, bytes); !r) {
    if (loaded_) mark_out_of_step(FailedWrite::Other);
    return r;
  }
  if (options_.sync_mode == kSyncAfterWrites) {
    TARNWICK_TRY(storage_->sync(kSnapshotFile));
    TARNWICK_TRY(storage_->sync_dir());
  }
  return {};
}

Result<std::uint64_t> Store::rewrite_wal_from(std::uint64_t keep_from) {
  TARNWICK_TRY_ASSIGN(auto bytes, storage_->read(kWalFile));
  if (!bytes || bytes->empty()) return 0;
  // In step, the file holds exactly the counted entries, as this store wrote them: when the
  // snapshot covers them all there is nothing to decode.
  const bool all_covered = out_of_step_ == FailedWrite::None && bytes->size() == wal_bytes_written_ &&
                           keep_from >= wal_entries_since_snapshot_;
  Bytes kept;
  std::uint64_t kept_entries = 0;
  if (!all_covered) {
    TARNWICK_TRY_ASSIGN(format::WalContents wal, format::decode_wal_refusing_damage(*bytes));
    // A frame that holds real data is kept for whoever can read it; only a torn tail is dropped.
    const std::size_t n = wal.entries.size();
    const std::size_t from = keep_from < n ? static_cast<std::size_t>(keep_from) : n;
    TARNWICK_TRY_ASSIGN(kept, format::encode_wal_with_precision(std::span(wal.entries).subspan(from), vector_precision_));
    kept_entries = n - from;
  }
  if (auto r = storage_->write(kWalFile, kept); !r) {
    mark_out_of_step(FailedWrite::Other);
    return fail(r.error());
  }
  wal_bytes_written_ = kept.size();
  return kept_entries;
}

Result<void> Store::compact() {
  TARNWICK_TRY(ensure_loaded());
  if (wal_entries_since_snapshot_ == 0) return {};
  TARNWICK_TRY(write_snapshot());
  TARNWICK_TRY_ASSIGN(wal_entries_since_snapshot_, rewrite_wal_from(wal_entries_since_snapshot_));
  return trim_mutation_log();
}

}  // namespace tarnwick::store
