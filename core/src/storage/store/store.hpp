#pragma once
// The persistent memory graph. The whole graph lives in memory; persistence goes only through
// the owned `Storage` backend, as five files:
//   "snapshot.msgpack"  the whole graph at the last compaction (format/snapshot.hpp);
//   "wal.msgpack"       the entries appended since, one frame each (wal/wal.hpp); only its tail
//                       can be torn;
//   "mutations.jsonl"   one JSON record per applied batch, the change history (mutation_log.hpp);
//   "schemas.json", "indexes.json"  definitions written by hand, only ever read.
// A store loads lazily, on the first operation that needs the graph, and never again.
//
// Not safe for concurrent use: the owner serialises every call and must not let the backend call
// back into the store that is calling it.

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "error/error.hpp"
#include "json/json.hpp"
#include "model/records.hpp"
#include "model/seeded_hash.hpp"
#include "storage/store/clock.hpp"
#include "storage/store/index_definition.hpp"
#include "storage/store/mutation_log.hpp"
#include "storage/store/mutation_record.hpp"
#include "storage/store/options.hpp"
#include "storage/store/schema_definitions.hpp"
#include "storage/store/storage.hpp"
#include "storage/store/stored_node.hpp"
#include "storage/wal/wal.hpp"
#include "vector/stored_vector.hpp"
#include "vector/vector_precision.hpp"

namespace tarnwick::store {

class Projection;
struct Candidates;
struct IndexHit;
struct NodeQuery;
struct VerifyReport;

class Store {
 public:
  // Takes the backend; makes no backend call and cannot fail.
  Store(std::unique_ptr<Storage> storage, StoreOptions options, Clock clock = now_millis);

  // ---- State offered to the owner (store.cpp). All but the last three load the store first.
  Result<std::size_t> node_count();
  Result<std::vector<std::string>> node_ids();
  Result<std::vector<std::pair<std::string, Edge>>> edges_snapshot();
  Result<std::vector<std::pair<std::string, std::vector<double>>>> vectors();
  Result<VectorPrecision> precision();
  // Asked anew of the backend on each call; no load, answers on a closed store too.
  StorageCapabilities capabilities() const { return storage_->capabilities(); }
  bool loaded() const { return loaded_; }
  bool closed() const { return closed_; }
  // The closing protocol: a loaded store compacts first and stays open when that fails; a store
  // never loaded closes without any backend call; closing again does nothing.
  Result<void> close();

  // ---- Loading, snapshots, compaction (load.cpp, compact.cpp).
  Result<void> ensure_loaded();
  Result<void> write_snapshot();
  Result<void> compact();

  // ---- Applying a change batch (apply.cpp). The batch is the store's own copy: a caller that
  // has no further use for its batch moves it in and saves copying every record.
  Result<void> apply_with_identity(ChangeBatch batch, const std::optional<std::string>& operation_id,
                                   const std::optional<std::string>& transaction_id,
                                   const std::optional<std::string>& actor, std::optional<std::uint64_t> base_revision,
                                   const std::optional<json::Value>& metadata);

  // ---- Mutation log (mutation_log.cpp).
  Result<std::vector<MutationRecord>> mutation_log();
  Result<std::vector<MutationRecord>> mutation_log_since(std::uint64_t sequence);
  Result<std::vector<MutationRecord>> mutation_log_page(std::uint64_t sequence, std::uint64_t limit);
  Result<std::uint64_t> latest_mutation_sequence();
  // The number of records the log reads as, as `mutation_log().size()` but building none.
  Result<std::uint64_t> mutation_log_length();
  Result<void> trim_mutation_log();
  Result<void> replace_mutation_log(std::span<const MutationRecord> records);

  // ---- Node queries and edge lookups (node_query.cpp, edge_lookup.cpp).
  Result<std::optional<Node>> get_node(std::string_view id);
  Result<std::vector<Node>> query_nodes(const NodeQuery& query);
  Result<std::uint64_t> count_nodes(const NodeQuery& query);
  Result<std::vector<Edge>> get_edges_by_sources(std::span<const std::string> ids,
                                                 const std::optional<std::string>& edge_type);
  Result<std::vector<Edge>> get_edges_by_targets(std::span<const std::string> ids,
                                                 const std::optional<std::string>& edge_type);

  // ---- Verification (verify.cpp): reads the files, never loads the graph.
  Result<VerifyReport> verify();

 private:
  friend struct StoreTestAccess;

  // ---- Definition files (definition_files.cpp): each installs its maps whole or fails,
  // leaving them as they were.
  // "indexes.json": CorruptData "index metadata: {}" (the reading error, placed), InvalidArgument
  // "invalid secondary index {}" or "secondary index {} fields must be unique and non-empty".
  Result<void> install_index_definitions(std::string_view text);
  // "schemas.json": CorruptData "schema metadata: {}", "schema metadata: duplicate node type" or
  // "... edge type", InvalidArgument "invalid schema for node type {}" or "... edge type {}".
  Result<void> install_schemas(std::string_view text);
  // One definition's own rules, InvalidArgument naming its type at the first one broken.
  static Result<void> validate_node_type_definition(const NodeTypeDefinition& definition);
  static Result<void> validate_edge_type_definition(const EdgeTypeDefinition& definition);

