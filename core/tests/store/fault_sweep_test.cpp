// The storage fault sweep: a workload of batches runs once to count its backend calls; then, for
// each call in turn, that call fails (before any effect, or for an append after half its bytes),
// and either the store is dropped at once ("crash") or used to the end ("continue"). A new store
// over the surviving files must then hold every acknowledged batch, the failed one whole or not
// at all, a mutation log that reads whole with each record once, and must take one more batch.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "store/store_fixture.hpp"
#include "store/store_test_access.hpp"
#include "storage/store/verify_report.hpp"

namespace tarnwick::test {
namespace {

using store::StoreOptions;
using store::StoreTestAccess;

// The graph as plain ordered maps: what the store must hold after a sequence of batches.
struct Model {
  std::map<std::string, Node> nodes;  // without vectors
  std::map<std::string, Edge> edges;
  std::map<std::string, std::vector<double>> vectors;
  friend bool operator==(const Model&, const Model&) = default;

  void apply(const ChangeBatch& b) {
    for (const auto& id : b.delete_node_ids) nodes.erase(id);
    for (const auto& id : b.delete_edge_ids) edges.erase(id);
    for (const auto& id : b.delete_vector_ids) vectors.erase(id);
    for (Node n : b.put_nodes) {
      if (n.vector) vectors[n.id] = *n.vector;
      n.vector.reset();
      nodes[n.id] = n;
    }
    for (const auto& e : b.put_edges) edges[e.id] = e;
    for (const auto& v : b.put_vectors) vectors[v.id] = v.vector;
  }
};

Model model_of(store::Store& s) {
  Model m;
  for (const auto& [id, n] : StoreTestAccess::node_records(s)) m.nodes[id] = n;
  for (const auto& [id, e] : StoreTestAccess::edges(s)) m.edges[id] = e;
  for (const auto& [id, v] : StoreTestAccess::vectors(s)) m.vectors[id] = v.to_f64();
  return m;
}

constexpr std::string_view kSchemas = R"({"nodeTypes":[{"nodeType":"note","requiredFields":["title"],
  "dataTypes":{"title":"string"}}],"edgeTypes":[]})";
constexpr std::string_view kIndexes = R"([{"name":"by_key","fields":["key"],"unique":true,"sparse":true}])";

// About 30 batches: puts with vectors, edges, deletes of nodes with their edges, loose vectors.
// With `single_entries` every batch holds exactly one change, for torn appends after a crash.
std::vector<ChangeBatch> workload(bool single_entries) {
  std::mt19937 rng(7);
  std::vector<ChangeBatch> out;
  std::vector<std::string> live;
  std::map<std::string, std::vector<std::string>> edges_of;
  int next = 0;
  for (int i = 0; i < 30; ++i) {
    ChangeBatch b;
    const int kind = single_entries ? static_cast<int>(rng() % 3) : 3;
    if ((kind == 0 || kind == 3) && !live.empty() && i % 4 == 3) {
      const std::string victim = live[rng() % live.size()];
      std::erase(live, victim);
      b.delete_node_ids.push_back(victim);
      if (!single_entries) b.delete_edge_ids = edges_of[victim];
    } else if (kind == 1 && !live.empty()) {
      b.put_vectors.push_back({"loose-" + std::to_string(next++), {1.5, static_cast<double>(i)}});
    } else {
      for (int n = single_entries ? 1 : 3; n > 0; --n) {
        const std::string id = "n" + std::to_string(next++);
        Node node = make_node(id, "note", json::Object{{"title", "t" + id}, {"key", id}, {"i", i}});
        node.vector = std::vector<double>{0.25 * i, 1.0};
        b.put_nodes.push_back(node);
        if (!single_entries && !live.empty()) {
          const std::string e = "e" + std::to_string(next++);
          b.put_edges.push_back(make_edge(e, id, live[rng() % live.size()]));
          edges_of[id].push_back(e);
        }
        live.push_back(id);
      }
    }
    out.push_back(std::move(b));
  }
  return out;
}

StoreOptions sweep_options() {
  StoreOptions o;
  o.compact_threshold = 7;
  o.retention = store::MutationLogRetention{12, std::nullopt};
  return o;
}

std::shared_ptr<Disk> fresh_disk() {
  auto disk = std::make_shared<Disk>();
  disk->put("schemas.json", kSchemas);
  disk->put("indexes.json", kIndexes);
  return disk;
}

struct Outcome {
  Model acknowledged;         // every batch that succeeded
  std::optional<Model> with;  // the same plus the failed batch, when one failed
};

