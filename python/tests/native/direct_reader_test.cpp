// The direct reader against the general conversion on random lists: whatever the direct reader
// accepts, the general conversion accepts too and yields the same columns or records; whatever
// the general conversion refuses, the direct reader declines, before any Python code runs. And
// records handed back are what their JSON forms convert to. Run under the sanitizers as well.

#include "lib/direct_reader.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "json/json.hpp"
#include "lib/json_bridge.hpp"
#include "lib/record_objects.hpp"
#include "native/interpreter.hpp"

namespace tarnwick::py {
namespace {

using testing::eval;
using testing::run;
using testing::take_error;

constexpr const char* kGenerator = R"(
import random
calls = []
class Sub(dict): pass
class Probe:
    """A number only through Python code, which it records."""
    def __index__(self): calls.append('index'); return 3
    def __float__(self): calls.append('float'); return 0.5
def draw(r, depth=0):
    pick = r.randrange(14)
    if pick == 0 and depth < 3: return {r.choice('ks'): draw(r, depth + 1) for _ in range(r.randrange(3))}
    if pick == 1 and depth < 3: return [draw(r, depth + 1) for _ in range(r.randrange(3))]
    return r.choice([1, -2, 2.5, float('nan'), True, None, 's', '', 2**63, 2**64, 2**80, 'é', (1,), '\ud800',
                     Sub(), {1: 2}, b'x', 10**400, -(2**63), 1.0, -0.0, 2**64 - 1, 1e300, 5e-324, Probe()])
def context(r):
    return r.choice([{'w': [0.5, 1]}, {'w': {'score': 0.5, 'lastMeaningfulActivation': 1},
                                       'v': {'score': -0.0, 'lastMeaningfulActivation': -3}}, None])
def node(r):
    n = {'id': r.choice('abc'), 'type': r.choice(['t', 'u']), 'insertedAt': 1, 'updatedAt': 2}
    for key in r.sample(['data', 'vector', 'revision', 'activation', 'memoryClass', 'confidence', 'derivedFrom',
                         'extra', 'insertedAt', 'id', 'source', 'observedAt', 'contradicts'], r.randrange(6)):
        n[key] = {'data': lambda: {r.choice('ks'): draw(r) for _ in range(3)},
                  'vector': lambda: r.choice([[1, 2.5], (0.5, -0.0), [], None, [float('nan')], [True], 5, [Probe()]]),
                  'revision': lambda: r.choice([0, 7, -1, 2**63, None]),
                  'activation': lambda: {'score': draw(r), 'importance': 1, 'reinforcementCount': 0,
                                         'lastMeaningfulActivation': 0, 'context': context(r),
                                         'inhibition': r.choice([None, 0.25, float('inf')])},
                  'memoryClass': lambda: r.choice(['entity', {'semantic': None}, 'Entity', {}]),
                  'confidence': lambda: draw(r), 'derivedFrom': lambda: [draw(r)], 'extra': lambda: draw(r),
                  'insertedAt': lambda: draw(r), 'id': lambda: draw(r), 'source': lambda: r.choice(['s', None, 1]),
                  'observedAt': lambda: r.choice([-5, None, 1.5]), 'contradicts': lambda: ('a', r.choice('bc'))}[key]()
    return n if r.random() > 0.05 else r.choice([Sub(n), list(n.values()), 3])
def edge(r):
    e = {'id': 'e', 'source': r.choice('abc'), 'target': r.choice('abcd'), 'type': r.choice('xy'), 'createdAt': 0}
    if r.random() < 0.3: e[r.choice(['data', 'revision', 'createdAt', 'target'])] = draw(r)
    return e
def case(seed):
    r = random.Random(seed)
    return [node(r) for _ in range(r.randrange(4))], [edge(r) for _ in range(r.randrange(4))]
def vector_entry(r):
    v = {'id': r.choice(['a', '\ud800']), 'vector': r.choice([[1, -0.0], (2.5,), [], None, [float('inf')], [Probe()]])}
    return v if r.random() > 0.1 else r.choice([Sub(v), [v['id'], v['vector']]])
def mutation_record(r):
    m = {'operationId': 'o', 'sequence': 3, 'transactionId': 't', 'timestamp': -1,
         'operations': [{'operationType': 'putNode', 'payload': draw(r)} for _ in range(r.randrange(3))]}
    for key in r.sample(['actor', 'baseRevision', 'metadata'], r.randrange(4)):
        m[key] = {'actor': 'me', 'baseRevision': 2**64 - 1, 'metadata': draw(r)}[key]
    return m
def extras(seed):
    r = random.Random(seed)
    return [vector_entry(r) for _ in range(r.randrange(3))], draw(r), [mutation_record(r) for _ in range(2)]
)";

std::vector<PyRef> items_of(PyObject* list) {
  std::vector<PyRef> items;
  for (Py_ssize_t i = 0; i < PyList_Size(list); ++i) items.push_back(PyRef::borrow(PyList_GetItem(list, i)));
  return items;
}

// Odd seeds keep no edges: those are only checked.
query::Projection projection(int seed) {
  query::Projection p;
  p.fields = {"s", "k"};
  p.vectors = true;
  p.edges = seed % 2 == 0;
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
    auto direct = read_graph_directly(nodes, edges, projection(seed));
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
    query::SnapshotColumns general(projection(seed));
    for (Node& n : *node_records) general.add(std::move(n));
    for (const Edge& e : *edge_records) general.add(e);
    EXPECT_EQ(describe(*direct), describe(general)) << "seed " << seed;
    ++accepted;
  }
  // Both outcomes must be common, or the comparison says little.
  EXPECT_GT(accepted, 300);
  EXPECT_GT(declined, 300);
}

