"""NativeStore against Python's sqlite3 on the same work, both over a directory on disk.

The data is that of the core store benchmarks: nodes with about 1 KB of data and a 384-float
vector, applied in batches of 1, 100 and 10,000, read back from a graph of 100k nodes (two edges
per node). Neither syncs per batch (bench/durable_apply.py measures that): SQLite runs in WAL
mode with synchronous=NORMAL, the directory storage with durable=False. SQLite keeps each record
as JSON text, with expression indexes on the fields the store indexes (type, email, edge source
and target).
Each line prints the time per operation of both and their ratio (tarnwick / sqlite; below 1.0
means tarnwick is faster).

    python3 bench/store_compare.py [--nodes 100000]
"""

import argparse
import json
import os
import random
import shutil
import sqlite3
import sys
import tempfile
import time

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "examples"))

import tarnwick._core as core  # noqa: E402
from directory_storage import DirectoryStorage  # noqa: E402

DIMENSIONS = 384
KINDS = 10
FILLER = "x" * 900
INDEXES = [{"name": "email", "fields": ["email"], "unique": True}]


class Data:
    def __init__(self):
        self.rng = np.random.default_rng(42)
        self.next_id = 0

    def nodes(self, count):
        vectors = self.rng.standard_normal((count, DIMENSIONS)).tolist()
        out = []
        for vector in vectors:
            i = self.next_id
            self.next_id += 1
            out.append({"id": f"node-{i}", "type": f"kind-{i % KINDS}",
                        "data": {"email": f"user{i}@example.org", "title": f"memory {i}", "rank": i,
                                 "tags": ["alpha", "beta"], "text": FILLER},
                        "vector": vector, "insertedAt": 1_700_000_000_000 + i, "updatedAt": 1_700_000_000_000 + i})
        return out

    @staticmethod
    def edges(nodes):
        out = []
        for n in nodes:
            i = int(n["id"].split("-")[1])
            for back in (1, 7):
                if i >= back:
                    out.append({"id": f"edge-{i}-{back}", "source": n["id"], "target": f"node-{i - back}",
                                "type": "follows", "createdAt": 1_700_000_000_000 + i})
        return out


class Tarnwick:
    name = "tarnwick"

    def __init__(self, root):
        self.root = root
        with open(os.path.join(root, "indexes.json"), "w") as f:
            json.dump(INDEXES, f)
        self.open()

    def open(self):
        self.store = core.NativeStore(DirectoryStorage(self.root, durable=False))

    def apply(self, nodes, edges):
        self.store.apply(put_nodes=nodes, put_edges=edges)

    def close(self):
        self.store.close()

    def first_read(self):
        return self.store.get_node("node-0")

    def get_node(self, id):
        return self.store.get_node(id)

    def by_email(self, email):
        return self.store.query_nodes({"attributes": {"email": email}})

    def count_kind(self, kind):
        return self.store.count_nodes({"nodeTypes": [kind]})

    def edges_from(self, id):
        return self.store.get_edges_by_sources([id], None)

    def edges_to(self, id):
        return self.store.get_edges_by_targets([id], None)