// Runs the workload; returns what the caller was told.
Outcome run(const std::shared_ptr<Disk>& disk, const std::vector<ChangeBatch>& batches, bool crash) {
  Outcome out;
  auto s = open_store(disk, sweep_options());
  bool failed = false;
  for (const auto& b : batches) {
    const bool ok = apply(*s, b).has_value();
    if (ok) {
      out.acknowledged.apply(b);
      if (out.with) out.with->apply(b);
      continue;
    }
    if (!failed) {
      failed = true;
      out.with = out.acknowledged;
      out.with->apply(b);
    }
    if (crash) return out;
  }
  (void)s->close();
  return out;
}

// Loading folds any log entries into a new snapshot, so the stored files now describe `found`:
// `verify` counts it, and lists nothing but the edges left pointing at deleted nodes.
void check_verified(store::Store& s, const Model& found, std::size_t log_records, const std::string& label) {
  auto report = s.verify();
  ASSERT_TRUE(report) << label << ": " << report.error().text();
  EXPECT_EQ(report->node_count, found.nodes.size()) << label;
  EXPECT_EQ(report->edge_count, found.edges.size()) << label;
  EXPECT_EQ(report->vector_count, found.vectors.size()) << label;
  EXPECT_EQ(report->mutation_count, log_records) << label;
  std::vector<std::string> expected;
  for (const auto& [id, e] : found.edges) {
    if (!found.nodes.contains(e.source)) expected.push_back("edge " + id + ": missing source " + e.source);
    if (!found.nodes.contains(e.target)) expected.push_back("edge " + id + ": missing target " + e.target);
  }
  std::vector<std::string> errors = report->errors;
  std::sort(errors.begin(), errors.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(errors, expected) << label;
}

void check_reopened(const std::shared_ptr<Disk>& disk, const Outcome& outcome, const std::string& label) {
  disk->fail_call.reset();
  auto s = open_store(disk, sweep_options());
  ASSERT_TRUE(s->ensure_loaded()) << label << ": " << s->ensure_loaded().error().text();
  const Model found = model_of(*s);
  EXPECT_TRUE(found == outcome.acknowledged || (outcome.with && found == *outcome.with))
      << label << ": the graph holds neither the acknowledged batches nor those plus the failed one";
  auto log = s->mutation_log();
  ASSERT_TRUE(log) << label << ": " << log.error().text();
  TextSet ids;
  for (std::size_t i = 0; i < log->size(); ++i) {
    EXPECT_TRUE(ids.insert((*log)[i].operation_id).second) << label << ": record twice";
    if (i > 0) {
      EXPECT_LT((*log)[i - 1].sequence, (*log)[i].sequence) << label;
    }
  }
  check_verified(*s, found, log->size(), label);
  ASSERT_TRUE(apply(*s, put_nodes({make_node("after", "note", json::Object{{"title", "x"}})}))) << label;
  ASSERT_TRUE(s->close()) << label;
  auto again = open_store(disk, sweep_options());
  ASSERT_TRUE(again->ensure_loaded()) << label;
  EXPECT_TRUE(StoreTestAccess::nodes(*again).contains("after")) << label;
}

TEST(StoreFaultSweep, EveryFailingCallLeavesFilesANewStoreCanTrust) {
  std::size_t cases = 0;
  for (const bool single : {false, true}) {
    const auto batches = workload(single);
    auto counting = fresh_disk();
    run(counting, batches, false);
    const std::size_t total = counting->calls.size();
    ASSERT_GT(total, 60u);
    for (std::size_t k = 0; k < total; ++k) {
      const bool is_append = counting->calls[k].op == "append";
      for (const bool crash : {true, false}) {
        for (const bool torn : {false, true}) {
          if (torn && (!is_append || (crash && !single))) continue;
          if (!torn && single) continue;  // the single-entry workload is there for torn appends
          auto disk = fresh_disk();
          disk->fail_call = k;
          disk->torn_prefix = torn ? counting->calls[k].bytes.size() / 2 : 0;
          const Outcome outcome = run(disk, batches, crash);
          check_reopened(disk, outcome,
                         "call " + std::to_string(k) + " (" + counting->calls[k].op + " " + counting->calls[k].name +
                             ")" + (crash ? " crash" : " continue") + (torn ? " torn" : ""));
          ++cases;
        }
      }
    }
  }
  std::printf("fault sweep: %zu cases\n", cases);
}

}  // namespace
}  // namespace tarnwick::test
