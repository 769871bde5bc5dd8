"""The interpreter ends daemon threads that are inside a call of the module when it exits: the
process must exit cleanly, whatever the call was doing when its thread was ended."""

import concurrent.futures
import os
import subprocess
import sys

import pytest

# One child per run: a daemon thread per named call loops it while the main thread ends after
# `delay` seconds. What keeps the calls at risk is the trigger: something inside the call gives
# up the interpreter lock, and the finalizing interpreter ends a thread that asks for it back.
#   search  the index search itself runs without the lock
#   storage the storage object sleeps inside every storage call
#   gc      the collector, run by the call's own allocations, finds a cycle whose finalizer sleeps
#   numpy   the call is the first of the process to need NumPy, so it imports it
CHILD = """
import gc, sys, threading, time
sys.path.insert(0, sys.argv[4])
import tarnwick._core as core
from storage_doubles import MemoryStorage, edge, node

trigger, methods, delay = sys.argv[1], sys.argv[2].split(","), float(sys.argv[3])

class Slow(MemoryStorage):
    def _enter(self, op, path):
        time.sleep(0.001)
        return super()._enter(op, path)

store = core.NativeStore(Slow() if trigger == "storage" else MemoryStorage())
ids = [f"n{i}" for i in range(60)]
nodes = [node(i, data={"rank": n, "tags": ["a", "b"], "more": {"x": [n, 0.5]}}) for n, i in enumerate(ids)]
edges = [edge(f"e{n}", i, ids[n - 1], data={"w": n}) for n, i in enumerate(ids)]
store.apply(put_nodes=nodes, put_edges=edges, put_vectors=[{"id": i, "vector": [1.0, 2.0, 3.0]} for i in ids])
dimension, count = (64, 6000) if trigger == "search" else (3, 0 if trigger == "numpy" else 60)
indexes = {"ExactIndex": core.ExactIndex(), "HnswIndex": core.HnswIndex(ef_construction=16, m=4)}
if count:
    import numpy as np
    data = np.random.default_rng(1).standard_normal((count, dimension))
    for index in indexes.values():
        index.add_many([str(i) for i in range(count)], list(data))
probe = [0.5] * dimension
plan = {"nodeTypes": ["note"], "limit": 40}
serial = iter(range(10**9))

calls = {
    "apply": lambda: store.apply(put_nodes=[node(f"new{next(serial)}")]),
    "get_node": lambda: store.get_node("n1"),
    "query_nodes": lambda: store.query_nodes({"nodeTypes": ["note"]}),
    "all_node_ids": store.all_node_ids,
    "all_edges": store.all_edges,
    "all_vectors": store.all_vectors,
    "get_edges_by_sources": lambda: store.get_edges_by_sources(ids, None),
    "get_edges_by_targets": lambda: store.get_edges_by_targets(ids, "link"),
    "mutation_log": store.mutation_log,
    "mutation_log_page": lambda: store.mutation_log_page(0, 10),
    "verify": store.verify,
    "execute_query_plan": lambda: core.execute_query_plan(nodes, edges, plan),
    "aggregate_query_plan": lambda: core.aggregate_query_plan(nodes, edges, plan, "rank", "avg"),
    "ExactIndex.query": lambda: indexes["ExactIndex"].query(probe, 50),
    "ExactIndex.entries": indexes["ExactIndex"].entries,
    "HnswIndex.query": lambda: indexes["HnswIndex"].query(probe, 50),
    "HnswIndex.entries": indexes["HnswIndex"].entries,
}

class Litter:
    pending = 0
    def __init__(self):
        Litter.pending += 1
        self.cycle = self
    def __del__(self):
        time.sleep(0.001)
        Litter.pending -= 1

go = threading.Event()

def work(call):
    go.wait()
    while True:
        # A little litter at a time: finalizers that pile up faster than they run never let
        # whichever thread runs them go.
        if trigger == "gc" and Litter.pending < 8:
            Litter()
        call()

if trigger == "gc":
    gc.set_threshold(5)
# The threads start before any of them runs: a main thread waiting for the lock among many
# busy ones may wait long.
for method in methods:
    threading.Thread(target=work, args=(calls[method],), daemon=True).start()
go.set()
time.sleep(delay)
print("ending")
"""

RESULT_BUILDERS = ["get_node", "query_nodes", "all_node_ids", "all_edges", "all_vectors", "get_edges_by_sources",
                   "get_edges_by_targets", "mutation_log", "mutation_log_page", "verify", "execute_query_plan",
                   "aggregate_query_plan", "ExactIndex.query", "ExactIndex.entries", "HnswIndex.query",
                   "HnswIndex.entries"]

# (trigger, calls, runs, longest delay in seconds): the runs spread the end of the main thread
# evenly up to that delay; for NumPy it spans the import, which only calls that take or give a
# vector make.
CASES = [("search", ["ExactIndex.query", "HnswIndex.query"], 3, 0.05),
         ("storage", ["apply", "get_node"], 3, 0.05),
         ("gc", RESULT_BUILDERS, 70, 0.05),
         ("numpy", ["all_vectors", "ExactIndex.query", "HnswIndex.query"], 70, 0.3)]


def run_child(trigger, methods, delay):
    try:
        run = subprocess.run([sys.executable, "-c", CHILD, trigger, ",".join(methods), str(delay),
                              os.path.dirname(__file__)], capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        return "hung", "", ""
    return run.returncode, run.stdout, run.stderr[-2000:]


# AddressSanitizer learns of a C++ throw and clears the stack's poison before the unwind, but not
# of the interpreter's pthread_exit: the first cleanup on the way out then trips over the poison
# the skipped frames left and reports it as a stack overflow.
@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="AddressSanitizer cannot follow the interpreter's pthread_exit")
def test_exit_with_daemon_threads_inside_calls():
    jobs = [(trigger, methods, longest * (run + 1) / runs)
            for trigger, methods, runs, longest in CASES for run in range(runs)]
    with concurrent.futures.ThreadPoolExecutor(max_workers=os.cpu_count()) as pool:
        outcomes = list(pool.map(lambda job: run_child(*job), jobs))
    failures = [(job, outcome) for job, outcome in zip(jobs, outcomes) if outcome != (0, "ending\n", "")]
    assert failures == []
