#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "storage/format/snapshot.hpp"
#include "store/query_fixture.hpp"

namespace tarnwick::store {
namespace {

using test::make_edge;
using test::node_of;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Snapshot entries as the file holds them: [entry id, record], the entry id free to differ from
// the record's own id.
struct SnapshotEntries {
  std::vector<std::pair<std::string, Node>> nodes;
  std::vector<std::pair<std::string, Edge>> edges;
  std::vector<std::pair<std::string, std::vector<double>>> vectors;

  Bytes encode() const {
    std::vector<format::SnapshotNodeRef> n;
    for (const auto& [id, node] : nodes) {
      std::optional<format::VectorRef> v;
      if (node.vector) v = format::vector_ref(*node.vector);
      n.push_back({id, &node, v});
    }
    std::vector<format::SnapshotEdgeRef> e;
    for (const auto& [id, edge] : edges) e.push_back({id, &edge});
    std::vector<format::SnapshotVectorRef> v;
    for (const auto& [id, values] : vectors) v.push_back({id, format::vector_ref(values)});
    return format::encode_snapshot_with_precision(n, e, v, VectorPrecision::Float64, true).value();
  }
};

SnapshotEntries healthy() {
  return {{{"a", node_of("a", "t")}, {"b", node_of("b", "t")}},
          {{"e1", make_edge("e1", "a", "b")}},
          {{"a", {1.0, 2.0}}}};
}

// One mutation-log line; the log reader is what checks its fields.
std::string log_line(int sequence) {
  return R"({"operationId":"op-)" + std::to_string(sequence) + R"(","sequence":)" + std::to_string(sequence) +
         R"(,"transactionId":"tx","timestamp":5,"operations":[]})" + "\n";
}

struct Files {
  std::optional<SnapshotEntries> snapshot;
  std::optional<std::string> raw_snapshot;  // bytes that need not decode
  std::optional<std::string> indexes;
  std::optional<std::string> log;
};

Result<VerifyReport> verify(const Files& files, bool loaded = false) {
  test::GraphStore g({});
  StoreTestAccess::loaded(g.store) = loaded;
  if (files.snapshot) g.disk->files[std::string(kSnapshotFile)] = files.snapshot->encode();
  if (files.raw_snapshot) g.disk->put(std::string(kSnapshotFile), *files.raw_snapshot);
  if (files.indexes) g.disk->put(std::string(kIndexesFile), *files.indexes);
  if (files.log) g.disk->put(std::string(kMutationLogFile), *files.log);
  auto report = g->verify();
  EXPECT_EQ(StoreTestAccess::loaded(g.store), loaded);
  for (const auto& call : g.disk->calls) EXPECT_EQ(call.op, "read") << call.name;
  return report;
}

TEST(Verify, CountsHealthyFilesWithoutIssues) {
  const VerifyReport empty = verify({}).value();
  EXPECT_EQ(empty, (VerifyReport{true, {}, 0, 0, 0, 0}));
  const Files files{healthy(), std::nullopt, R"([{"name":"i","fields":["a"]},{"name":"j","fields":[""]}])",
                    log_line(1) + log_line(2) + "{\"torn"};
  for (const bool loaded : {false, true}) EXPECT_EQ(verify(files, loaded).value(), (VerifyReport{true, {}, 2, 1, 1, 2}));
}

TEST(Verify, ListsEverySnapshotIssueInOrder) {
  Node bad_type = node_of("n", "");
  Node bad_time = node_of("m", "t");
  bad_time.inserted_at = -1;
  Node nan_vector = node_of("v", "t");
  nan_vector.vector = std::vector<double>{1.0, kNaN};
  Edge empty_source = make_edge("x", "", "t");
  Edge two_faults = make_edge("x", "a", "a", "");
  two_faults.created_at = -5;
  Edge old = make_edge("x", "a", "a");
  old.created_at = -1;
  const struct {
    const char* name;
    SnapshotEntries snapshot;
    std::vector<std::string> issues;
  } cases[] = {
      {"missing target", {{{"a", node_of("a", "t")}, {"b", node_of("b", "t")}}, {{"e", make_edge("e", "a", "c")}}, {}},
       {"edge e: missing target c"}},
      {"no nodes", {{}, {{"e", make_edge("e", "a", "b")}}, {}}, {"edge e: missing source a", "edge e: missing target b"}},
      {"empty source",
       {{{"t", node_of("t", "t")}}, {{"e1", empty_source}}, {}},
       {"edge e1: invalid_argument: edge source, type, and target must not be empty", "edge e1: missing source "}},
      {"one rule per edge",
       {{{"a", node_of("a", "t")}}, {{"e2", two_faults}}, {}},
       {"edge e2: invalid_argument: edge source, type, and target must not be empty"}},
      {"negative createdAt",
       {{{"a", node_of("a", "t")}}, {{"e3", old}}, {}},
       {"edge e3: range_out_of_bounds: edge createdAt must be finite non-negative"}},
      {"entry ids count, record ids do not",
       {{{"a", node_of("z", "t")}}, {{"e", make_edge("e", "a", "a")}}, {{"q", {1.0}}}},
       {}},
      {"every kind, in order",
       {{{"n", bad_type}, {"m", bad_time}, {"v", nan_vector}},
        {{"e", make_edge("e", "v", "gone")}},
        {{"v", {kNaN}}, {"w", {1.0, std::numeric_limits<double>::infinity()}}, {"ok", {0.0}}}},
       {"node n: invalid_argument: node type must not be empty",
        "node m: range_out_of_bounds: node timestamps must be finite non-negative numbers",
        "node v: invalid_argument: vector must contain finite values", "edge e: missing target gone",
        "vector v: contains non-finite values", "vector w: contains non-finite values"}},
  };
  for (const auto& c : cases) {
    const VerifyReport r = verify({c.snapshot, std::nullopt, "{}", std::nullopt}).value();
    std::vector<std::string> expected = c.issues;
    expected.push_back("index metadata: invalid type: map, expected a sequence at line 1 column 2");
    EXPECT_EQ(r.errors, expected) << c.name;
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.node_count, c.snapshot.nodes.size()) << c.name;
    EXPECT_EQ(r.edge_count, c.snapshot.edges.size()) << c.name;
    EXPECT_EQ(r.vector_count, c.snapshot.vectors.size()) << c.name;
  }
}

TEST(Verify, AnUndecodableSnapshotIsOneIssueWithNoCounts) {
  const Bytes whole = healthy().encode();
  const std::string torn(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(whole.size() / 2));
  for (const std::string& bytes : {torn, std::string("\xc1"), std::string()}) {
    const auto decoded = format::decode_snapshot(Bytes(bytes.begin(), bytes.end()));
    ASSERT_FALSE(decoded);
    const VerifyReport r = verify({std::nullopt, bytes, std::nullopt, log_line(1)}).value();
    EXPECT_EQ(r, (VerifyReport{false, {"snapshot: " + decoded.error().text()}, 0, 0, 0, 1}));
    EXPECT_EQ(r.errors[0].rfind("snapshot: corrupt_data: ", 0), 0u) << r.errors[0];
  }
}

TEST(Verify, ChecksEachIndexDefinition) {
  const struct {
    const char* text;
    std::vector<std::string> issues;
  } cases[] = {
      {"[]", {}},
      {"{}", {"index metadata: invalid type: map, expected a sequence at line 1 column 2"}},
      {"\n  \"x\"", {R"(index metadata: invalid type: string "x", expected a sequence at line 2 column 5)"}},
      {"", {"index metadata: EOF while parsing a value at line 1 column 0"}},
      {"[1] x", {"index metadata: trailing characters at line 1 column 5"}},
      {R"([{"fields":["a"]}, {"name":"x","fields":[]}, {"name":"x","fields":["a","a"]}, {"name":"y","fields":["a",1]}])",
       {"index metadata: index 0: missing name", "index metadata: index x: fields must not be empty",
        "index metadata: index x: duplicate or empty name", "index metadata: index x: fields must not be empty",
        "index metadata: index y: fields must not be empty"}},
      {R"([7, {"name": 5, "fields": []}, {"name": null}])",
       {"index metadata: index 0: missing name", "index metadata: index 1: missing name",
        "index metadata: index 2: missing name"}},
      {R"([{"name":"","fields":["a"]}, {"name":"","fields":"a"}, {"name":"k"}])",
       {"index metadata: index : duplicate or empty name", "index metadata: index : duplicate or empty name",
        "index metadata: index : fields must not be empty", "index metadata: index k: fields must not be empty"}},
      {R"([{"name":"k","fields":["",""],"unique":"no"}, {"name":"m","fields":[""],"nodeType":3,"sparse":1}])",
       {"index metadata: index k: fields must not be empty"}},
  };
  for (const auto& c : cases) {
    const VerifyReport r = verify({healthy(), std::nullopt, c.text, std::nullopt}).value();
    EXPECT_EQ(r.errors, c.issues) << c.text;
    EXPECT_EQ(r.ok, c.issues.empty()) << c.text;
  }
}

TEST(Verify, FailsOnlyForAFailedReadOrAnUnreadableLog) {
  // A damaged line before the last discards every issue found.
  const auto damaged = verify({healthy(), std::nullopt, "{}", log_line(1) + "{nope\n" + log_line(2)});
  ASSERT_FALSE(damaged);
  EXPECT_EQ(damaged.error().text().rfind("corrupt_data: mutation log: ", 0), 0u) << damaged.error().text();
  for (std::size_t call = 0; call < 3; ++call) {
    test::GraphStore g({});
    StoreTestAccess::loaded(g.store) = false;
    g.disk->files[std::string(kSnapshotFile)] = healthy().encode();
    g.disk->put(std::string(kIndexesFile), "[]");
    g.disk->fail_call = call;
    const auto r = g->verify();
    ASSERT_FALSE(r) << call;
    EXPECT_EQ(r.error().text(), "storage: injected failure") << call;
    EXPECT_EQ(g.disk->call_names()[call], call == 0   ? "read snapshot.msgpack"
                                          : call == 1 ? "read indexes.json"
                                                      : "read mutations.jsonl");
  }
}

}  // namespace
}  // namespace tarnwick::store
