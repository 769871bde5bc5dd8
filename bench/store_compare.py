"""NativeStore against Python's sqlite3 on the same work, both over a directory on disk.

The data is that of the core store benchmarks: nodes with about 1 KB of data and a 384-float
vector, applied in batches of 1, 100 and 10,000, read back from a graph of 100k nodes (two edges
per node). Neither syncs per batch (bench/durable_apply.py measures that): SQLite runs in WAL
mode with synchronous=NORMAL, one transaction per batch, the directory storage with
durable=False. SQLite keeps each record as JSON text beside its vector as a float32 blob, with
expression indexes on the fields the store indexes (type, email, edge source and target). The
store runs once per vector precision. Each line prints the time per operation of both and their
ratio (tarnwick / sqlite; below 1.0 means tarnwick is faster).

    python3 bench/store_compare.py [--nodes 100000] [--precision float32 float64] [--writes-only]

`--growth N` instead applies batches of 100 small nodes (about 200 bytes, no vector) to a store
over an in-memory storage object up to N nodes, and prints the median time per batch around
each tenth of the way, leaving out the batches during which the store wrote a snapshot, and
those batches apart: applying should not slow down as the graph grows.
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

    def __init__(self, root, precision):
        self.root = root
        self.precision = precision
        with open(os.path.join(root, "indexes.json"), "w") as f:
            json.dump(INDEXES, f)
        self.open()

    def open(self):
        self.store = core.NativeStore(DirectoryStorage(self.root, durable=False),
                                      vector_precision=self.precision)

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

    def __init__(self, root, precision):
        self.path = os.path.join(root, "graph.db")
        self.open()
        self.db.executescript("""
            CREATE TABLE nodes (id TEXT PRIMARY KEY, body TEXT NOT NULL, vector BLOB);
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
            self.db.executemany("INSERT OR REPLACE INTO nodes VALUES (?, ?, ?)", [self.node_row(n) for n in nodes])
            self.db.executemany("INSERT OR REPLACE INTO edges VALUES (?, ?)", [(e["id"], json.dumps(e)) for e in edges])

    @staticmethod
    def node_row(node):
        body = {k: v for k, v in node.items() if k != "vector"}
        vector = node.get("vector")
        blob = None if vector is None else np.asarray(vector, dtype=np.float32).tobytes()
        return node["id"], json.dumps(body), blob

    @staticmethod
    def node_of(body, blob):
        node = json.loads(body)
        node["vector"] = None if blob is None else np.frombuffer(blob, dtype=np.float32).astype(float).tolist()
        return node

    def close(self):
        self.db.close()

    def first_read(self):
        return self.get_node("node-0")

    def get_node(self, id):
        row = self.db.execute("SELECT body, vector FROM nodes WHERE id = ?", (id,)).fetchone()
        return None if row is None else self.node_of(*row)

    def by_email(self, email):
        rows = self.db.execute("SELECT body, vector FROM nodes WHERE json_extract(body, '$.data.email') = ?", (email,))
        return [self.node_of(*row) for row in rows]

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


