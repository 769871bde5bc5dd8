"""What a sync per batch costs. NativeStore over the example DirectoryStorage, durable (each
append synced, and the directory when a file appears) and with durable=False, against sqlite3 in
WAL mode with synchronous=FULL (a sync per commit) and NORMAL (none), each committing one small
node per batch into a directory on the same disk. Prints the time per batch of each and the
ratios (durable / not durable, and tarnwick / sqlite3 for each of the two).

    python3 bench/durable_apply.py [--batches 300] [--dir DIR]
"""

import argparse
import json
import os
import shutil
import sqlite3
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "examples"))

import tarnwick._core as core  # noqa: E402
from directory_storage import DirectoryStorage  # noqa: E402


def node(i):
    return {"id": f"n{i}", "type": "note", "data": {"title": f"memory {i}"}, "insertedAt": i, "updatedAt": i}


def tarnwick_apply(root, durable, batches):
    store = core.NativeStore(DirectoryStorage(root, durable=durable))
    store.apply(put_nodes=[node(batches)])  # the files exist before the clock starts
    start = time.perf_counter()
    for i in range(batches):
        store.apply(put_nodes=[node(i)])
    elapsed = time.perf_counter() - start
    store.close()
    return elapsed / batches


def sqlite_apply(root, synchronous, batches):
    db = sqlite3.connect(os.path.join(root, "graph.db"))
    db.execute("PRAGMA journal_mode=WAL")
    db.execute(f"PRAGMA synchronous={synchronous}")
    db.execute("CREATE TABLE nodes (id TEXT PRIMARY KEY, body TEXT NOT NULL)")
    start = time.perf_counter()
    for i in range(batches):
        with db:
            db.execute("INSERT OR REPLACE INTO nodes VALUES (?, ?)", (f"n{i}", json.dumps(node(i))))
    elapsed = time.perf_counter() - start
    db.close()
    return elapsed / batches


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--batches", type=int, default=300)
    parser.add_argument("--dir", default=None, help="where the files go (default: a temporary directory)")
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tarnwick-durable-", dir=args.dir)
    runs = {}
    for name, run, setting in (("tarnwick durable", tarnwick_apply, True), ("tarnwick not durable", tarnwick_apply, False),
                               ("sqlite3 FULL", sqlite_apply, "FULL"), ("sqlite3 NORMAL", sqlite_apply, "NORMAL")):
        root = os.path.join(work, name.replace(" ", "-"))
        os.makedirs(root)
        runs[name] = run(root, setting, args.batches)
        print(f"{name:22} {runs[name] * 1e3:9.3f} ms per batch")
    print(f"durable / not durable: tarnwick {runs['tarnwick durable'] / runs['tarnwick not durable']:7.1f}, "
          f"sqlite3 {runs['sqlite3 FULL'] / runs['sqlite3 NORMAL']:7.1f}")
    print(f"tarnwick / sqlite3:    durable {runs['tarnwick durable'] / runs['sqlite3 FULL']:7.2f}, "
          f"not durable {runs['tarnwick not durable'] / runs['sqlite3 NORMAL']:7.2f}")
    shutil.rmtree(work)


if __name__ == "__main__":
    main()
