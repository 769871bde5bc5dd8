"""What a loaded store costs: reopen time, heap per node, resident memory and the load's peak.

A store of N nodes (about 200 bytes of JSON data each, up to two edges per node, optionally
384-d vectors) is written to a directory and closed; each measurement then runs in a fresh process:

- reopen: `NativeStore(...)` and `node_count()`, next to two floors taken in the same run: the
  plain read of the two files, and the checked floor of bench/reopen_floor.cpp (the files read, every
  log line parsed keeping its sequence and ids, every snapshot value checked), a build with
  -DTARNWICK_BUILD_BENCH=ON;
- heap: glibc's bytes in use (`mallinfo2`, after `gc.collect()` and `malloc_trim(0)`) before
  the store is created against after the load, per node;
- resident: /proc/self/statm after the load against that heap;
- peak: VmHWM (reset through /proc/self/clear_refs) less the resident size before the load,
  against the files' sizes plus the heap the graph keeps.

    python3 bench/store_memory.py [--nodes 100000] [--vectors none|float32|float64]
        [--floor-program build/release/bench/reopen_floor]

Each run prints one line; the last line gives the medians of the reopen and of its ratios.
"""

import argparse
import ctypes
import gc
import json
import os
import statistics
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "examples"))

DIMENSIONS = 384
PAGE = os.sysconf("SC_PAGE_SIZE")


class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks", "fordblks",
                 "keepcost")]


libc = ctypes.CDLL("libc.so.6")
libc.mallinfo2.restype = MallInfo2


def heap_in_use():
    gc.collect()
    libc.malloc_trim(0)
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd


def resident():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * PAGE


def reset_peak():
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def peak():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise RuntimeError("no VmHWM")


def build(root, nodes, vectors, edges_per_node):
    import numpy as np
    import tarnwick._core as core
    from directory_storage import DirectoryStorage
    precision = {"none": None, "float32": "float32", "float64": "float64"}[vectors]
    kwargs = {"vector_precision": precision} if precision else {}
    store = core.NativeStore(DirectoryStorage(root), **kwargs)
    rng = np.random.default_rng(42)
    for start in range(0, nodes, 10_000):
        count = min(10_000, nodes - start)
        vecs = rng.standard_normal((count, DIMENSIONS)).tolist() if precision else None
        batch, edges = [], []
        for k in range(count):
            i = start + k
            node = {"id": f"node-{i}", "type": f"kind-{i % 10}",
                    "data": {"email": f"user{i}@example.org", "title": f"memory number {i}", "rank": i,
                             "score": i / 7, "tags": ["alpha", "beta"], "text": "y" * 80},
                    "insertedAt": 1_700_000_000_000 + i, "updatedAt": 1_700_000_000_000 + i}
            if vecs:
                node["vector"] = vecs[k]
            batch.append(node)
            for back in (1, 7)[:edges_per_node]:
                if i >= back:
                    edges.append({"id": f"edge-{i}-{back}", "source": f"node-{i}", "target": f"node-{i - back}",
                                  "type": "follows", "createdAt": 1_700_000_000_000 + i})
        store.apply(put_nodes=batch, put_edges=edges)
    store.close()


def read_floor(root):
    start = time.perf_counter()
    for name in ("snapshot.msgpack", "mutations.jsonl"):
        with open(os.path.join(root, name), "rb") as f:
            f.read()
    return time.perf_counter() - start


def measure(root):
    import tarnwick._core as core
    from directory_storage import DirectoryStorage
    files = sum(os.path.getsize(os.path.join(root, n)) for n in os.listdir(root))
    heap_before = heap_in_use()
    resident_before = resident()
    reset_peak()
    start = time.perf_counter()
    store = core.NativeStore(DirectoryStorage(root))
    count = store.node_count()
    seconds = time.perf_counter() - start
    load_peak = peak() - resident_before
    heap = heap_in_use() - heap_before
    res = resident() - resident_before
    print(json.dumps({"seconds": seconds, "nodes": count, "heap": heap, "resident": res, "peak": load_peak,
                      "files": files, "read_floor": read_floor(root)}))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--nodes", type=int, default=100_000)
    parser.add_argument("--vectors", choices=("none", "float32", "float64"), default="none")
    parser.add_argument("--edges", type=int, choices=(0, 1, 2), default=0, help="edges per node")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--floor-program",
                        default=os.path.join(os.path.dirname(__file__), "..", "build", "release", "bench",
                                             "reopen_floor"))
    parser.add_argument("--measure", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        measure(args.measure)
        return
    if not os.access(args.floor_program, os.X_OK):
        parser.error(f"no floor program at {args.floor_program}: build with -DTARNWICK_BUILD_BENCH=ON")
    work = tempfile.mkdtemp(prefix="tarnwick-memory-")
    try:
        build(work, args.nodes, args.vectors, args.edges)
        runs = []
        for _ in range(args.repeat):
            out = subprocess.run([sys.executable, __file__, "--measure", work], check=True, capture_output=True,
                                 text=True).stdout
            r = json.loads(out)
            r["floor"] = json.loads(subprocess.run([args.floor_program, work], check=True, capture_output=True,
                                                   text=True).stdout)["seconds"]
            runs.append(r)
            n = r["nodes"]
            print(f"{args.vectors:8} reopen {r['seconds']:.3f} s (floor {r['floor']:.3f} s, "
                  f"{r['seconds'] / r['floor']:.2f}x; read {r['read_floor']:.3f} s, "
                  f"{r['seconds'] / r['read_floor']:.2f}x)  heap/node {r['heap'] / n:.0f} B  "
                  f"resident/heap {r['resident'] / r['heap']:.2f}  "
                  f"peak/(files+heap) {r['peak'] / (r['files'] + r['heap']):.2f} "
                  f"(peak {r['peak'] / 1e6:.0f} MB, files {r['files'] / 1e6:.0f} MB, heap {r['heap'] / 1e6:.0f} MB)")
        median = lambda f: statistics.median(f(r) for r in runs)
        print(f"{args.vectors:8} median reopen {median(lambda r: r['seconds']):.3f} s  "
              f"floor {median(lambda r: r['floor']):.3f} s  "
              f"reopen/floor {median(lambda r: r['seconds'] / r['floor']):.2f}x  "
              f"reopen/read {median(lambda r: r['seconds'] / r['read_floor']):.2f}x")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