def timed(systems, run, repeat):
    """Each system's median time of one call. The systems take turns call by call, the first
    one alternating, so that the machine's other work weighs on both alike."""
    times = [[] for _ in systems]
    for i in range(repeat):
        order = list(enumerate(systems))
        for k, s in order if i % 2 == 0 else reversed(order):
            start = time.perf_counter()
            run(s, i)
            times[k].append(time.perf_counter() - start)
    return [sorted(t)[len(t) // 2] for t in times]


def report(label, seconds):
    ours, theirs = seconds
    print(f"{label:34} {ours * 1e3:11.3f} ms {theirs * 1e3:11.3f} ms   ratio {ours / theirs:6.2f}")


class MemoryStorage:
    """Files held as bytearrays: the store's own time, without a file system's."""

    def __init__(self):
        self.files = {}
        self.snapshots = 0

    def read(self, path):
        data = self.files.get(path)
        return None if data is None else bytes(data)

    def write(self, path, data):
        self.snapshots += path == "snapshot.msgpack"
        self.files[path] = bytearray(data)

    def append(self, path, data):
        self.files.setdefault(path, bytearray()).extend(data)

    def delete(self, path):
        self.files.pop(path, None)


def growth(total, precision):
    storage = MemoryStorage()
    store = core.NativeStore(storage, vector_precision=precision)
    filler = "y" * 100
    marks = [total * k // 10 for k in range(1, 11)]
    times, snapshot_times = [], []
    print(f"growth to {total} nodes, batches of 100 ({precision})")
    print(f"{'nodes':>10} {'median ms/batch':>16} {'batches':>8} {'snapshot batches (ms)'}")
    for start in range(0, total, 100):
        nodes = [{"id": f"node-{i}", "type": f"kind-{i % KINDS}",
                  "data": {"email": f"user{i}@example.org", "rank": i, "text": filler},
                  "insertedAt": 1_700_000_000_000 + i, "updatedAt": 1_700_000_000_000 + i}
                 for i in range(start, start + 100)]
        before = storage.snapshots
        began = time.perf_counter()
        store.apply(put_nodes=nodes)
        spent = time.perf_counter() - began
        (snapshot_times if storage.snapshots != before else times).append(spent)
        if start + 100 in marks:
            window = sorted(times[-200:])
            print(f"{start + 100:>10} {window[len(window) // 2] * 1e3:16.3f} {len(window):>8} "
                  + " ".join(f"{t * 1e3:.0f}" for t in snapshot_times))
            times, snapshot_times = [], []


def compare(args, precision):
    work = tempfile.mkdtemp(prefix="tarnwick-bench-")
    systems = []
    for cls in (Tarnwick, Sqlite):
        root = os.path.join(work, cls.name)
        os.makedirs(root)
        systems.append(cls(root, precision))
    data = Data()
    print(f"{'operation (' + precision + ')':34} {'tarnwick':>14} {'sqlite3':>14}")

    # Writes. The graph grows by 10,000-node batches up to its size; small batches come on top.
    big = []
    for _ in range(max(1, args.nodes // 10_000)):
        nodes = data.nodes(10_000)
        edges = Data.edges(nodes)
        big.append(timed(systems, lambda s, i: s.apply(nodes, edges), 1))
    report("apply, batch of 10,000 nodes", [sum(t) / len(big) for t in zip(*big)])
    for size, repeat in ((100, 60), (1, 200)):
        batches = [(n, Data.edges(n)) for n in (data.nodes(size) for _ in range(repeat))]
        report(f"apply, batch of {size} node{'s' if size > 1 else ''}",
               timed(systems, lambda s, i: s.apply(*batches[i]), repeat))
    if args.writes_only:
        for s in systems:
            s.close()
        shutil.rmtree(work)
        return
    # Close (the store writes its snapshot), then open the directory again and read one node.
    def reopen(s):
        s.open()
        s.first_read()
    report("close", timed(systems, lambda s, i: s.close(), 1))
    report(f"reopen + first get_node ({data.next_id} nodes)", timed(systems, lambda s, i: reopen(s), 1))

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
        report(label, timed(systems, run, repeat))
    for s in systems:
        s.close()
    shutil.rmtree(work)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=100_000, help="size of the graph the reads run on")
    parser.add_argument("--precision", nargs="+", default=["float32", "float64"], choices=["float32", "float64"])
    parser.add_argument("--writes-only", action="store_true", help="stop after the apply lines")
    parser.add_argument("--growth", type=int, default=0, help="run the growth profile up to this many nodes")
    args = parser.parse_args()
    for precision in args.precision:
        if args.growth:
            growth(args.growth, precision)
        else:
            compare(args, precision)


if __name__ == "__main__":
    main()
