"""Packs and unpacks the snapshot of bench/storage_bench.cpp with the `msgpack` package (its C
extension), from and to plain dicts and lists, for comparison with the engine's own codec.

Run on demand: python3 bench/msgpack_compare.py (needs `pip install msgpack numpy`).
"""

import time

import msgpack
import numpy as np

NODES = 100_000
DIMENSIONS = 384


def snapshot(precision):
    rng = np.random.default_rng(42)
    values = rng.uniform(-1.0, 1.0, (NODES, DIMENSIONS))
    nodes, vectors = [], []
    for i in range(NODES):
        if precision == "float32":
            vector = {"__tarnwick_f32": values[i].astype("<f4").tobytes()}
        else:
            vector = values[i].tolist()
        node_id = f"node-{i}"
        node = {
            "id": node_id,
            "type": "memory",
            "data": {"title": f"memory number {i}", "weight": float(values[i][0]), "tags": ["alpha", "beta"]},
            "vector": vector,
            "insertedAt": 1_700_000_000_000 + i,
            "updatedAt": 1_700_000_000_000 + i,
            "activation": None,
            "revision": 1,
        }
        nodes.append([node_id, node])
        vectors.append([node_id, vector])
    return {"version": 2, "nodes": nodes, "edges": [], "vectors": vectors, "vectorPrecision": precision}


def best_of(runs, fn):
    best = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    for precision in ("float64", "float32"):
        data = snapshot(precision)
        packed = msgpack.packb(data, use_bin_type=True)
        pack = best_of(3, lambda: msgpack.packb(data, use_bin_type=True))
        unpack = best_of(3, lambda: msgpack.unpackb(packed, raw=False, strict_map_key=False))
        mb = len(packed) / 1e6
        print(f"{precision}: {mb:.1f} MB  pack {mb / pack:.0f} MB/s  unpack {mb / unpack:.0f} MB/s")


if __name__ == "__main__":
    main()