  // ---- Derived maps (derived_maps.cpp). Between two operations each holds exactly what
  // `rebuild_indexes` computes from `nodes_`, `edges_` and `index_definitions_`.
  void index_node(const Node& node);        // before the node is stored under its id
  void unindex_node(std::string_view id);   // while the node is still stored
  void index_edge(const Edge& edge);        // after the edge is stored
  void unindex_edge(std::string_view id);   // while the edge is still stored
  void rebuild_indexes();
  // The work of the four above on the id a record is stored under, which a snapshot's entry may
  // give apart from the record's own `id`: the maps always follow the stored id.
  void add_node_entries(const std::string& id, const StoredNode& node);
  void remove_node_entries(const std::string& id, const StoredNode& node);
  // `add_node_entries` for every stored node at once, as `rebuild_indexes` needs it; and the
  // half of it that reads a node's data.
  void add_all_node_entries();
  void add_node_data_entries(const std::string& id, const StoredNode& node);
  // The entries read from more of a node than its type: secondary keys and schema breaches,
  // which only the definitions of indexes and node schemas call for. `AnyNode` is a `Node` or a
  // `StoredNode`; a stored node's keys are read from its data bytes, and it is decoded only for
  // a schema of its type.
  bool entries_read_data(std::string_view type) const;
  template <class AnyNode>
  void add_data_entries(const std::string& id, const AnyNode& node);
  void remove_data_entries(const std::string& id, const StoredNode& node);
  void add_edge_entries(const std::string& id, const Edge& edge);
  void remove_edge_entries(const std::string& id, const Edge& edge);

 public:
  // The node's key text in `definition`: the compact JSON of the array of its `node_field`
  // values in the definition's field order (so 1 and 1.0 give different keys); none when the
  // definition names another node type, or is sparse and a value is null.
  static std::optional<std::string> secondary_key(const Node& node, const SecondaryIndexDefinition& definition);
  static std::optional<std::string> secondary_key(const StoredNode& node, const SecondaryIndexDefinition& definition);
  // The value `path` reaches in a data object ("type" is an ordinary key); null pointer when
  // the object is absent (null pointer) or the path leads nowhere. Points into `data`.
  static const json::Value* data_value(const json::Object* data, std::string_view path);

 private:
  // ---- Checks of a batch over the graph it would leave (schema_checks.cpp, unique_check.cpp).
  // Each costs time in proportion to the batch, not to the graph.
  // Node rules over the batch's puts and the stored nodes known to break a rule (the rest
  // conform and the batch leaves them as they are), then edge rules over the batch's edges in
  // list order. Fails with the first broken rule's InvalidArgument.
  Result<void> validate_schemas(const Projection& projected) const;
  // Per unique definition, the keys the batch's puts hold and the stored keys already held by
  // more than one node: a key two projected nodes hold fails with InvalidArgument
  // "unique index {} conflicts with node {}", naming one holder.
  Result<void> validate_unique_indexes(const Projection& projected) const;
  // A node's rules read only the node: "required field {} is missing for node type {}", then
  // "node field {} must be {}".
  Result<void> validate_node_schema(const Node& node) const;
  // A put edge against the projected graph: endpoints exist, endpoint types, required fields,
  // data types, then the cardinality counted over the projected edges.
  Result<void> validate_edge_schema(const Edge& edge, const Projection& projected) const;
  // Whether another projected edge of `edge`'s type shares its source (`by_source`) or target.
  bool shares_endpoint(const Edge& edge, const Projection& projected, bool by_source) const;

  // ---- Mutation log helpers (mutation_log.cpp).
  // Replaces "mutations.jsonl" with whole lines; a failure may have changed it, so the store
  // goes out of step until repaired.
  Result<void> rewrite_mutation_log(std::string_view content, bool sync);
  // Reads "mutations.jsonl" (lent by the backend where it can) and walks its text with `walk`,
  // when there is such a file, noting whether it ends in a torn piece. The text is gone once
  // the walk returns, so a walk keeps no view of it. Fails with Closed on a closed store, with
  // the backend's error, or as the walk fails.
  using LogWalk = std::function<Result<void>(std::string_view text, bool* tail_dropped)>;
  Result<void> walk_mutation_log_file(const LogWalk& walk);
  // The walk that builds no record (`scan_mutation_log`), then `then` when every line read; the
  // `line` views last until `then` returns, not beyond.
  using AfterScan = std::function<Result<void>()>;
  Result<void> scan_mutation_log_file(const LineVisitor& each, const AfterScan& then = {});

