// Loading and compaction over hand-made files: which backend calls happen, which precision wins,
// and what a damaged write-ahead log does.

#include <gtest/gtest.h>

#include "storage/format/snapshot.hpp"
#include "storage/wal/wal.hpp"
#include "store/store_fixture.hpp"
#include "store/store_test_access.hpp"

namespace tarnwick::test {
namespace {

using format::WalEntry;
using store::StoreOptions;
using store::StoreTestAccess;

Bytes snapshot_bytes(const std::vector<std::pair<std::string, Node>>& nodes,
                     const std::vector<std::pair<std::string, std::vector<double>>>& vectors, VectorPrecision p) {
  std::vector<format::SnapshotNodeRef> n;
  for (const auto& [id, node] : nodes)
    n.push_back({id, &node, node.vector ? std::optional(format::vector_ref(*node.vector)) : std::nullopt});
  std::vector<format::SnapshotVectorRef> v;
  for (const auto& [id, values] : vectors) v.push_back({id, format::vector_ref(values)});
  return format::encode_snapshot_with_precision(n, {}, v, p, true).value();
}

Bytes wal_bytes(const std::vector<WalEntry>& entries, VectorPrecision p = VectorPrecision::Float64) {
  return format::encode_wal_with_precision(entries, p).value();
}

WalEntry put(std::string id) { return {WalEntry::PutNode{make_node(std::move(id))}}; }
WalEntry set_precision(VectorPrecision p) { return {WalEntry::SetPrecision{p}}; }

TEST(StoreLoad, EmptyBackendMakesFiveReadsAndNothingElse) {
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  EXPECT_TRUE(disk->calls.empty());
  ASSERT_EQ(s->node_count().value(), 0u);
  EXPECT_EQ(disk->call_names(), (std::vector<std::string>{"read indexes.json", "read schemas.json",
                                                          "read snapshot.msgpack", "read wal.msgpack",
                                                          "read mutations.jsonl"}));
  EXPECT_EQ(s->precision().value(), VectorPrecision::Float64);
  EXPECT_FALSE(StoreTestAccess::precision_known(*s));
  ASSERT_TRUE(s->compact());  // loaded, nothing appended: no call at all
  EXPECT_EQ(disk->calls.size(), 5u);
}

TEST(StoreLoad, PrecisionRules) {
  const auto f32 = VectorPrecision::Float32, f64 = VectorPrecision::Float64;
  struct Case {
    std::optional<VectorPrecision> snapshot;
    std::vector<WalEntry> wal;
    std::optional<VectorPrecision> requested;
    std::string expected;  // "ok Float32" or the error
  };
  const Case cases[] = {
      {f32, {}, f64, "invalid_argument: store vector precision mismatch: uses Float32, requested Float64; use offline precision migration"},
      {f32, {}, std::nullopt, "ok Float32"},
      {f64, {set_precision(f32)}, std::nullopt, "corrupt_data: WAL precision conflicts with snapshot precision"},
      {f64, {put("a"), set_precision(f64)}, std::nullopt, "ok Float64"},
      {std::nullopt, {set_precision(f32)}, f64, "invalid_argument: store vector precision does not match requested precision"},
      {std::nullopt, {set_precision(f32), set_precision(f64)}, std::nullopt, "ok Float64"},  // later ones replay
      {std::nullopt, {put("a")}, f32, "invalid_argument: legacy WAL store uses float64 vectors"},
      {std::nullopt, {put("a")}, std::nullopt, "ok Float64"},
      {std::nullopt, {}, f32, "ok Float32"},
  };
  for (const auto& c : cases) {
    auto disk = std::make_shared<Disk>();
    if (c.snapshot) disk->files["snapshot.msgpack"] = snapshot_bytes({}, {}, *c.snapshot);
    if (!c.wal.empty()) disk->files["wal.msgpack"] = wal_bytes(c.wal);
    StoreOptions options;
    options.vector_precision = c.requested;
    auto s = open_store(disk, options);
    auto p = s->precision();
    EXPECT_EQ(p ? std::string("ok ") + (*p == f32 ? "Float32" : "Float64") : p.error().text(), c.expected);
  }
}

TEST(StoreLoad, TheFoldRunsForAnyBytesAndOnlyForBytes) {
  {  // three bytes: no entry, yet a snapshot is written and the log deleted
    auto disk = std::make_shared<Disk>();
    disk->put("wal.msgpack", "abc");
    ASSERT_EQ(open_store(disk)->node_count().value(), 0u);
    EXPECT_EQ(disk->call_names()[4], "write snapshot.msgpack");
    EXPECT_EQ(disk->call_names()[5], "delete wal.msgpack");
    EXPECT_FALSE(disk->files.contains("wal.msgpack"));
  }
  {  // zero bytes: nothing is folded
    auto disk = std::make_shared<Disk>();
    disk->put("wal.msgpack", "");
    ASSERT_TRUE(open_store(disk)->node_count());
    EXPECT_EQ(disk->calls.size(), 5u);
    EXPECT_TRUE(disk->files.contains("wal.msgpack"));
  }
  {  // a zero-byte snapshot, by contrast, is decoded and refused
    auto disk = std::make_shared<Disk>();
    disk->put("snapshot.msgpack", "");
    EXPECT_EQ(error_text(open_store(disk)->node_count()), "corrupt_data: truncated msgpack");
  }
}

TEST(StoreLoad, SnapshotVectorsAndEntryIds) {
  Node a = make_node("a");
  a.vector = std::vector<double>{1, 2};
  Node b = make_node("other-id");  // stored under "b": the entry id is what counts
  b.vector = std::vector<double>{3};
  auto disk = std::make_shared<Disk>();
  disk->files["snapshot.msgpack"] = snapshot_bytes({{"a", a}, {"b", b}}, {{"a", {9, 9}}}, VectorPrecision::Float64);
  auto s = open_store(disk);
  auto vectors = s->vectors().value();
  std::ranges::sort(vectors);
  EXPECT_EQ(vectors, (std::vector<std::pair<std::string, std::vector<double>>>{{"a", {9, 9}}, {"b", {3}}}));
  EXPECT_FALSE(StoreTestAccess::node_record(*s, "a").vector.has_value());
}

TEST(StoreLoad, DamagedWalFramesWithDataRefuseTheLoad) {
  Bytes good = wal_bytes({put("a")});
  struct Case {
    Bytes tail;
    bool refused;
  };
  const Case cases[] = {
      {{0, 0, 0, 3, 0xc1, 0xc1, 0xc1}, true},  // a whole frame that is no entry
      {{0, 0, 0, 3, 0, 0, 0}, false},          // extended with zeros before the data landed
      {{0, 0, 0, 0, 0, 0}, false},             // a zero-length frame and zeros
      {{0, 0, 0, 0, 7}, true},                 // a zero-length frame, then data
      {{0, 0, 0, 9, 1, 2}, false},             // body runs past the end: torn
      {{0, 0}, false},                         // a torn length prefix
  };
  for (const auto& c : cases) {
    auto disk = std::make_shared<Disk>();
    Bytes wal = good;
    wal.insert(wal.end(), c.tail.begin(), c.tail.end());
    disk->files["wal.msgpack"] = wal;
    auto s = open_store(disk);
    auto r = s->node_count();
    if (c.refused) {
      EXPECT_EQ(error_text(r), "corrupt_data: unreadable WAL frame at byte " + std::to_string(good.size()));
      EXPECT_EQ(disk->files.at("wal.msgpack"), wal);  // nothing written
      EXPECT_EQ(disk->calls.size(), 4u);
    } else {
      EXPECT_EQ(r.value(), 1u);
    }
  }
}

// The log takes data nested deeper than a snapshot can hold. Folding it, at load or when a
// compaction retries the load, refuses the node as writing the record itself does, and leaves
// the files as they were; data within reach makes a snapshot that reads back.
TEST(StoreLoad, DataTooDeepForTheSnapshotIsRefusedAsTheRecordWriterRefusesIt) {
  for (const std::size_t levels : {506u, 507u, 508u, 509u, 510u}) {
    SCOPED_TRACE(levels);
    json::Value chain = json::Array{};
    for (std::size_t i = 2; i < levels; ++i) chain = json::Array{std::move(chain)};
    const Node node = make_node("a", "note", json::Object{{"d", std::move(chain)}});
    ASSERT_EQ(json::nesting_depth(node.data), levels);
    const format::SnapshotNodeRef ref{"a", &node, std::nullopt};
    const std::string expected =
        error_text(format::encode_snapshot_with_precision({&ref, 1}, {}, {}, VectorPrecision::Float64, true));

    auto disk = std::make_shared<Disk>();
    const Bytes wal = wal_bytes({{WalEntry::PutNode{node}}});
    disk->files["wal.msgpack"] = wal;
    auto s = open_store(disk);
    if (expected != "ok") {
      EXPECT_EQ(error_text(s->node_count()), expected);
      EXPECT_EQ(error_text(s->compact()), expected);
      EXPECT_FALSE(disk->files.contains("snapshot.msgpack"));
      EXPECT_EQ(disk->files.at("wal.msgpack"), wal);
      continue;
    }
    ASSERT_EQ(s->node_count().value(), 1u);
    ASSERT_TRUE(apply(*s, put_nodes({make_node("b")})));
    ASSERT_TRUE(s->compact());
    auto reopened = open_store(disk);
    ASSERT_EQ(reopened->node_count().value(), 2u);
    EXPECT_TRUE(json::equal(StoreTestAccess::node_record(*reopened, "a").data, node.data));
  }
}

TEST(StoreLoad, ClosedStoreRefusesToLoadAndToCompact) {
  auto disk = std::make_shared<Disk>();
  auto s = open_store(disk);
  ASSERT_TRUE(s->close());
  EXPECT_TRUE(disk->calls.empty());  // never loaded: closing makes no call
  ASSERT_TRUE(s->close());
  EXPECT_EQ(error_text(s->ensure_loaded()), "closed: operation on a closed store");
  EXPECT_EQ(error_text(s->compact()), "closed: operation on a closed store");
  EXPECT_EQ(error_text(s->node_ids()), "closed: operation on a closed store");
  EXPECT_EQ(s->capabilities(), store::StorageCapabilities{});
}

}  // namespace
}  // namespace tarnwick::test
