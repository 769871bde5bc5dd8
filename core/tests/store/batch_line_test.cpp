#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "storage/store/batch_line.hpp"
#include "storage/store/vector_packing.hpp"
#include "storage/test_support.hpp"

namespace tarnwick::store {
namespace {

// The route a batch's line took before it was printed from the records: every payload copied
// into a JSON value, the record printed from those values.
std::string line_through_values(MutationRecord record, const ChangeBatch& b, VectorPrecision precision) {
  const auto deletes = [&](const char* kind, const std::vector<std::string>& ids) {
    for (const std::string& id : ids) record.operations.push_back({kind, json::Object{{"id", id}}});
  };
  for (const Node& n : b.put_nodes) record.operations.push_back({"putNode", n.serialize()});
  deletes("deleteNode", b.delete_node_ids);
  for (const Edge& e : b.put_edges) record.operations.push_back({"putEdge", e.serialize()});
  deletes("deleteEdge", b.delete_edge_ids);
  for (const VectorEntry& v : b.put_vectors) record.operations.push_back({"putVector", v.serialize()});
  deletes("deleteVector", b.delete_vector_ids);
  return *pack_mutation_vectors(record, precision) + '\n';
}

constexpr double kAwkwardDoubles[] = {-0.0, 1.0, 0.1, 1e300, 5e-324, 1e16, 1e-7, -2.5,
                                      std::numeric_limits<double>::quiet_NaN(),
                                      std::numeric_limits<double>::infinity()};
constexpr const char* kAwkwardTexts[] = {"q\"uote", "back\\slash", "nl\n\t\r\b\f", "\x01\x1f\x7f", "é🙂\u2028", ""};
constexpr std::int64_t kTimestamps[] = {std::numeric_limits<std::int64_t>::min(), -1, 0, 7, 1'700'000'000'123,
                                        std::numeric_limits<std::int64_t>::max()};

struct BatchGenerator {
  test::RecordGenerator records;

  int pick(int lo, int hi) { return records.pick(lo, hi); }
  double awkward_double() { return kAwkwardDoubles[pick(0, std::size(kAwkwardDoubles) - 1)]; }
  std::string awkward_text() { return kAwkwardTexts[pick(0, std::size(kAwkwardTexts) - 1)] + records.text(); }

  // Generated records, salted with the texts and numbers a printer gets wrong first.
  Node node() {
    Node n = records.node(pick(0, 1) == 1);
    n.id = awkward_text();
    n.data[awkward_text()] = json::Array{awkward_double(), std::int64_t{1}, 1.0, json::String(awkward_text())};
    if (n.vector && pick(0, 1)) n.vector->push_back(awkward_double());
    if (n.confidence && pick(0, 1)) n.confidence = awkward_double();
    return n;
  }
  std::vector<std::string> ids() {
    std::vector<std::string> v(static_cast<std::size_t>(pick(0, 2)));
    for (auto& id : v) id = awkward_text();
    return v;
  }
  ChangeBatch batch() {
    ChangeBatch b;
    for (int n = pick(0, 3); n > 0; --n) b.put_nodes.push_back(node());
    b.delete_node_ids = ids();
    for (int n = pick(0, 3); n > 0; --n) b.put_edges.push_back(records.edge());
    b.delete_edge_ids = ids();
    for (int n = pick(0, 2); n > 0; --n) b.put_vectors.push_back({awkward_text(), records.vector(pick(0, 1) == 1)});
    b.delete_vector_ids = ids();
    return b;
  }
  MutationRecord identity() {
    MutationRecord r;
    r.operation_id = awkward_text();
    r.sequence = records.count();
    r.transaction_id = awkward_text();
    if (pick(0, 1)) r.actor = awkward_text();
    if (pick(0, 1)) r.base_revision = records.count();
    if (pick(0, 2) == 0) r.metadata = records.json_value(0);
    if (pick(0, 5) == 0) r.metadata = json::Value(nullptr);  // written as absent
    return r;
  }
};

TEST(BatchLine, SameBytesAsTheRecordPrintedFromValues) {
  BatchGenerator gen{test::RecordGenerator(18)};
  for (int round = 0; round < 400; ++round) {
    const ChangeBatch batch = gen.batch();
    MutationRecord record = gen.identity();
    record.timestamp = kTimestamps[round % std::size(kTimestamps)];
    for (VectorPrecision precision : {VectorPrecision::Float64, VectorPrecision::Float32}) {
      std::string buffer = "left over from the last batch";
      const std::size_t at = start_batch_line(buffer, record, batch, precision);
      ASSERT_EQ(finish_batch_line(buffer, at, record.timestamp), line_through_values(record, batch, precision))
          << round;
    }
  }
}

}  // namespace
}  // namespace tarnwick::store
