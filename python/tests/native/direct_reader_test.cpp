// The direct reader against the general conversion on random lists: whatever the direct reader
// accepts, the general conversion accepts too and yields the same columns; whatever the general
// conversion refuses, the direct reader declines. Run under the sanitizers as well.

#include "lib/direct_reader.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "json/json.hpp"
#include "lib/json_bridge.hpp"
#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

using testing::eval;
using testing::run;
using testing::take_error;

constexpr const char* kGenerator = R"(
import random
class Sub(dict): pass
def draw(r, depth=0):
    pick = r.randrange(14)
    if pick == 0 and depth < 3: return {r.choice('ks'): draw(r, depth + 1) for _ in range(r.randrange(3))}
    if pick == 1 and depth < 3: return [draw(r, depth + 1) for _ in range(r.randrange(3))]
    return r.choice([1, -2, 2.5, float('nan'), True, None, 's', '', 2**63, 2**64, 2**80, 'é', (1,), '\ud800',
                     Sub(), {1: 2}, b'x', 10**400, -(2**63), 1.0])
def node(r):
    n = {'id': r.choice('abc'), 'type': r.choice(['t', 'u']), 'insertedAt': 1, 'updatedAt': 2}
    for key in r.sample(['data', 'vector', 'revision', 'activation', 'memoryClass', 'confidence', 'derivedFrom',
                         'extra', 'insertedAt', 'id'], r.randrange(4)):
        n[key] = {'data': lambda: {r.choice('ks'): draw(r) for _ in range(3)},
                  'vector': lambda: r.choice([[1, 2.5], (0.5,), [], None, [float('nan')], [True], 5]),
                  'revision': lambda: r.choice([0, 7, -1, 2**63, None]),
                  'activation': lambda: {'score': draw(r), 'importance': 1, 'reinforcementCount': 0,
                                         'lastMeaningfulActivation': 0, 'context': {'w': [0.5, 1]}},
                  'memoryClass': lambda: r.choice(['entity', {'semantic': None}, 'Entity', {}]),
                  'confidence': lambda: draw(r), 'derivedFrom': lambda: [draw(r)], 'extra': lambda: draw(r),
                  'insertedAt': lambda: draw(r), 'id': lambda: draw(r)}[key]()
    return n if r.random() > 0.05 else r.choice([Sub(n), list(n.values()), 3])
def edge(r):
    e = {'id': 'e', 'source': r.choice('abc'), 'target': r.choice('abcd'), 'type': r.choice('xy'), 'createdAt': 0}
    if r.random() < 0.3: e[r.choice(['data', 'revision', 'createdAt', 'target'])] = draw(r)
    return e
def case(seed):
    r = random.Random(seed)
    return [node(r) for _ in range(r.randrange(4))], [edge(r) for _ in range(r.randrange(4))]
)";

std::vector<PyRef> items_of(PyObject* list) {
  std::vector<PyRef> items;
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) items.push_back(PyRef::borrow(PyList_GetItem(list, i)));
  return items;
}

query::Projection projection() {
  query::Projection p;
  p.fields = {"s", "k"};
  p.vectors = true;
  return p;
}

std::string describe(const query::SnapshotColumns& c) {
  std::string out;
  for (std::size_t i = 0; i < c.node_ids.size(); ++i) {
    out += std::string(c.node_ids[i]) + "/" + std::string(c.node_types[i]);
    for (const auto& column : c.fields) out += " " + json::print(column[i]);
    const query::VectorSpan v = c.vectors[i];
    if (v.length != query::VectorSpan::kNoVector)
      for (std::size_t k = 0; k < v.length; ++k) out += " v" + std::to_string(c.vector_values[v.offset + k]);
    out += "\n";
  }
  for (std::size_t j = 0; j < c.edge_sources.size(); ++j)
    out += std::string(c.edge_sources[j]) + ">" + std::string(c.edge_targets[j]) + ":" + std::string(c.edge_types[j]) + "\n";
  return out;
}

TEST(DirectReader, AcceptsOnlyWhatTheGeneralConversionAcceptsAndReadsItTheSame) {
  run(kGenerator);
  int accepted = 0;
  int declined = 0;
  for (int seed = 0; seed < 2000; ++seed) {
    PyRef pair = eval("case(" + std::to_string(seed) + ")");
    const std::vector<PyRef> nodes = items_of(PyTuple_GetItem(pair.get(), 0));
    const std::vector<PyRef> edges = items_of(PyTuple_GetItem(pair.get(), 1));
    auto direct = read_graph_directly(nodes, edges, projection());
    ASSERT_TRUE(direct || direct.error() == DirectStop::Declined) << take_error();
    ASSERT_FALSE(PyErr_Occurred());
    auto node_records = records_from_py<Node>(nodes);
    auto edge_records = node_records ? records_from_py<Edge>(edges) : error_set();
    if (!node_records || !edge_records) {
      EXPECT_FALSE(direct) << "seed " << seed << " accepted, but the general conversion raised " << take_error();
      take_error();
      ++declined;
      continue;
    }
    if (!direct) {
      ++declined;
      continue;
    }
    query::SnapshotColumns general(projection());
    for (Node& n : *node_records) general.add(std::move(n));
    for (const Edge& e : *edge_records) general.add(e);
    EXPECT_EQ(describe(*direct), describe(general)) << "seed " << seed;
    ++accepted;
  }
  // Both outcomes must be common, or the comparison says little.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(declined, 300);
}

TEST(DirectReader, PlansOfExactTypesOnly) {
  struct Case {
    const char* plan;
    bool read;
  };
  const Case cases[] = {
      {"{'nodeTypes': ['t'], 'limit': 2, 'order': {'field': 'k', 'direction': 'desc'}}", true},
      {"[['t'], None, None, None, None, None, None, 1]", true},
      {"{'limit': -1}", false},               // invalid: the general route reports it
      {"Sub(limit=1)", false},                // a subclass
      {"{'limit': 2**63}", false},            // beyond the signed range
      {"{'nodeTypes': ('t',), 'x': {1}}", false},
      {"None", false},
  };
  run(kGenerator);
  for (const Case& c : cases) {
    PyRef plan = eval(c.plan);
    auto read = read_plan_directly(plan.get());
    EXPECT_EQ(read.has_value(), c.read) << c.plan;
    if (!read) {
      EXPECT_EQ(read.error(), DirectStop::Declined) << c.plan;
    }
    EXPECT_FALSE(PyErr_Occurred());
  }
}

}  // namespace
}  // namespace tarnwick::py
