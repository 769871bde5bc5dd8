"""Compares tarnwick's vector indexes with NumPy brute force, hnswlib and FAISS on synthetic
clustered vectors (the size given, then 10k x 384), single-threaded. Run it through run_vector_indexes.sh, which sets
up the comparison libraries; the last lines are the ratios ours / theirs.

    bench/run_vector_indexes.sh [--n 100000] [--dim 128] [--queries 10000] [--large]
    bench/run_vector_indexes.sh --exact-only --dim 384 [--n 10000]
"""

import argparse
import gc
import os
import subprocess
import sys
import time

# One thread everywhere: the engine never starts threads of its own.
for var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ[var] = "1"

import numpy as np  # noqa: E402

import tarnwick._core as core  # noqa: E402

K = 10
M, EF_CONSTRUCTION, EF_SEARCH = 16, 200, 200
# Recall is also measured at these ef_search values; the graph does not depend on ef_search.
EF_SWEEP = (10, 50, 100, 400, 800)


def clustered(n, dim, centres, spread, rng):
    labels = rng.integers(0, len(centres), size=n)
    return centres[labels] + spread * rng.normal(size=(n, dim))


def dataset(n, dim, n_queries, clusters, spread, seed):
    """Vectors and queries around the same unit-variance cluster centres."""
    rng = np.random.default_rng(seed)
    centres = rng.normal(size=(clusters, dim))
    return clustered(n, dim, centres, spread, rng), clustered(n_queries, dim, centres, spread, rng)


def normalised32(x):
    return (x / np.linalg.norm(x, axis=1, keepdims=True)).astype(np.float32)


# Builders: each returns the index and a function answering one query with ids.
def build_exact(x, ids, precision):
    index = core.ExactIndex(vector_precision=precision)
    index.add_many(ids, list(x.astype(np.float32 if precision == "float32" else np.float64)))
    return index


# The graph indexes all hold float32 vectors.
def build_tarnwick(x, ids, ef_search=EF_SEARCH):
    index = core.HnswIndex(m=M, ef_construction=EF_CONSTRUCTION, ef_search=ef_search, vector_precision="float32")
    index.add_many(ids, list(x.astype(np.float32)))
    return index


def build_hnswlib(x, ids):
    import hnswlib
    index = hnswlib.Index(space="cosine", dim=x.shape[1])
    index.init_index(max_elements=len(x), ef_construction=EF_CONSTRUCTION, M=M, random_seed=7)
    index.set_num_threads(1)
    index.add_items(x.astype(np.float32), np.arange(len(x)), num_threads=1)
    index.set_ef(EF_SEARCH)
    return index


def build_faiss(x, ids):
    import faiss
    faiss.omp_set_num_threads(1)
    index = faiss.IndexHNSWFlat(x.shape[1], M, faiss.METRIC_INNER_PRODUCT)
    index.hnsw.efConstruction = EF_CONSTRUCTION
    index.add(normalised32(x))
    index.hnsw.efSearch = EF_SEARCH
    return index


BUILDERS = {
    "exact-float32": lambda x, ids: build_exact(x, ids, "float32"),
    "exact-float64": lambda x, ids: build_exact(x, ids, "float64"),
    "tarnwick": build_tarnwick,
    "hnswlib": build_hnswlib,
    "faiss": build_faiss,
}


def status_kib(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1])
    raise KeyError(field)


def measure_memory(name, n, dim, clusters, spread, seed):
    """In a fresh process: resident and peak MiB that building the index adds."""
    x, _ = dataset(n, dim, 1, clusters, spread, seed)
    ids = [str(i) for i in range(n)]
    gc.collect()
    before = status_kib("VmRSS")
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")  # resets the peak resident size to the current one
    index = BUILDERS[name](x, ids)
    gc.collect()
    print((status_kib("VmRSS") - before) / 1024, (status_kib("VmHWM") - before) / 1024)
    del index


def memory_of(name, args_for_child):
    out = subprocess.run([sys.executable, __file__, "--measure", name, *args_for_child],
                         capture_output=True, text=True, check=True)
    resident, peak = map(float, out.stdout.split())
    return resident, peak


def timed(fn):
    start = time.perf_counter()
    result = fn()
    return result, time.perf_counter() - start


