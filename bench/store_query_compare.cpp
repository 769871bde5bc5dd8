// The store's read side against SQLite holding the same graph, both in memory: node lookups,
// equality queries through a secondary index, a typed range query ordered with a small limit,
// counts by type and edge lookups by source. Prints each operation's time per call on both sides
// and the ratio SQLite / ours (above 1: ours is faster).
//
//   store_query_compare [nodes=100000] [only this operation, by its printed name's first word]
//
// Nodes carry about 1 KB of JSON data, one unique index ("key") and one non-unique ("group"),
// and three edges each. SQLite holds the rows as JSON text with expression indexes on exactly
// those two fields, an index on the type column and edge indexes by source and by target.
// SQLite is timed twice where it returns nodes: handing out the rows' text, and reading each row
// into the `Node` record that our store hands out (its data parsed from the JSON text).

#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "storage/store/node_query.hpp"
#include "storage/store/store.hpp"
#include "store/memory_storage.hpp"
#include "store/store_test_access.hpp"

namespace {

using tarnwick::Edge;
using tarnwick::Node;
using tarnwick::store::NodeQuery;
using tarnwick::store::Store;
using tarnwick::store::StoreTestAccess;
namespace json = tarnwick::json;

constexpr int kTypes = 10;
constexpr int kGroups = 1000;

std::string node_id(std::size_t i) { return "node-" + std::to_string(i); }
std::string type_of(std::size_t i) { return "type" + std::to_string(i % kTypes); }

json::Object data_of(std::size_t i, std::mt19937_64& rng) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  json::Object d;
  d["key"] = "key-" + std::to_string(i);
  d["group"] = static_cast<std::int64_t>(i % kGroups);
  d["score"] = unit(rng);
  d["rank"] = static_cast<std::int64_t>(rng() % 1000000);
  d["title"] = "a title of node " + std::to_string(i);
  d["body"] = std::string(820, static_cast<char>('a' + i % 26));
  d["tags"] = json::Array{"alpha", "beta", "gamma"};
  d["meta"] = json::Object{{"lang", "en"}, {"version", 2}};
  return d;
}

struct Graph {
  std::vector<Node> nodes;
  std::vector<Edge> edges;
};

Graph make_graph(std::size_t n) {
  std::mt19937_64 rng(42);
  Graph g;
  g.nodes.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    Node node;
    node.id = node_id(i);
    node.type = type_of(i);
    node.data = data_of(i, rng);
    node.inserted_at = node.updated_at = static_cast<std::int64_t>(i);
    g.nodes.push_back(std::move(node));
  }
  const std::size_t offsets[] = {1, 7, 13};
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t k = 0; k < 3; ++k) {
      Edge e;
      e.id = "edge-" + std::to_string(i) + "-" + std::to_string(k);
      e.source = node_id(i);
      e.target = node_id((i + offsets[k]) % n);
      e.type = k == 2 ? "cite" : "link";
      e.created_at = static_cast<std::int64_t>(i);
      g.edges.push_back(std::move(e));
    }
  return g;
}

std::unique_ptr<Store> fill_store(const Graph& g) {
  auto s = std::make_unique<Store>(std::make_unique<tarnwick::test::MemoryStorage>(std::make_shared<tarnwick::test::Disk>()),
                                   tarnwick::store::StoreOptions{});
  auto& defs = StoreTestAccess::index_definitions(*s);
  defs["by_key"] = {"by_key", {"key"}, std::nullopt, true, false};
  defs["by_group"] = {"by_group", {"group"}, std::nullopt, false, false};
  for (const Node& n : g.nodes) StoreTestAccess::store_node(*s, n.id, n);
  for (const Edge& e : g.edges) StoreTestAccess::edges(*s).emplace(e.id, e);
  StoreTestAccess::rebuild_indexes(*s);
  StoreTestAccess::loaded(*s) = true;
  return s;
}

void check(int rc, sqlite3* db, const char* what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE || rc == SQLITE_ROW) return;
  std::fprintf(stderr, "sqlite %s: %s\n", what, sqlite3_errmsg(db));
  std::exit(1);
}

void exec(sqlite3* db, const char* sql) { check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), db, sql); }

sqlite3_stmt* prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  check(sqlite3_prepare_v2(db, sql, -1, &st, nullptr), db, sql);
  return st;
}

void bind_text(sqlite3_stmt* st, int i, const std::string& s) {
  sqlite3_bind_text(st, i, s.data(), static_cast<int>(s.size()), SQLITE_TRANSIENT);
}