class Sqlite:
    name = "sqlite3"

    def __init__(self, root):
        self.path = os.path.join(root, "graph.db")
        self.open()
        self.db.executescript("""
            CREATE TABLE nodes (id TEXT PRIMARY KEY, body TEXT NOT NULL);
            CREATE TABLE edges (id TEXT PRIMARY KEY, body TEXT NOT NULL);
            CREATE INDEX nodes_type ON nodes (json_extract(body, '$.type'));
            CREATE UNIQUE INDEX nodes_email ON nodes (json_extract(body, '$.data.email'));
            CREATE INDEX edges_source ON edges (json_extract(body, '$.source'));
            CREATE INDEX edges_target ON edges (json_extract(body, '$.target'));
        """)

    def open(self):
        self.db = sqlite3.connect(self.path)
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute("PRAGMA synchronous=NORMAL")

    def apply(self, nodes, edges):
        with self.db:
            self.db.executemany("INSERT OR REPLACE INTO nodes VALUES (?, ?)", [(n["id"], json.dumps(n)) for n in nodes])
            self.db.executemany("INSERT OR REPLACE INTO edges VALUES (?, ?)", [(e["id"], json.dumps(e)) for e in edges])

    def close(self):
        self.db.close()

    def first_read(self):
        return self.get_node("node-0")

    def get_node(self, id):
        row = self.db.execute("SELECT body FROM nodes WHERE id = ?", (id,)).fetchone()
        return None if row is None else json.loads(row[0])

    def by_email(self, email):
        rows = self.db.execute("SELECT body FROM nodes WHERE json_extract(body, '$.data.email') = ?", (email,))
        return [json.loads(body) for body, in rows]

    def count_kind(self, kind):
        return self.db.execute("SELECT count(*) FROM nodes WHERE json_extract(body, '$.type') = ?", (kind,)).fetchone()[0]

    def edges_from(self, id):
        rows = self.db.execute("SELECT body FROM edges WHERE json_extract(body, '$.source') = ?", (id,))
        return [json.loads(body) for body, in rows]

    def edges_to(self, id):
        rows = self.db.execute("SELECT body FROM edges WHERE json_extract(body, '$.target') = ?", (id,))
        return [json.loads(body) for body, in rows]


def summary(result):
    """What both systems must agree on: a count, or the ids of what was found."""
    if isinstance(result, int):
        return result
    if isinstance(result, dict):
        return result["id"]
    return sorted(r["id"] for r in result)


def timed(run, repeat):
    start = time.perf_counter()
    for i in range(repeat):
        run(i)
    return (time.perf_counter() - start) / repeat


def report(label, seconds):
    ours, theirs = seconds
    print(f"{label:34} {ours * 1e3:11.3f} ms {theirs * 1e3:11.3f} ms   ratio {ours / theirs:6.2f}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=100_000, help="size of the graph the reads run on")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tarnwick-bench-")
    systems = []
    for cls in (Tarnwick, Sqlite):
        root = os.path.join(work, cls.name)
        os.makedirs(root)
        systems.append(cls(root))
    data = Data()
    print(f"{'operation':34} {'tarnwick':>14} {'sqlite3':>14}")

    # Writes. The graph grows by 10,000-node batches up to its size; small batches come on top.
    big = []
    for _ in range(max(1, args.nodes // 10_000)):
        nodes = data.nodes(10_000)
        edges = Data.edges(nodes)
        big.append([timed(lambda i: s.apply(nodes, edges), 1) for s in systems])
    report("apply, batch of 10,000 nodes", [sum(t) / len(big) for t in zip(*big)])
    for size, repeat in ((100, 20), (1, 200)):
        batches = [(n, Data.edges(n)) for n in (data.nodes(size) for _ in range(repeat))]
        report(f"apply, batch of {size} node{'s' if size > 1 else ''}",
               [timed(lambda i: s.apply(*batches[i]), repeat) for s in systems])

    # Close (the store writes its snapshot), then open the directory again and read one node.
    def reopen(s):
        s.open()
        s.first_read()
    report("close", [timed(lambda i: s.close(), 1) for s in systems])
    report(f"reopen + first get_node ({data.next_id} nodes)", [timed(lambda i: reopen(s), 1) for s in systems])

    rng = random.Random(7)
    ids = [f"node-{rng.randrange(data.next_id)}" for _ in range(1000)]
    checks = [
        ("get_node", lambda s, i: s.get_node(ids[i]), 1000),
        ("query_nodes, indexed equality", lambda s, i: s.by_email(ids[i].replace("node-", "user") + "@example.org"),
         1000),
        ("count_nodes, by type", lambda s, i: s.count_kind(f"kind-{i % KINDS}"), 20),
        ("get_edges_by_sources, one id", lambda s, i: s.edges_from(ids[i]), 1000),
        ("get_edges_by_targets, one id", lambda s, i: s.edges_to(ids[i]), 1000),
    ]
    for label, run, repeat in checks:
        first, second = (summary(run(s, 0)) for s in systems)
        assert first == second, (label, first, second)
        report(label, [timed(lambda i: run(s, i), repeat) for s in systems])
    for s in systems:
        s.close()
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
