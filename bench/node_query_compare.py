"""Node queries of one build against another's, run by two interpreters on the same files.

The store: 50k nodes of types "fact" and "note", each with about 1 KB of data in four fields
("key", "topic", a ~900-byte "text", "score") and a float32 384-d vector, with indexes on
"key" (unique) and "topic". It is written once, by the first interpreter, and compacted into a
snapshot. Child processes of the two interpreters then take turns, round by round: each opens
the store and times every call below (the median over many calls, after one warm-up), and
times the reopen of copies of the files with and without "indexes.json". Each line prints the
median over the rounds of both builds and the ratio new / old (below 1.0: the new build is
faster).

    python3 bench/node_query_compare.py --old OLD_PYTHON --new NEW_PYTHON [--rounds 5] [--nodes 50000]

Each interpreter must import its own build of tarnwick._core.
"""

import argparse
import json
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
DIMENSIONS = 384
TOPICS = 500
TEXT = "t" * 900
INDEXES = [{"name": "by_key", "fields": ["key"], "unique": True}, {"name": "by_topic", "fields": ["topic"]}]

# name -> (how many calls are timed, the call given the store and a random source)
CALLS = {
    "get_node": (2000, lambda s, r: s.get_node(f"n{r.randrange(NODES)}")),
    "query_nodes key (unique index)": (2000, lambda s, r: s.query_nodes({"attributes": {"key": f"k{r.randrange(NODES)}"}})),
    "count_nodes fact + topic (index, then tested)": (
        1000, lambda s, r: s.count_nodes({"nodeTypes": ["fact"], "attributes": {"topic": f"topic-{r.randrange(TOPICS)}"}})),
    "count_nodes score range (every node)": (
        30, lambda s, r: s.count_nodes({"attributeRanges": {"score": {"above": 10, "below": 11}}})),
    "query_nodes fact by score desc, limit 10": (
        30, lambda s, r: s.query_nodes({"nodeTypes": ["fact"], "orderBy": {"field": "score", "direction": "desc"},
                                        "limit": 10})),
    "query_nodes note score = 42.0 (scan)": (
        30, lambda s, r: s.query_nodes({"nodeTypes": ["note"], "attributes": {"score": 42.0}})),
}
NODES = 50_000


def open_store(core, root):
    sys.path.insert(0, os.path.join(HERE, "..", "examples"))
    from directory_storage import DirectoryStorage
    return core.NativeStore(DirectoryStorage(root, durable=False), vector_precision="float32")


def build(root, nodes):
    import numpy as np
    import tarnwick._core as core
    with open(os.path.join(root, "indexes.json"), "w") as f:
        json.dump(INDEXES, f)
    store = open_store(core, root)
    rng = np.random.default_rng(23)
    for start in range(0, nodes, 1000):
        batch = []
        vectors = rng.standard_normal((min(1000, nodes - start), DIMENSIONS)).astype(np.float32)
        for i, vector in zip(range(start, start + len(vectors)), vectors):
            batch.append({"id": f"n{i}", "type": "fact" if i % 2 else "note",
                          "data": {"key": f"k{i}", "topic": f"topic-{i % TOPICS}", "text": TEXT,
                                   "score": float((i * 7919) % 1000) / 10.0},
                          "vector": vector.tolist(), "insertedAt": 1_700_000_000_000 + i,
                          "updatedAt": 1_700_000_000_000 + i})
        store.apply(put_nodes=batch)
    store.compact()
    store.close()


def measure_calls(root):
    import tarnwick._core as core
    store = open_store(core, root)
    store.get_node("n0")  # loads the files
    out = {}
    for name, (count, call) in CALLS.items():
        rng = random.Random(5)
        call(store, rng)
        times = []
        for _ in range(count):
            t = time.perf_counter()
            call(store, rng)
            times.append(time.perf_counter() - t)
        out[name] = statistics.median(times)
    store.close()
    return out


def measure_reopen(root):
    import tarnwick._core as core
    t = time.perf_counter()
    store = open_store(core, root)
    store.get_node("n0")
    elapsed = time.perf_counter() - t
    store.close()
    return elapsed


def child(args):
    global NODES
    NODES = args.nodes
    if args.child == "build":
        build(args.dir, args.nodes)
        return
    result = measure_calls(args.dir) if args.child == "calls" else measure_reopen(args.dir)
    print(json.dumps(result))


def run_child(python, mode, root, nodes):
    out = subprocess.run([python, os.path.abspath(__file__), "--child", mode, "--dir", root, "--nodes", str(nodes)],
                         check=True, capture_output=True, text=True, cwd=tempfile.gettempdir())
    return json.loads(out.stdout) if out.stdout.strip() else None


def show(seconds):
    return f"{seconds * 1e3:9.3f} ms" if seconds >= 1e-3 else f"{seconds * 1e6:9.1f} us"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--old", help="interpreter of the build compared against")
    parser.add_argument("--new", help="interpreter of the build measured")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--nodes", type=int, default=NODES)
    parser.add_argument("--child", choices=["build", "calls", "reopen"])
    parser.add_argument("--dir")
    args = parser.parse_args()
    if args.child:
        child(args)
        return
    work = tempfile.mkdtemp(prefix="node-query-compare-")
    try:
        indexed = os.path.join(work, "indexed")
        os.mkdir(indexed)
        run_child(os.path.abspath(args.new), "build", indexed, args.nodes)
        plain = os.path.join(work, "plain")
        shutil.copytree(indexed, plain)
        os.remove(os.path.join(plain, "indexes.json"))
        builds = {"old": os.path.abspath(args.old), "new": os.path.abspath(args.new)}
        calls = {b: {name: [] for name in CALLS} for b in builds}
        reopen = {b: {"with indexes.json": [], "without": []} for b in builds}
        for round_ in range(args.rounds):
            # Alternate which build goes first, so that neither always meets a warmer machine.
            order = ["old", "new"] if round_ % 2 == 0 else ["new", "old"]
            for b in order:
                for name, t in run_child(builds[b], "calls", indexed, args.nodes).items():
                    calls[b][name].append(t)
                reopen[b]["with indexes.json"].append(run_child(builds[b], "reopen", indexed, args.nodes))
                reopen[b]["without"].append(run_child(builds[b], "reopen", plain, args.nodes))
        print(f"{args.nodes} nodes, {args.rounds} rounds; old: {args.old}; new: {args.new}")
        print(f"{'call':48} {'old':>12} {'new':>12} {'new/old':>8}")
        rows = [(name, calls["old"][name], calls["new"][name]) for name in CALLS]
        rows += [(f"reopen {k}", reopen["old"][k], reopen["new"][k]) for k in ("with indexes.json", "without")]
        for name, old, new in rows:
            o, n = statistics.median(old), statistics.median(new)
            print(f"{name:48} {show(o):>12} {show(n):>12} {n / o:8.2f}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