sqlite3* fill_sqlite(const Graph& g) {
  sqlite3* db = nullptr;
  check(sqlite3_open(":memory:", &db), db, "open");
  exec(db, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-4000000;");
  exec(db,
       "CREATE TABLE nodes(id TEXT PRIMARY KEY, type TEXT NOT NULL, data TEXT NOT NULL, inserted_at INTEGER, "
       "updated_at INTEGER, revision INTEGER);"
       "CREATE TABLE edges(id TEXT PRIMARY KEY, source TEXT NOT NULL, target TEXT NOT NULL, type TEXT NOT NULL, "
       "data TEXT, created_at INTEGER, revision INTEGER);");
  exec(db, "BEGIN");
  sqlite3_stmt* put_node = prepare(db, "INSERT INTO nodes VALUES(?,?,?,?,?,0)");
  for (const Node& n : g.nodes) {
    bind_text(put_node, 1, n.id);
    bind_text(put_node, 2, n.type);
    bind_text(put_node, 3, json::print(json::Value(n.data)));
    sqlite3_bind_int64(put_node, 4, n.inserted_at);
    sqlite3_bind_int64(put_node, 5, n.updated_at);
    check(sqlite3_step(put_node), db, "insert node");
    sqlite3_reset(put_node);
  }
  sqlite3_finalize(put_node);
  sqlite3_stmt* put_edge = prepare(db, "INSERT INTO edges VALUES(?,?,?,?,NULL,?,0)");
  for (const Edge& e : g.edges) {
    bind_text(put_edge, 1, e.id);
    bind_text(put_edge, 2, e.source);
    bind_text(put_edge, 3, e.target);
    bind_text(put_edge, 4, e.type);
    sqlite3_bind_int64(put_edge, 5, e.created_at);
    check(sqlite3_step(put_edge), db, "insert edge");
    sqlite3_reset(put_edge);
  }
  sqlite3_finalize(put_edge);
  exec(db, "COMMIT");
  exec(db,
       "CREATE INDEX nodes_type ON nodes(type);"
       "CREATE UNIQUE INDEX nodes_key ON nodes(json_extract(data, '$.key'));"
       "CREATE INDEX nodes_group ON nodes(json_extract(data, '$.group'));"
       "CREATE INDEX edges_source ON edges(source);"
       "CREATE INDEX edges_target ON edges(target);"
       "ANALYZE;");
  return db;
}

// A node row as a caller would take it: every column copied out.
struct NodeRow {
  std::string id, type, data;
  std::int64_t inserted_at, updated_at, revision;
};

NodeRow read_node_row(sqlite3_stmt* st) {
  auto text = [&](int i) {
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(st, i)),
                       static_cast<std::size_t>(sqlite3_column_bytes(st, i)));
  };
  return {text(0), text(1), text(2), sqlite3_column_int64(st, 3), sqlite3_column_int64(st, 4),
          sqlite3_column_int64(st, 5)};
}

Node read_node_record(sqlite3_stmt* st) {
  NodeRow row = read_node_row(st);
  Node n;
  n.id = std::move(row.id);
  n.type = std::move(row.type);
  n.data = std::move(json::parse(row.data).value().as_object());
  n.inserted_at = row.inserted_at;
  n.updated_at = row.updated_at;
  n.revision = static_cast<std::uint64_t>(row.revision);
  return n;
}

// The rows of one run of a statement, as text or as records.
template <bool kRecords>
std::size_t run_node_rows(sqlite3_stmt* st) {
  std::conditional_t<kRecords, std::vector<Node>, std::vector<NodeRow>> out;
  while (sqlite3_step(st) == SQLITE_ROW) {
    if constexpr (kRecords)
      out.push_back(read_node_record(st));
    else
      out.push_back(read_node_row(st));
  }
  sqlite3_reset(st);
  return out.size();
}

template <class F>
double nanos_per_call(int calls, F&& f) {
  std::size_t sink = 0;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < calls; ++i) sink += f(i);
  const auto end = std::chrono::steady_clock::now();
  if (sink == static_cast<std::size_t>(-1)) std::puts("");
  return std::chrono::duration<double, std::nano>(end - start).count() / calls;
}

const char* g_only = nullptr;

// Whether to run the operation named `name` (all when no filter was given).
bool wanted(const char* name) { return !g_only || std::string_view(name).starts_with(g_only); }

void report(const char* name, double ours, double sqlite) {
  std::printf("%-42s ours %11.0f ns   sqlite %11.0f ns   sqlite/ours %8.2f\n", name, ours, sqlite, sqlite / ours);
}

// Times a statement both ways: `bind(i)` binds the parameters of call i.
template <class Bind>
void report_rows(const char* name, int calls, double ours, sqlite3_stmt* st, Bind&& bind) {
  report(name, ours, nanos_per_call(calls, [&](int i) {
           bind(i);
           return run_node_rows<false>(st);
         }));
  report("  the same, sqlite rows read into records", ours, nanos_per_call(calls, [&](int i) {
           bind(i);
           return run_node_rows<true>(st);
         }));
}