// The printed JSON form, which tells -0.0 from 0.0 and ints from doubles.
template <class R>
std::string printed(const std::vector<R>& records) {
  std::string out;
  for (const R& r : records) out += json::print(r.serialize()) + "\n";
  return out;
}

std::string repr(const PyRef& object) {
  PyRef text = PyRef::steal(PyObject_Repr(object.get()));
  if (!text) return "<repr failed: " + take_error() + ">";
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
  return utf8 ? std::string(utf8, static_cast<std::size_t>(size)) : "<not UTF-8: " + take_error() + ">";
}

struct Tally {
  int accepted = 0;
  int declined = 0;
};

// Reads the items both ways: the direct reader runs no Python code, and whatever it accepts
// the general conversion reads to the same records; it declines whatever that conversion refuses.
template <class R>
std::optional<std::vector<R>> read_both_ways(std::span<const PyRef> items, int seed, Tally& tally) {
  run("calls.clear()");
  auto direct = read_records_directly<R>(items);
  EXPECT_TRUE(direct || direct.error() == DirectStop::Declined) << take_error();
  EXPECT_EQ(repr(eval("calls")), "[]") << "seed " << seed;
  auto general = records_from_py<R>(items);
  if (!general) {
    EXPECT_FALSE(direct) << "seed " << seed << " accepted, but the general conversion raised " << take_error();
    take_error();
    ++tally.declined;
    return std::nullopt;
  }
  if (!direct) {
    ++tally.declined;
  } else {
    EXPECT_EQ(printed(*direct), printed(*general)) << "seed " << seed;
    EXPECT_TRUE(*direct == *general) << "seed " << seed;
    ++tally.accepted;
  }
  return std::move(*general);
}

// Records handed back are the objects their JSON forms convert to, down to key order and types.
template <class R, class ToPy>
void expect_same_objects(const std::vector<R>& records, ToPy to_py, int seed) {
  for (const R& r : records) {
    auto direct = to_py(r);
    auto general = json_to_py(r.serialize());
    ASSERT_TRUE(direct && general) << take_error();
    EXPECT_EQ(repr(*direct), repr(*general)) << "seed " << seed;
  }
}

TEST(DirectReader, RecordsAndValuesAreTheGeneralConversionsAndGoBackAsTheirJsonForms) {
  run(kGenerator);
  Tally nodes, edges, vectors, values;
  for (int seed = 0; seed < 2000; ++seed) {
    PyRef pair = eval("case(" + std::to_string(seed) + ")");
    PyRef extra = eval("extras(" + std::to_string(seed) + ")");
    if (auto read = read_both_ways<Node>(items_of(PyTuple_GetItem(pair.get(), 0)), seed, nodes))
      expect_same_objects(*read, node_to_py, seed);
    if (auto read = read_both_ways<Edge>(items_of(PyTuple_GetItem(pair.get(), 1)), seed, edges))
      expect_same_objects(*read, edge_to_py, seed);
    read_both_ways<VectorEntry>(items_of(PyTuple_GetItem(extra.get(), 0)), seed, vectors);

    PyObject* value = PyTuple_GetItem(extra.get(), 1);
    auto direct = read_value_directly(value);
    EXPECT_TRUE(direct || direct.error() == DirectStop::Declined) << take_error();
    auto general = py_to_json(value);
    if (!general) take_error();
    EXPECT_TRUE(!direct || (general && json::print(*direct) == json::print(*general))) << "seed " << seed;
    ++(direct ? values.accepted : values.declined);

    auto log = records_from_py<store::MutationRecord>(items_of(PyTuple_GetItem(extra.get(), 2)));
    if (log) {
      expect_same_objects(*log, mutation_record_to_py, seed);
    } else {
      take_error();
    }
  }
  // Both outcomes must be common, or the comparison says little.
  for (const Tally& t : {nodes, edges, vectors, values}) {
    EXPECT_GT(t.accepted, 300);
    EXPECT_GT(t.declined, 300);
  }
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
