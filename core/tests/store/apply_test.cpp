// Applying batches: what each batch writes, what it leaves in memory, when it compacts, and
// what a new store loads from the files it leaves.

#include <gtest/gtest.h>

#include <limits>

#include "storage/wal/wal.hpp"
#include "store/store_fixture.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::test {
namespace {

using format::WalEntry;
using store::StoreOptions;
using store::StoreTestAccess;

std::vector<WalEntry> wal_of(const Disk& disk) {
  auto it = disk.files.find("wal.msgpack");
  return it == disk.files.end() ? std::vector<WalEntry>{} : format::decode_wal(it->second).entries;
}

// Everything a reader can see of a store's graph, in a stable order.
struct Graph {
  std::vector<std::string> nodes;
  std::vector<std::pair<std::string, Edge>> edges;
  std::vector<std::pair<std::string, std::vector<double>>> vectors;
  friend bool operator==(const Graph&, const Graph&) = default;
};
Graph graph_of(store::Store& s) {
  Graph g{s.node_ids().value(), s.edges_snapshot().value(), s.vectors().value()};
  std::ranges::sort(g.nodes);
  std::ranges::sort(g.edges, {}, &std::pair<std::string, Edge>::first);
  std::ranges::sort(g.vectors);
  return g;
}

ChangeBatch mixed_batch() {
  ChangeBatch b;
  Node a = make_node("a", "note", json::Object{{"n", 2.0}});
  a.vector = std::vector<double>{0.5, 1};
  b.put_nodes = {a, make_node("b")};
  b.put_edges = {make_edge("e1", "a", "b"), make_edge("loop", "a", "a")};
  b.put_vectors = {{"free", {3, 4}}};
  return b;
}

TEST(StoreApply, FirstBatchLeadsWithPrecisionThenDeletesThenPuts) {
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  ChangeBatch b = mixed_batch();
  b.delete_vector_ids = {"x"};
  b.delete_node_ids = {"a"};  // deleted and put in one batch: the put stands
  ASSERT_TRUE(apply(*s, b));
  const auto entries = wal_of(*disk);
  std::vector<std::string_view> kinds;
  for (const auto& e : entries) kinds.push_back(format::kWalKinds[e.value.index()]);
  EXPECT_EQ(kinds, (std::vector<std::string_view>{"setPrecision", "deleteNode", "deleteVector", "putNode", "putNode",
                                                  "putEdge", "putEdge", "putVector"}));
  EXPECT_TRUE(StoreTestAccess::precision_known(*s));
  EXPECT_EQ(StoreTestAccess::wal_entries_since_snapshot(*s), 8u);
  EXPECT_EQ(s->node_count().value(), 2u);

  // An empty batch now writes nothing; the first one of a new store writes a precision entry.
  const auto calls = disk->calls.size();
  ASSERT_TRUE(apply(*s, ChangeBatch{}));
  EXPECT_EQ(disk->calls.size(), calls);
  auto fresh_disk = std::make_shared<Disk>();
  auto fresh = open_store(fresh_disk);
  ASSERT_TRUE(apply(*fresh, ChangeBatch{}));
  EXPECT_EQ(wal_of(*fresh_disk).size(), 1u);
  EXPECT_EQ(StoreTestAccess::last_sequence(*fresh), 1u);
}

TEST(StoreApply, ANewStoreLoadsTheSameGraphFromTheLogAndFromASnapshot) {
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  ASSERT_TRUE(apply(*s, mixed_batch()));
  ChangeBatch second;
  second.delete_node_ids = {"b"};  // its edges and vector stay
  second.delete_edge_ids = {"loop"};
  second.put_nodes = {make_node("a", "note", json::Object{{"n", 2.0}})};  // no vector: the stored one stays
  ASSERT_TRUE(apply(*s, second));
  const Graph expected = graph_of(*s);
  EXPECT_EQ(expected.nodes, (std::vector<std::string>{"a"}));
  EXPECT_EQ(expected.vectors.size(), 2u);

  auto from_wal = open_store(std::make_shared<Disk>(*disk));
  EXPECT_EQ(graph_of(*from_wal), expected);
  ASSERT_TRUE(s->compact());
  EXPECT_EQ(disk->files.at("wal.msgpack").size(), 0u);  // the file stays, empty
  auto from_snapshot = open_store(std::make_shared<Disk>(*disk));
  EXPECT_EQ(graph_of(*from_snapshot), expected);
  // Data keeps its doubles through both files: 2.0 comes back as a double.
  EXPECT_TRUE(StoreTestAccess::node_record(*from_wal, "a").data.at("n").is_double());
  EXPECT_TRUE(StoreTestAccess::node_record(*from_snapshot, "a").data.at("n").is_double());
}

TEST(StoreApply, Float32StoresRoundBeforeValidating) {
  auto disk = std::make_shared<Disk>();
  StoreOptions options;
  options.vector_precision = VectorPrecision::Float32;
  auto s = open_store(disk, options);
  ChangeBatch b;
  b.put_vectors = {{"v", {0.1}}};
  ASSERT_TRUE(apply(*s, b));
  EXPECT_EQ(s->vectors().value()[0].second, std::vector<double>{0.10000000149011612});
  const auto entries = wal_of(*disk);
  const auto& logged = std::get<WalEntry::PutVector>(entries.back().value);
  EXPECT_EQ(logged.vector, std::vector<double>{0.10000000149011612});
  b.put_vectors = {{"w", {1e39}}};
  EXPECT_EQ(error_text(apply(*s, b)), "invalid_argument: vector must contain finite values");
}

TEST(StoreApply, RepeatedIdentityIsANoOpEvenForAnInvalidBatch) {
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  ASSERT_TRUE(s->apply_with_identity(put_nodes({make_node("a")}), "op", std::nullopt, std::nullopt, std::nullopt,
                                     std::nullopt));
  const auto calls = disk->calls.size();
  const ChangeBatch invalid = put_nodes({make_node("")});
  EXPECT_TRUE(s->apply_with_identity(invalid, "op", std::nullopt, std::nullopt, std::nullopt, std::nullopt));
  // The default transaction id of the first batch is "mutation-1".
  EXPECT_TRUE(s->apply_with_identity(invalid, "new", "mutation-1", std::nullopt, std::nullopt, std::nullopt));
  EXPECT_EQ(disk->calls.size(), calls);
  EXPECT_EQ(error_text(s->apply_with_identity(invalid, "mutation-1", std::nullopt, std::nullopt, std::nullopt,
                                              std::nullopt)),
            "invalid_argument: node id must not be empty");  // ids are looked up in their own set
}

TEST(StoreApply, RefusalsBeforeAnythingIsWritten) {
  json::Value deep = json::Array{};
  for (int i = 0; i < 99; ++i) deep = json::Array{deep};  // 100 levels: accepted
  json::Object data{{"d", deep}};                         // 101 with the data object
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  ASSERT_TRUE(s->node_count());
  const auto calls = disk->calls.size();
  EXPECT_EQ(error_text(apply(*s, put_nodes({make_node("a", "t", data)}))),
            "invalid_argument: value is nested too deeply");
  EXPECT_EQ(error_text(s->apply_with_identity(ChangeBatch{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                              json::Value(json::Array{json::Array{}}))),
            "ok");  // shallow metadata passes
  EXPECT_EQ(error_text(s->apply_with_identity(ChangeBatch{}, std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                              json::Value(json::Array{deep}))),
            "invalid_argument: value is nested too deeply");
  EXPECT_TRUE(apply(*s, put_nodes({make_node("a", "t", json::Object{{"d", json::Array{}}}), make_node("b", "t",
                                                                                                   json::Object{})})));

  StoreTestAccess::last_sequence(*s) = std::numeric_limits<std::uint64_t>::max();
  const auto before = disk->files;
  EXPECT_EQ(error_text(apply(*s, put_nodes({make_node("c")}))), "range_out_of_bounds: mutation sequence exhausted");
  EXPECT_EQ(disk->files, before);
  EXPECT_GT(disk->calls.size(), calls);
}

TEST(StoreApply, CompactionWaitsForTheThresholdOrAQuarterOfTheRecords) {
  auto disk = std::make_shared<Disk>();
  StoreOptions options;
  options.compact_threshold = 3;
  auto s = open_store(disk, options);
  ASSERT_TRUE(apply(*s, put_nodes({make_node("a")})));  // setPrecision + putNode: 2
  EXPECT_FALSE(disk->files.contains("snapshot.msgpack"));
  ASSERT_TRUE(apply(*s, put_nodes({make_node("b")})));  // 3: compacts
  EXPECT_TRUE(disk->files.contains("snapshot.msgpack"));
  EXPECT_EQ(StoreTestAccess::wal_entries_since_snapshot(*s), 0u);

  // With 40 records held, the limit is 10, not 3.
  std::vector<Node> many;
  for (int i = 0; i < 38; ++i) many.push_back(make_node("n" + std::to_string(i)));
  ASSERT_TRUE(apply(*s, put_nodes(many)));  // 38 entries >= max(3, 40 / 4): compacts
  EXPECT_EQ(StoreTestAccess::wal_entries_since_snapshot(*s), 0u);
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(apply(*s, put_nodes({make_node("n0")})));
  EXPECT_EQ(StoreTestAccess::wal_entries_since_snapshot(*s), 9u);
  ASSERT_TRUE(apply(*s, put_nodes({make_node("n0")})));
  EXPECT_EQ(StoreTestAccess::wal_entries_since_snapshot(*s), 0u);
}

TEST(StoreApply, SyncModeTwoSyncsEachAppendAndSnapshot) {
  auto disk = std::make_shared<Disk>();
  StoreOptions options;
  options.sync_mode = store::kSyncAfterWrites;
  options.compact_threshold = 2;
  auto s = open_store(disk, options);
  ASSERT_TRUE(apply(*s, put_nodes({make_node("a")})));
  auto names = disk->call_names();
  names.erase(names.begin(), names.begin() + 5);
  EXPECT_EQ(names, (std::vector<std::string>{"append wal.msgpack", "sync wal.msgpack", "append mutations.jsonl",
                                             "sync mutations.jsonl", "write snapshot.msgpack",
                                             "sync snapshot.msgpack", "sync_dir", "read wal.msgpack",
                                             "write wal.msgpack"}));
}

TEST(StoreApply, AFailedCompactionInCloseLeavesTheStoreOpenAndItsBatchesKept) {
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  ASSERT_TRUE(apply(*s, put_nodes({make_node("a")})));
  disk->fail_call = disk->calls.size();  // the snapshot write of the compaction
  EXPECT_EQ(error_text(s->close()), "storage: injected failure");
  EXPECT_FALSE(s->closed());
  disk->fail_call.reset();
  EXPECT_EQ(s->node_count().value(), 1u);  // repaired first, then answered
  ASSERT_TRUE(apply(*s, put_nodes({make_node("b")})));
  ASSERT_TRUE(s->close());
  EXPECT_TRUE(s->closed());
  EXPECT_EQ(open_store(disk)->node_count().value(), 2u);
  EXPECT_EQ(open_store(disk)->mutation_log()->size(), 2u);
}

TEST(StoreApply, AppendsNeverLandBehindAPieceThatIsNoRecord) {
  // A whole record line, to build damaged logs from.
  auto source = std::make_shared<Disk>();
  ASSERT_TRUE(apply(*open_store(source), put_nodes({make_node("a")})));
  const std::string line = source->text("mutations.jsonl");
  const std::string body = line.substr(0, line.size() - 1);
  struct Case {
    std::string log;
    std::size_t records_after;  // once one more batch is appended
  };
  const Case cases[] = {
      {body, 2},                                // torn only by its missing line feed: kept
      {body.substr(0, 20), 1},                  // cut inside the text: dropped
      {line + body.substr(0, 20) + "\n", 2},   // a damaged last line with its line feed: dropped
      {line + "   \n\n", 2},                   // a piece of blanks is no record
      {line + "\n\n", 2},                      // empty pieces are harmless and stay
  };
  for (const auto& c : cases) {
    auto disk = std::make_shared<Disk>();
    disk->put("mutations.jsonl", c.log);
    auto s = open_store(disk);
    ASSERT_TRUE(apply(*s, put_nodes({make_node("b")})));
    auto log = s->mutation_log();
    ASSERT_TRUE(log) << c.log << ": " << log.error().text();
    EXPECT_EQ(log->size(), c.records_after) << c.log;
    EXPECT_EQ(disk->text("mutations.jsonl").back(), '\n');
  }
}

}  // namespace
}  // namespace tarnwick::test
