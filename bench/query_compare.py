"""Times the query functions on synthetic node and edge lists against (a) the same plans written
in plain Python, (b) json.dumps of the same lists, the yardstick for converting them, and (c) the
read floor: the same call with a plan that selects nothing, which still checks every key and
value of every node and edge and builds the snapshot, but runs no stage. Every tarnwick time
includes reading the Python lists. The last lines are the ratios ours / theirs (below 1 means
tarnwick is faster).

    python3 bench/query_compare.py [--sizes 10000 100000] [--repeat 5] [--cpu-time]

On a shared machine --cpu-time measures the process's CPU time instead of wall time, which
waiting for a core does not inflate.
"""

import argparse
import gc
import json
import random
import time

import tarnwick._core as core

TYPES = ("doc", "note", "task")
GROUPS = 1000

# Filter, order, limit: documents scoring above 0.5, best first, the top 50.
TOP_DOCS = {
    "nodeTypes": ["doc"],
    "attributes": [{"operator": "range", "field": "score", "above": 0.5}],
    "order": {"field": "score", "direction": "desc"},
    "limit": 50,
}

# One hop: the nodes of one group and every node they link to.
ONE_HOP = {
    "attributes": [{"operator": "eq", "field": "group", "value": 7}],
    "traversal": [{"edgeType": "links", "direction": "out", "depth": 1}],
}

# Nothing matches, so the call is reading the lists and building the snapshot: the read floor.
CONVERT_ONLY = {"nodeTypes": []}


def synthetic(n, seed=7):
    rng = random.Random(seed)
    nodes = [{
        "id": f"node-{i}",
        "type": TYPES[i % len(TYPES)],
        "data": {"score": rng.random(), "group": rng.randrange(GROUPS), "title": f"memory number {i}",
                 "tags": ["alpha", "beta"] if i % 2 else ["gamma"]},
        "insertedAt": 1_700_000_000_000 + i,
        "updatedAt": 1_700_000_000_000 + i,
        "revision": 1,
    } for i in range(n)]
    edges = [{
        "id": f"edge-{i}-{k}",
        "source": f"node-{i}",
        "target": f"node-{rng.randrange(n)}",
        "type": "links" if k == 0 else "cites",
        "createdAt": 1_700_000_000_000 + i,
    } for i in range(n) for k in range(2)]
    return nodes, edges


def plain_top_docs(nodes, edges):
    def score(n):
        v = n["data"].get("score")
        return v if isinstance(v, (int, float)) and not isinstance(v, bool) else None

    kept = [n for n in nodes if n["type"] == "doc" and score(n) is not None and score(n) > 0.5]
    ranked = sorted(kept, key=lambda n: -score(n))
    return [n["id"] for n in ranked[:50]]


def plain_one_hop(nodes, edges):
    adjacency = {}
    for e in edges:
        if e["type"] == "links":
            adjacency.setdefault(e["source"], []).append(e["target"])
    start = [n["id"] for n in nodes if n["data"].get("group") == 7]
    seen = set(start)
    result = list(start)
    for node_id in start:
        for target in adjacency.get(node_id, ()):
            if target not in seen:
                seen.add(target)
                result.append(target)
    return result


def plain_avg_score(nodes, edges):
    values = [n["data"]["score"] for n in nodes if n["type"] == "doc" and n["data"]["score"] > 0.5]
    return (sum(values) / len(values), len(values))


clock = time.perf_counter


def best_time(fn, repeat):
    best = float("inf")
    result = None
    for _ in range(repeat):
        gc.collect()
        start = clock()
        result = fn()
        best = min(best, clock() - start)
    return best, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--sizes", type=int, nargs="+", default=[10_000, 100_000])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--cpu-time", action="store_true", help="time by CPU time, not wall time")
    args = parser.parse_args()
    global clock
    if args.cpu_time:
        clock = time.process_time

    ratios = []
    floor_ratios = []
    for n in args.sizes:
        nodes, edges = synthetic(n)
        avg_plan = {k: TOP_DOCS[k] for k in ("nodeTypes", "attributes")}
        cases = [
            ("filter+order+limit", lambda: core.execute_query_plan(nodes, edges, TOP_DOCS),
             "plain Python", lambda: plain_top_docs(nodes, edges)),
            ("one-hop traversal", lambda: core.execute_query_plan(nodes, edges, ONE_HOP),
             "plain Python", lambda: plain_one_hop(nodes, edges)),
            ("aggregate avg", lambda: core.aggregate_query_plan(nodes, edges, avg_plan, "score", "avg"),
             "plain Python", lambda: plain_avg_score(nodes, edges)),
            ("conversion", lambda: core.execute_query_plan(nodes, edges, CONVERT_ONLY),
             "json.dumps", lambda: (json.dumps(nodes), json.dumps(edges))),
        ]
        print(f"{n} nodes, {len(edges)} edges (best of {args.repeat})")
        floor_time, _ = best_time(cases[-1][1], args.repeat)
        for name, ours, theirs_name, theirs in cases:
            ours_time, ours_result = best_time(ours, args.repeat)
            theirs_time, theirs_result = best_time(theirs, args.repeat)
            if theirs_name == "plain Python" and ours_result != theirs_result:
                if not (name.startswith("aggregate") and ours_result[1] == theirs_result[1]
                        and abs(ours_result[0] - theirs_result[0]) <= 1e-9):
                    raise SystemExit(f"{name}: results differ")
            print(f"  {name:20s} tarnwick {ours_time * 1e3:9.2f} ms   {theirs_name} {theirs_time * 1e3:9.2f} ms")
            ratios.append((f"{name} / {theirs_name} @ {n}", ours_time / theirs_time))
            if theirs_name == "plain Python":
                floor_ratios.append((f"{name} / read floor @ {n}", ours_time / floor_time))
        print(f"  {'read floor':20s} tarnwick {floor_time * 1e3:9.2f} ms")
    print("ratios ours/theirs:")
    for label, ratio in ratios + floor_ratios:
        print(f"  {label:45s} {ratio:6.2f}")


if __name__ == "__main__":
    main()