NodeQuery range_query(int i) {
  NodeQuery q;
  q.node_types = std::vector<std::string>{type_of(static_cast<std::size_t>(i))};
  q.attribute_ranges.emplace();
  q.attribute_ranges->emplace_back("score", tarnwick::store::RangeQuery{0.2, 0.8});
  q.order_by = tarnwick::store::OrderBy{"rank", "desc"};
  q.limit = 10;
  return q;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
  if (argc > 2) g_only = argv[2];
  std::printf("building %zu nodes, %zu edges\n", n, 3 * n);
  const Graph g = make_graph(n);
  auto store = fill_store(g);
  sqlite3* db = fill_sqlite(g);
  std::mt19937_64 rng(7);
  std::vector<std::string> ids;
  for (int i = 0; i < 100000; ++i) ids.push_back(node_id(rng() % n));

  if (wanted("get_node")) {
    sqlite3_stmt* st = prepare(db, "SELECT id, type, data, inserted_at, updated_at, revision FROM nodes WHERE id = ?");
    const int calls = 100000;
    const double ours = nanos_per_call(calls, [&](int i) { return store->get_node(ids[i])->value().data.size(); });
    report_rows("get_node", calls, ours, st, [&](int i) {
      bind_text(st, 1, ids[i]);
    });
    sqlite3_finalize(st);
  }
  if (wanted("query: unique")) {
    sqlite3_stmt* st = prepare(db,
                               "SELECT id, type, data, inserted_at, updated_at, revision FROM nodes "
                               "WHERE json_extract(data, '$.key') = ?");
    const int calls = 50000;
    const double ours = nanos_per_call(calls, [&](int) {
      NodeQuery q;
      q.attributes = json::Object{{"key", "key-" + std::to_string(rng() % n)}};
      return store->query_nodes(q)->size();
    });
    report_rows("query: unique index equality (1 row)", calls, ours, st, [&](int) {
      bind_text(st, 1, "key-" + std::to_string(rng() % n));
    });
    sqlite3_finalize(st);
  }
  if (wanted("query: index equality")) {
    sqlite3_stmt* st = prepare(db,
                               "SELECT id, type, data, inserted_at, updated_at, revision FROM nodes "
                               "WHERE json_extract(data, '$.group') = ?");
    const int calls = 2000;
    const double ours = nanos_per_call(calls, [&](int i) {
      NodeQuery q;
      q.attributes = json::Object{{"group", static_cast<std::int64_t>(i % kGroups)}};
      return store->query_nodes(q)->size();
    });
    report_rows("query: index equality (n/1000 rows)", calls, ours, st, [&](int i) {
      sqlite3_bind_int64(st, 1, i % kGroups);
    });
    sqlite3_finalize(st);
  }
  if (wanted("query: type")) {
    sqlite3_stmt* st = prepare(db,
                               "SELECT id, type, data, inserted_at, updated_at, revision FROM nodes WHERE type = ? "
                               "AND json_extract(data, '$.score') > 0.2 AND json_extract(data, '$.score') < 0.8 "
                               "ORDER BY json_extract(data, '$.rank') DESC LIMIT 10");
    const int calls = 50;
    const double ours = nanos_per_call(calls, [&](int i) { return store->query_nodes(range_query(i))->size(); });
    report_rows("query: type + range + orderBy, limit 10", calls, ours, st, [&](int i) {
      bind_text(st, 1, type_of(static_cast<std::size_t>(i)));
    });
    sqlite3_finalize(st);
  }
  if (wanted("count_nodes")) {
    sqlite3_stmt* st = prepare(db, "SELECT count(*) FROM nodes WHERE type = ?");
    const int calls = 200;
    const double ours = nanos_per_call(calls, [&](int i) {
      NodeQuery q;
      q.node_types = std::vector<std::string>{type_of(static_cast<std::size_t>(i))};
      return static_cast<std::size_t>(*store->count_nodes(q));
    });
    const double theirs = nanos_per_call(calls, [&](int i) {
      bind_text(st, 1, type_of(static_cast<std::size_t>(i)));
      sqlite3_step(st);
      const auto c = static_cast<std::size_t>(sqlite3_column_int64(st, 0));
      sqlite3_reset(st);
      return c;
    });
    report("count_nodes by type", ours, theirs);
    sqlite3_finalize(st);
  }
  if (wanted("edges by")) {
    sqlite3_stmt* st = prepare(db,
                               "SELECT id, source, target, type, data, created_at, revision FROM edges "
                               "WHERE source = ?");
    const int calls = 50;
    std::vector<std::vector<std::string>> batches(calls);
    for (auto& b : batches)
      for (int k = 0; k < 1000; ++k) b.push_back(node_id(rng() % n));
    const double ours = nanos_per_call(calls, [&](int i) {
      return store->get_edges_by_sources(batches[static_cast<std::size_t>(i)], std::nullopt)->size();
    });
    const double theirs = nanos_per_call(calls, [&](int i) {
      std::vector<Edge> out;
      for (const std::string& source : batches[static_cast<std::size_t>(i)]) {
        bind_text(st, 1, source);
        while (sqlite3_step(st) == SQLITE_ROW) {
          Edge e;
          e.id = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
          e.source = reinterpret_cast<const char*>(sqlite3_column_text(st, 1));
          e.target = reinterpret_cast<const char*>(sqlite3_column_text(st, 2));
          e.type = reinterpret_cast<const char*>(sqlite3_column_text(st, 3));
          e.created_at = sqlite3_column_int64(st, 5);
          out.push_back(std::move(e));
        }
        sqlite3_reset(st);
      }
      return out.size();
    });
    report("edges by 1,000 sources", ours, theirs);
    sqlite3_finalize(st);
  }
  sqlite3_close(db);
  return 0;
}