def numpy_top_k(normalised, q, k, threshold=0.0):
    scores = normalised @ (q / np.linalg.norm(q))
    top = np.argpartition(-scores, k)[:k]
    top = top[scores[top] >= threshold]
    return top[np.argsort(-scores[top], kind="stable")]


def interleaved(answers, queries, block=25):
    """Seconds each answer function takes over all queries, timed in alternating blocks so that
    every contender sees the same share of whatever else the machine is doing."""
    totals = [0.0] * len(answers)
    for start in range(0, len(queries), block):
        chunk = queries[start:start + block]
        for j, answer in enumerate(answers):
            began = time.perf_counter()
            for q in chunk:
                answer(q)
            totals[j] += time.perf_counter() - began
    return totals


def exact_ratios(x, ids, queries, child_args):
    """ExactIndex against NumPy brute force (normalised rows, one matrix-vector product, then a
    partial sort) at each precision."""
    ratios = []
    for precision, dtype in (("float32", np.float32), ("float64", np.float64)):
        index = BUILDERS["exact-" + precision](x, ids)
        normalised = (x / np.linalg.norm(x, axis=1, keepdims=True)).astype(dtype)
        qs = queries.astype(dtype)
        t_ours, t_numpy = interleaved([lambda q: index.query(q, K), lambda q: numpy_top_k(normalised, q, K)], qs)
        del index, normalised
        resident, peak = memory_of("exact-" + precision, child_args)
        print(f"ExactIndex {precision}: {t_ours / len(qs) * 1e3:.3f} ms/query, NumPy {t_numpy / len(qs) * 1e3:.3f} "
              f"ms/query; index {resident:.0f} MiB resident, {peak:.0f} MiB peak while built")
        ratios.append((f"ExactIndex {precision} query time / NumPy", t_ours / t_numpy,
                       "target <= 1.0" if precision == "float32" else ""))
    return ratios


def run_exact(n, dim, n_exact_queries, clusters, spread, seed):
    print(f"== {n} vectors x {dim} dimensions, {clusters} clusters of spread {spread}, {n_exact_queries} queries, "
          "one thread, exact indexes only ==")
    x, queries = dataset(n, dim, n_exact_queries, clusters, spread, seed)
    child_args = ["--n", str(n), "--dim", str(dim), "--clusters", str(clusters), "--spread", str(spread),
                  "--seed", str(seed)]
    return exact_ratios(x, [str(i) for i in range(n)], queries, child_args)


def recall(found, truth):
    hits = sum(len(set(f) & set(t)) for f, t in zip(found, truth))
    return hits / sum(len(t) for t in truth)


def recall_by_ef(name, index, x, ids, queries, truth, n_sweep=1000):
    """Recall@K at each ef_search of EF_SWEEP, over the first n_sweep queries."""
    queries, truth = queries[:n_sweep], truth[:n_sweep]
    out = []
    for ef in EF_SWEEP:
        if name == "tarnwick":
            # ef_search is fixed at creation: a new index, whose graph is the same.
            swept = build_tarnwick(x, ids, ef)
            found = [[i for i, _ in swept.query(q, K)] for q in queries]
            del swept
        elif name == "hnswlib":
            index.set_ef(max(ef, K))
            found = [[ids[j] for j in index.knn_query(q, k=K, num_threads=1)[0][0]] for q in queries]
        else:
            index.hnsw.efSearch = ef
            found = [[ids[j] for j in row if j >= 0] for row in index.search(normalised32(queries), K)[1]]
        out.append((ef, recall(found, truth)))
    return out


