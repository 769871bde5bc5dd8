"""The mutation log's readers of this build against another build of the module, on the same files.

Reopen (open + node_count) of stores of one-node batches, one log line per node, each node with
about 200 bytes of data and no vector, a float32 or a float64 vector (384 dimensions); then
latest_mutation_sequence and mutation_log_page(0, 10) on a log of 1M one-node batches without
vectors. Every figure is the best of --repeat runs, each in a fresh process per module; each line
prints both and their ratio (this / other; below 1.0 means this build is faster).

    python3 bench/mutation_log_compare.py --this build/py/python --other /work/ref/.venv/lib/python3.11/site-packages
"""

import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

DIMENSIONS = 384
EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples")


def node(i, rng, precision):
    n = {"id": f"node-{i}", "type": "memory", "insertedAt": 1_700_000_000_000 + i, "updatedAt": 1_700_000_000_000 + i,
         "revision": 1, "data": {"title": f"memory number {i} about the weather in the hills",
                                 "text": "a note of some length, as an agent writes down what it saw and meant",
                                 "weight": rng.random(), "tags": ["alpha", "beta", "gamma"]}}
    if precision:
        n["vector"] = [rng.uniform(-1, 1) for _ in range(DIMENSIONS)]
    return n


def build_store(root, nodes, precision):
    import tarnwick._core as core
    from directory_storage import DirectoryStorage
    rng = random.Random(7)
    store = core.NativeStore(DirectoryStorage(root), vector_precision=precision)
    for i in range(nodes):
        store.apply(put_nodes=[node(i, rng, precision)])
    store.close()


def write_history(root, lines):
    with open(os.path.join(root, "mutations.jsonl"), "w") as f:
        rng = random.Random(7)
        for i in range(1, lines + 1):
            record = {"operationId": f"mutation-{i}", "sequence": i, "transactionId": f"mutation-{i}",
                      "timestamp": 1_700_000_000_000 + i,
                      "operations": [{"operationType": "putNode", "payload": node(i, rng, None)}]}
            f.write(json.dumps(record, separators=(",", ":")) + "\n")


def measure(root, what):
    """Runs inside the measuring process: the seconds of one `what` on the store at `root`."""
    import tarnwick._core as core
    from directory_storage import DirectoryStorage
    store = core.NativeStore(DirectoryStorage(root))
    start = time.perf_counter()
    if what == "reopen":
        store.node_count()
    elif what == "latest":
        store.latest_mutation_sequence()
    else:
        store.mutation_log_page(0, 10)
    return time.perf_counter() - start


def best(module_path, root, what, repeat):
    code = (f"import sys; sys.path[:0] = [{module_path!r}, {EXAMPLES!r}, {os.path.dirname(__file__)!r}];"
            f"import mutation_log_compare as m; print(m.measure({root!r}, {what!r}))")
    return min(float(subprocess.check_output([sys.executable, "-c", code])) for _ in range(repeat))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--this", required=True, help="directory holding this build's tarnwick package")
    parser.add_argument("--other", required=True, help="directory holding the other build's tarnwick package")
    parser.add_argument("--nodes", type=int, default=100_000)
    parser.add_argument("--history", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    sys.path[:0] = [args.other, EXAMPLES]
    work = tempfile.mkdtemp(prefix="tarnwick-log-bench-")
    cases = [(f"reopen, {args.nodes} nodes, {p or 'no vectors'}", p, "reopen") for p in (None, "float32", "float64")]
    print(f"{'operation':44} {'this':>10} {'other':>10}")
    for label, precision, what in cases:
        root = os.path.join(work, precision or "plain")
        os.makedirs(root)
        build_store(root, args.nodes, precision)
        report(label, [best(m, root, what, args.repeat) for m in (args.this, args.other)])
        shutil.rmtree(root)
    root = os.path.join(work, "history")
    os.makedirs(root)
    write_history(root, args.history)
    for what, label in (("latest", "latest_mutation_sequence"), ("page", "mutation_log_page(0, 10)")):
        report(f"{label}, {args.history} lines", [best(m, root, what, args.repeat) for m in (args.this, args.other)])
    shutil.rmtree(work)


def report(label, seconds):
    ours, theirs = seconds
    print(f"{label:44} {ours:9.3f}s {theirs:9.3f}s   ratio {ours / theirs:5.2f}", flush=True)


if __name__ == "__main__":
    main()
