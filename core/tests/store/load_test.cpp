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

// The frame with its length prefix raised by `by`.
Bytes enlarged(Bytes frame, std::uint32_t by) {
  const auto length = static_cast<std::uint32_t>(format::wal_frame_length(frame, 0)) + by;
  for (std::size_t i = 0; i < 4; ++i) frame[i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
  return frame;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(StoreLoad, DamagedWalFramesWithDataRefuseTheLoad) {
  const Bytes good = wal_bytes({put("a")}), b = wal_bytes({put("b")});
  const Bytes zeros(9, 0);
  struct Case {
    Bytes tail;
    std::optional<std::size_t> nodes;  // none: refused at the tail's first byte
  };
  const Case cases[] = {
      {{0, 0, 0, 3, 0xc1, 0xc1, 0xc1}, std::nullopt},  // a whole frame that is no entry
      {{0, 0, 0, 3, 0, 0, 0}, 1},                      // extended with zeros before the data landed
      {{0, 0, 0, 3, 0xc1, 0, 0}, std::nullopt},        // no entry before the zeros
      {concat({Bytes(b.begin(), b.begin() + 9), Bytes(b.size() - 9, 0)}), 1},  // landed in part
      {{0, 0, 0, 0, 0, 0}, 1},                         // a zero-length frame and zeros
      {{0, 0, 0, 0, 7}, std::nullopt},                 // a zero-length frame, then data
      {{0, 0, 0, 9, 1, 2}, 1},                         // body runs past the end: torn
      {{0, 0}, 1},                                     // a torn length prefix
      {Bytes(b.begin(), b.end() - 1), 1},              // the last frame torn
      {enlarged(b, 1000), std::nullopt},               // a whole entry under a length past the end
      {concat({enlarged(b, 1000), zeros}), std::nullopt},
      {concat({enlarged(b, 2), good}), std::nullopt},  // a length within the file, too long
      {concat({enlarged(b, 9), zeros}), 2},            // longer than its entry, but only zeros follow
  };
  for (const auto& c : cases) {
    auto disk = std::make_shared<Disk>();
    const Bytes wal = concat({good, c.tail});
    disk->files["wal.msgpack"] = wal;
    auto r = open_store(disk)->node_count();
    if (!c.nodes) {
      EXPECT_EQ(error_text(r), "corrupt_data: unreadable WAL frame at byte " + std::to_string(good.size()));
      EXPECT_EQ(disk->files.at("wal.msgpack"), wal);  // nothing written
      EXPECT_EQ(disk->calls.size(), 4u);
    } else {
      EXPECT_EQ(r.value(), *c.nodes);
    }
  }
}

// What a loaded store holds, in a form that compares whole.
using Graph = std::tuple<std::vector<std::string>, std::vector<std::pair<std::string, Edge>>,
                         std::vector<std::pair<std::string, std::vector<double>>>>;

Result<Graph> load_graph(const std::shared_ptr<Disk>& disk) {
  auto s = open_store(disk);
  TARNWICK_TRY_ASSIGN(auto nodes, s->node_ids());
  TARNWICK_TRY_ASSIGN(auto edges, s->edges_snapshot());
  TARNWICK_TRY_ASSIGN(auto vectors, s->vectors());
  std::ranges::sort(nodes);
  std::ranges::sort(edges, {}, &std::pair<std::string, Edge>::first);
  std::ranges::sort(vectors);
  return Graph{std::move(nodes), std::move(edges), std::move(vectors)};
}

// Files holding several batches that the store wrote and never compacted.
std::shared_ptr<Disk> written_batches() {
  auto disk = std::make_shared<Disk>();
  StoreOptions options;
  options.compact_threshold = 1000;
  auto s = open_store(disk, options);
  auto with_vector = [](std::string id, double x) {
    Node n = make_node(std::move(id), "note", json::Object{{"title", "t"}, {"rank", 3}});
    n.vector = std::vector<double>{x, 0.5};
    return n;
  };
  ChangeBatch first = put_nodes({with_vector("a", 1), with_vector("b", 2)});
  first.put_edges = {make_edge("ab", "a", "b")};
  ChangeBatch loose;
  loose.put_vectors = {{"v", {0.25, 4}}};
  ChangeBatch removal;
  removal.delete_node_ids = {"a"};
  removal.delete_edge_ids = {"ab"};
  ChangeBatch second = put_nodes({with_vector("c", 3), make_node("d")});
  second.put_edges = {make_edge("cd", "c", "d")};
  for (const auto& batch : {first, loose, removal, second, put_nodes({with_vector("e", 5)})})
    EXPECT_TRUE(apply(*s, batch));
  return disk;
}

std::vector<std::size_t> frame_offsets(const Bytes& wal) {
  std::vector<std::size_t> out;
  for (std::size_t p = 0; p < wal.size(); p += 4 + format::wal_frame_length(wal, p)) out.push_back(p);
  return out;
}

TEST(StoreLoad, EveryFlippedLengthBitRefusesTheLoadOrLosesNothing) {
  const auto written = written_batches();
  const Graph all = load_graph(std::make_shared<Disk>(*written)).value();
  const Bytes& wal = written->files.at("wal.msgpack");
  ASSERT_GE(frame_offsets(wal).size(), 10u);
  for (const std::size_t p : frame_offsets(wal)) {
    for (std::size_t bit = 0; bit < 32; ++bit) {
      auto disk = std::make_shared<Disk>(*written);
      disk->calls.clear();
      disk->files["wal.msgpack"][p + bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
      const Bytes damaged = disk->files["wal.msgpack"];
      const auto graph = load_graph(disk);
      const std::string label = "frame at " + std::to_string(p) + ", bit " + std::to_string(bit);
      if (graph) {
        EXPECT_EQ(*graph, all) << label;
        continue;
      }
      EXPECT_EQ(error_text(graph), "corrupt_data: unreadable WAL frame at byte " + std::to_string(p)) << label;
      EXPECT_EQ(disk->files.at("wal.msgpack"), damaged) << label;
      EXPECT_EQ(disk->call_names().back(), "read wal.msgpack") << label;  // nothing written
    }
  }
}

TEST(StoreLoad, EveryCutLogLoadsEveryWholeFrame) {
  const auto written = written_batches();
  const Bytes wal = written->files.at("wal.msgpack");
  const auto entries = format::decode_wal(wal).entries;
  auto ends = frame_offsets(wal);
  ends.erase(ends.begin());
  ends.push_back(wal.size());
  auto load = [&](Bytes file) {
    auto disk = std::make_shared<Disk>(*written);
    disk->files["wal.msgpack"] = std::move(file);
    return load_graph(disk);
  };
  auto prefix = [&](std::size_t size) { return Bytes(wal.begin(), wal.begin() + static_cast<std::ptrdiff_t>(size)); };
  std::vector<Graph> by_whole{load({}).value()};  // the graph of the first n frames
  for (const std::size_t end : ends) by_whole.push_back(load(prefix(end)).value());
  for (std::size_t cut = 0; cut <= wal.size(); ++cut) {
    for (const std::size_t zeros : {0, 1, 4, 7, 64}) {
      Bytes file = prefix(cut);
      file.resize(cut + zeros, 0);
      // A frame is whole when all its bytes are there, zeros it ended in included.
      std::size_t whole = 0;
      while (whole < ends.size() && ends[whole] <= file.size() &&
             std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(ends[whole]), wal.begin()))
        ++whole;
      const std::string label = "cut " + std::to_string(cut) + ", zeros " + std::to_string(zeros);
      const auto graph = load(file);
      ASSERT_TRUE(graph) << label << ": " << graph.error().text();
      // Zeros may complete the torn frame into some entry; every whole one is read as written.
      const auto read = format::decode_wal(file).entries;
      ASSERT_TRUE(read.size() == whole || read.size() == whole + 1) << label;
      EXPECT_TRUE(std::equal(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(whole), read.begin()))
          << label;
      if (read.size() == whole) {
        EXPECT_EQ(*graph, by_whole[whole]) << label;
      }
    }
  }
}

TEST(StoreLoad, DamagedLengthStopsCompactionAndRepairBeforeTheLogIsRewritten) {
  for (const bool repair : {false, true}) {
    auto disk = std::make_shared<Disk>();
    StoreOptions options;
    options.compact_threshold = 1000;
    auto s = open_store(disk, options);
    ASSERT_TRUE(apply(*s, put_nodes({make_node("a")})));
    if (repair) {  // a failed mutation-log append leaves the store to repair its files
      disk->fail_call = disk->calls.size() + 1;
      ASSERT_FALSE(apply(*s, put_nodes({make_node("b")})));
      disk->fail_call.reset();
    } else {  // frames the store did not write itself make compaction read the log
      Bytes& file = disk->files["wal.msgpack"];
      file = concat({file, wal_bytes({put("b")})});
    }
    Bytes& file = disk->files["wal.msgpack"];
    file = enlarged(file, 1000);  // the first frame's length, past the end
    const Bytes damaged = file;
    disk->files.erase("snapshot.msgpack");
    const std::string text = repair ? error_text(s->node_count()) : error_text(s->compact());
    EXPECT_EQ(text, "corrupt_data: unreadable WAL frame at byte 0") << repair;
    EXPECT_EQ(disk->files.at("wal.msgpack"), damaged) << repair;
    EXPECT_TRUE(disk->files.contains("snapshot.msgpack")) << repair;  // written before the log was read
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
