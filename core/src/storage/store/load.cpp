// Loading: definitions, then the snapshot, then the write-ahead log replayed over it and folded
// into a new snapshot, then the derived maps and the mutation log's counters. Each step replaces
// what it loads, so a failed load can simply run again from the files.

#include <algorithm>
#include <string>
#include <utility>

#include "error/overload.hpp"
#include "storage/format/snapshot.hpp"
#include "storage/store/store.hpp"

namespace tarnwick::store {

namespace {

std::string_view precision_name(VectorPrecision p) { return p == VectorPrecision::Float32 ? "Float32" : "Float64"; }

std::string_view text_of(const Bytes& bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

Result<void> Store::ensure_loaded() {
  if (closed_) return fail(err::Closed{});
  if (out_of_step_ != FailedWrite::None) TARNWICK_TRY(repair());
  if (loaded_) return {};
  return load_files();
}

Result<void> Store::load_files() {
  TARNWICK_TRY_ASSIGN(auto indexes, storage_->read(kIndexesFile));
  if (indexes) TARNWICK_TRY(install_index_definitions(text_of(*indexes)));
  TARNWICK_TRY_ASSIGN(auto schemas, storage_->read(kSchemasFile));
  if (schemas) TARNWICK_TRY(install_schemas(text_of(*schemas)));

  {
    // The snapshot's bytes go as soon as they are decoded, before the log is read.
    Bytes scratch;
    TARNWICK_TRY_ASSIGN(auto snapshot, storage_->read_lent(kSnapshotFile, scratch));
    if (snapshot) TARNWICK_TRY(load_snapshot(*snapshot));
  }

  TARNWICK_TRY_ASSIGN(auto wal_bytes, storage_->read(kWalFile));
  if (wal_bytes && !wal_bytes->empty()) {
    TARNWICK_TRY_ASSIGN(format::WalContents wal, format::decode_wal_refusing_damage(*wal_bytes));
    TARNWICK_TRY(settle_wal_precision(wal));
    for (auto& entry : wal.entries) apply_entry(std::move(entry), false);
    TARNWICK_TRY(write_snapshot());
    TARNWICK_TRY(storage_->remove(kWalFile));
    wal_entries_since_snapshot_ = 0;
    wal_bytes_written_ = 0;
  }
  rebuild_indexes();
  TARNWICK_TRY(load_mutation_log());
  loaded_ = true;
  return {};
}

Result<void> Store::load_snapshot(std::span<const std::uint8_t> bytes) {
  // Entries are stored as they are read, into new maps installed only once the whole file has
  // read. The last entry of an id wins. A node's own vector counts for the entry that survives,
  // and only when the "vectors" list has none under its id; the node's entry id is the one it is
  // stored under, whatever its own `id` field says. The precision comes last in the file, so
  // listed vectors are held exactly as read until it settles them, and node vectors are left in
  // the file until it is known which count: none is built only to be dropped.
  TextMap<StoredNode> nodes;
  TextMap<Edge> edges;
  TextMap<StoredVector> listed;               // the "vectors" list
  TextMap<msgpack::Cursor> carried_in_place;  // the surviving node entries' vectors, in the file
  TextMap<StoredVector> carried;              // the same as read into the node
  // Decoded nodes wait in a short run and go into the map together: each insertion waits on
  // misses in a map far larger than the caches, which a run of independent insertions overlaps
  // and one between two decodes waits out alone.
  constexpr std::size_t kRun = 64;
  std::vector<std::pair<std::string, StoredNode>> run;
  run.reserve(kRun);
  const auto store_run = [&] {
    for (auto& [id, stored] : run) nodes.insert_or_assign(std::move(id), std::move(stored));
    run.clear();
  };
  const format::SnapshotTaker taker{
      [&](std::string& id, Node& node, const format::NodeLeftInPlace* left) {
        // Hashing costs more than the check: most ids come once, and most nodes carry no vector.
        if (!carried_in_place.empty()) carried_in_place.erase(id);
        if (!carried.empty()) carried.erase(id);
        if (left && left->vector) carried_in_place.emplace(id, *left->vector);
        if (node.vector) carried.emplace(id, StoredVector::exact(std::move(*node.vector)));
        StoredNode stored = left && left->data ? StoredNode(id, std::move(node), *left->data)
                                               : StoredNode(id, std::move(node));
        run.emplace_back(std::move(id), std::move(stored));
        if (run.size() == kRun) store_run();
      },
      [&](std::string& id, Edge& edge) { edges.insert_or_assign(std::move(id), std::move(edge)); },
      [&](std::string& id, std::vector<double>& values) {
        listed.insert_or_assign(std::move(id), StoredVector::exact(std::move(values)));
      },
      true,
      [&](std::size_t count) { nodes.reserve(count); },
  };
  std::optional<VectorPrecision> precision = format::pull_snapshot_into(bytes, taker);
  store_run();
  if (!precision) {
    // The fast reader refused the file: the full decoder names the fault, or, should the two
    // ever disagree, gives the records, which it is the reference for.
    TARNWICK_TRY_ASSIGN(auto data, format::decode_snapshot(bytes));
    nodes.clear();
    edges.clear();
    listed.clear();
    carried_in_place.clear();
    carried.clear();
    for (auto& [id, node] : data.nodes) taker.node(id, node, nullptr);
    store_run();
    for (auto& [id, edge] : data.edges) taker.edge(id, edge);
    for (auto& [id, values] : data.vectors) taker.vector(id, values);
    precision = data.precision;
  }
  if (options_.vector_precision && *options_.vector_precision != *precision)
    return fail(err::InvalidArgument{std::string("store vector precision mismatch: uses ") +
                                     std::string(precision_name(*precision)) + ", requested " +
                                     std::string(precision_name(*options_.vector_precision)) +
                                     "; use offline precision migration"});
  vector_precision_ = *precision;
  precision_known_ = true;

  // The list's entry wins over the node's; a store lists every vector a node carries.
  TextMap<StoredVector> vectors = std::move(listed);
  const auto unlisted = [&](const auto& carried_map) {
    return std::ranges::count_if(carried_map, [&](const auto& entry) { return !vectors.contains(entry.first); });
  };
  vectors.reserve(vectors.size() + static_cast<std::size_t>(unlisted(carried_in_place) + unlisted(carried)));
  for (auto& entry : vectors) entry.second = std::move(entry.second).at(vector_precision_);
  for (auto& [id, v] : carried) vectors.try_emplace(id, std::move(v).at(vector_precision_));
  std::vector<double> values;
  for (const auto& [id, at] : carried_in_place) {
    if (vectors.contains(id)) continue;
    format::read_vector_left_in_place(at, values);
    vectors.emplace(id, StoredVector::make(values, vector_precision_));
  }
  nodes_ = std::move(nodes);
  edges_ = std::move(edges);
  vectors_ = std::move(vectors);
  return {};
}

Result<void> Store::settle_wal_precision(const format::WalContents& wal) {
  const auto first = std::find_if(wal.entries.begin(), wal.entries.end(), [](const format::WalEntry& e) {
    return std::holds_alternative<format::WalEntry::SetPrecision>(e.value);
  });
  if (first == wal.entries.end()) {
    if (!precision_known_ && options_.vector_precision == VectorPrecision::Float32)
      return fail(err::InvalidArgument{"legacy WAL store uses float64 vectors"});
    return {};
  }
  const VectorPrecision logged = std::get<format::WalEntry::SetPrecision>(first->value).precision;
  if (precision_known_) {
    if (logged != vector_precision_) return fail(corrupt("WAL precision conflicts with snapshot precision"));
    return {};
  }
  if (options_.vector_precision && *options_.vector_precision != logged)
    return fail(err::InvalidArgument{"store vector precision does not match requested precision"});
  vector_precision_ = logged;
  precision_known_ = true;
  return {};
}

void Store::apply_entry(format::WalEntry&& entry, bool keep_indexes) {
  using format::WalEntry;
  std::visit(Overload{
                 [&](WalEntry::PutNode& p) {
                   if (keep_indexes) index_node(p.node);
                   if (p.node.vector) {
                     vectors_.insert_or_assign(p.node.id, StoredVector::make(*p.node.vector, vector_precision_));
                     p.node.vector.reset();
                   }
                   std::string id = p.node.id;
                   StoredNode stored(id, std::move(p.node));
                   nodes_.insert_or_assign(std::move(id), std::move(stored));
                 },
                 [&](WalEntry::DeleteNode& d) {
                   if (keep_indexes) unindex_node(d.id);
                   nodes_.erase(d.id);
                 },
                 [&](WalEntry::PutEdge& p) {
                   if (keep_indexes) unindex_edge(p.edge.id);
                   std::string id = p.edge.id;
                   auto [it, inserted] = edges_.insert_or_assign(std::move(id), std::move(p.edge));
                   if (keep_indexes) index_edge(it->second);
                 },
                 [&](WalEntry::DeleteEdge& d) {
                   if (keep_indexes) unindex_edge(d.id);
                   edges_.erase(d.id);
                 },
                 [&](WalEntry::PutVector& p) {
                   vectors_.insert_or_assign(std::move(p.id), StoredVector::make(p.vector, vector_precision_));
                 },
                 [&](WalEntry::DeleteVector& d) { vectors_.erase(d.id); },
                 [&](WalEntry::ClearAll&) {
                   nodes_.clear();
                   edges_.clear();
                   vectors_.clear();
                   nodes_by_type_.clear();
                   edges_by_source_.clear();
                   edges_by_target_.clear();
                 },
                 [&](WalEntry::SetPrecision& s) {
                   vector_precision_ = s.precision;
                   precision_known_ = true;
                 },
             },
             entry.value);
}

Result<void> Store::load_mutation_log() {
  std::uint64_t last = 0;
  TextSet operations, transactions;
  TARNWICK_TRY(scan_mutation_log_file([&](std::string_view, const LineFacts& facts) {
    last = facts.sequence;
    operations.insert(facts.operation_id);
    transactions.insert(facts.transaction_id);
  }));
  last_sequence_ = last;
  seen_operation_ids_ = std::move(operations);
  seen_transaction_ids_ = std::move(transactions);
  return {};
}

}  // namespace tarnwick::store