def run(n, dim, n_queries, n_exact_queries, clusters, spread, seed, only_ours):
    print(f"== {n} vectors x {dim} dimensions, {clusters} clusters of spread {spread}, {n_queries} queries, "
          "one thread ==")
    child_args = ["--n", str(n), "--dim", str(dim), "--clusters", str(clusters), "--spread", str(spread),
                  "--seed", str(seed)]
    x, queries = dataset(n, dim, n_queries, clusters, spread, seed)
    ids = [str(i) for i in range(n)]
    ratios = []

    ratios += exact_ratios(x, ids, queries[:n_exact_queries], child_args)

    truth_index = BUILDERS["exact-float64"](x, ids)
    truth = [[i for i, _ in truth_index.query(q, K)] for q in queries]
    del truth_index

    results = {}
    sweep = {}
    for name in ("tarnwick",) if only_ours else ("tarnwick", "hnswlib", "faiss"):
        try:
            index, build = timed(lambda: BUILDERS[name](x, ids))
        except ImportError:
            print(f"{name} is not installed: skipped")
            continue
        if name == "tarnwick":
            answer = lambda q: [i for i, _ in index.query(q, K)]  # noqa: E731
        elif name == "hnswlib":
            answer = lambda q: [ids[j] for j in index.knn_query(q, k=K, num_threads=1)[0][0]]  # noqa: E731
        else:
            qn = normalised32(queries)
            answer_rows = iter(qn)
            answer = lambda q: [ids[j] for j in index.search(next(answer_rows)[None, :], K)[1][0] if j >= 0]  # noqa
        found, t = timed(lambda: [answer(q) for q in queries])
        sweep[name] = recall_by_ef(name, index, x, ids, queries, truth)
        del index
        resident, peak = memory_of(name, child_args)
        results[name] = (build, len(queries) / t, recall(found, truth), resident)
        print(f"{name:>9}: build {build:.1f} s, {len(queries) / t:.0f} queries/s, recall@{K} "
              f"{results[name][2]:.4f}; index {resident:.0f} MiB resident ({resident * 2**20 / n:.0f} bytes "
              f"per vector), {peak:.0f} MiB peak while built")
    ours = results["tarnwick"]
    print(f"recall@{K} by ef_search (tarnwick rebuilt for each, same graph):")
    for name, by_ef in sweep.items():
        print(f"{name:>9}: " + ", ".join(f"ef {ef}: {r:.4f}" for ef, r in by_ef))
    for other, target_build, target_qps in (("hnswlib", "target <= 1.0", "target >= 1.0"), ("faiss", "", "")):
        if other not in results:
            continue
        theirs = results[other]
        ratios.append((f"HnswIndex build time / {other}", ours[0] / theirs[0], target_build))
        ratios.append((f"HnswIndex queries per second / {other}", ours[1] / theirs[1], target_qps))
        ratios.append((f"HnswIndex recall@{K} / {other}", ours[2] / theirs[2], ""))
        ratios.append((f"HnswIndex resident memory / {other}", ours[3] / max(theirs[3], 1e-9),
                       "target <= 1.1" if other == "hnswlib" else ""))
    return ratios


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--n", type=int, default=100_000)
    parser.add_argument("--dim", type=int, default=128)
    parser.add_argument("--queries", type=int, default=10_000)
    parser.add_argument("--exact-queries", type=int, default=1_000, help="queries timed on the exact indexes")
    parser.add_argument("--clusters", type=int, default=100)
    parser.add_argument("--spread", type=float, default=0.35, help="standard deviation around each centre")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--large", action="store_true", help="also run 1M x 96")
    parser.add_argument("--only-ours", action="store_true", help="skip hnswlib and FAISS")
    parser.add_argument("--exact-only", action="store_true", help="compare the exact indexes with NumPy, nothing else")
    parser.add_argument("--skip-384", action="store_true", help="skip the second run, 10k x 384")
    parser.add_argument("--measure", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.measure:
        measure_memory(args.measure, args.n, args.dim, args.clusters, args.spread, args.seed)
        return
    if args.exact_only:
        ratios = run_exact(args.n, args.dim, args.exact_queries, args.clusters, args.spread, args.seed)
    else:
        ratios = run(args.n, args.dim, args.queries, args.exact_queries, args.clusters, args.spread, args.seed,
                     args.only_ours)
        if not args.skip_384:
            ratios += [(f"[10k x 384] {name}", value, note)
                       for name, value, note in run(10_000, 384, args.queries, args.exact_queries, args.clusters,
                                                    args.spread, args.seed, args.only_ours)]
    if args.large:
        ratios += [(f"[1M x 96] {name}", value, note)
                   for name, value, note in run(1_000_000, 96, args.queries, max(args.exact_queries // 4, 1),
                                                args.clusters * 10, args.spread, args.seed, args.only_ours)]
    print("== ratios, ours / theirs ==")
    for name, value, note in ratios:
        print(f"{name}: {value:.3f}" + (f"  ({note})" if note else ""))


if __name__ == "__main__":
    main()