  // ---- Node query helpers (candidates.cpp, node_query.cpp, edge_lookup.cpp).
  // The query's candidates by the first rule that applies; builds no id list.
  Candidates select_candidates(const NodeQuery& query) const;
  // The set under the one secondary-index key that the query's attributes give, from the first
  // definition that can answer for them; none when none can.
  std::optional<IndexHit> indexed_ids(const NodeQuery& query) const;
  // The sets of the distinct listed types (a type with no node adds none), when the query lists
  // types and gives no attribute condition at all; none otherwise.
  std::optional<std::vector<const TextSet*>> type_only_ids(const NodeQuery& query) const;
  // The id sets of the distinct listed types that have nodes.
  std::vector<const TextSet*> type_sets(const std::vector<std::string>& types) const;
  // The node stored under `id`, with the vector stored under `id` attached.
  Node with_vector(std::string_view id, const StoredNode& node) const;
  // The edges listed under the given ids in one adjacency map, grouped in the ids' order.
  std::vector<Edge> edges_listed_under(const TextMap<TextSet>& adjacency, std::span<const std::string> ids,
                                       const std::optional<std::string>& edge_type) const;

  // ---- Loading and applying (load.cpp, apply.cpp, compact.cpp, repair.cpp).
  // Which write failed while it may have changed a file: until the repair succeeds, the files
  // and memory may disagree. A failed batch's WAL append is told apart, so that the repair can
  // drop that batch's frames whole.
  enum class FailedWrite : std::uint8_t { None, WalAppend, Other };

  Result<void> load_files();
  Result<void> load_snapshot(std::span<const std::uint8_t> bytes);
  Result<void> settle_wal_precision(const format::WalContents& wal);
  Result<void> load_mutation_log();
  // One logged change applied to memory, as a batch applies it and a load replays it; the
  // derived maps are kept current only when asked (a load rebuilds them afterwards anyway).
  void apply_entry(format::WalEntry&& entry, bool keep_indexes);
  // Rewrites "wal.msgpack" with its readable entries from position `keep_from` on.
  Result<std::uint64_t> rewrite_wal_from(std::uint64_t keep_from);
  Result<void> check_batch(const ChangeBatch& batch) const;
  Result<void> append_to_wal(std::span<const format::WalEntry> entries);
  Result<void> append_to_mutation_log(std::string_view line);  // line feed included
  Result<void> compact_if_due();
  // A failed write may have changed a file: until `repair` succeeds, files and memory may
  // disagree, and every operation that needs the graph or writes repairs first.
  void mark_out_of_step(FailedWrite what) {
    if (out_of_step_ != FailedWrite::WalAppend) out_of_step_ = what;
  }
  Result<void> repair();
  Result<void> reload();
  // Ends "mutations.jsonl" at a line boundary when its last piece has no line feed, so that the
  // next record is not glued onto it.
  Result<void> settle_mutation_log_tail();

  // Fields, in the order of their meaning: options, the graph, definitions and derived maps, the
  // backend, the mutation-log counters, the precision and the two flags.
  StoreOptions options_;
  TextMap<StoredNode> nodes_;  // `vectors_` holds their vectors under the node's id
  TextMap<Edge> edges_;
  TextMap<StoredVector> vectors_;  // an id here need not be a node's
  TextMap<TextSet> nodes_by_type_;
  TextMap<SecondaryIndexDefinition> index_definitions_;
  TextMap<TextMap<TextSet>> index_entries_;  // index name -> key text -> node ids
  TextMap<NodeTypeDefinition> node_types_;
  TextMap<EdgeTypeDefinition> edge_types_;
  TextMap<TextSet> edges_by_source_;
  TextMap<TextSet> edges_by_target_;
  std::unique_ptr<Storage> storage_;
  TextSet seen_operation_ids_;
  TextSet seen_transaction_ids_;
  std::uint64_t wal_entries_since_snapshot_ = 0;
  std::uint64_t wal_bytes_written_ = 0;  // the size of "wal.msgpack" holding exactly the counted entries
  std::size_t snapshot_size_ = 0;        // of the last snapshot written: room for the next one
  std::uint64_t last_sequence_ = 0;
  VectorPrecision vector_precision_;
  bool precision_known_ = false;
  bool closed_ = false;
  bool loaded_ = false;

  Clock clock_;
  FailedWrite out_of_step_ = FailedWrite::None;
  bool mutation_log_torn_ = false;  // its last piece had no line feed when last read
  std::string line_buffer_;         // each batch's record line, reused

  // ---- Upkeep state of the derived maps and checks (derived_maps.cpp and the checks).
  // Kept by the four operations on one node or edge and recomputed by `rebuild_indexes`, so that
  // a batch's checks cost time in proportion to the batch.
  // Unique index name -> the keys of `index_entries_` held by more than one stored node (only
  // a graph that predates its definition has any).
  TextMap<TextSet> shared_unique_keys_;
  // Ids of stored nodes that break a rule of their type's schema (likewise only a graph that
  // predates its schemas has any).
  TextSet schema_violators_;
};

}  // namespace tarnwick::store
