"""One store shared by threads, and a store reopened in another process."""

import json
import os
import subprocess
import sys
import threading
import time

import tarnwick._core as core
from directory_storage import DirectoryStorage
from storage_doubles import MemoryStorage, node


class Overlapping(MemoryStorage):
    """Yields to other threads inside every call and notes whether two calls ever overlapped."""

    def __init__(self):
        super().__init__()
        self.inside = 0
        self.overlapped = False

    def _enter(self, op, path):
        self.inside += 1
        self.overlapped |= self.inside > 1
        time.sleep(0.0005)
        self.inside -= 1
        return super()._enter(op, path)


def test_two_threads_share_one_store():
    storage = Overlapping()
    store = core.NativeStore(storage, compact_threshold=7)
    errors = []

    def writer(prefix):
        try:
            for i in range(25):
                store.apply(put_nodes=[node(f"{prefix}{i}", data={"i": i})], actor=prefix)
                assert store.get_node(f"{prefix}{i}")["data"] == {"i": i}
                store.mutation_log_page(0, 3)
        except BaseException as error:  # noqa: B902 - reported below
            errors.append(error)

    threads = [threading.Thread(target=writer, args=(p,)) for p in "ab"]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert not storage.overlapped
    assert store.node_count() == 50
    log = store.mutation_log()
    assert [r["sequence"] for r in log] == list(range(1, 51))
    assert sorted(r["actor"] for r in log) == ["a"] * 25 + ["b"] * 25
    store.close()
    assert sorted(core.NativeStore(storage).all_node_ids()) == sorted(f"{p}{i}" for p in "ab" for i in range(25))


CHILD = """
import json, sys
sys.path.insert(0, sys.argv[2])
import tarnwick._core as core
from directory_storage import DirectoryStorage
store = core.NativeStore(DirectoryStorage(sys.argv[1]))
print(json.dumps({"nodes": sorted(store.all_node_ids()), "a": store.get_node("a"),
                  "edges": store.get_edges_by_sources(["a"], None), "log": store.mutation_log(),
                  "vectors": {k: v.tolist() for k, v in store.all_vectors()}}))
store.apply(put_nodes=[{"id": "child", "type": "t", "insertedAt": 5, "updatedAt": 5}])
"""


def test_reopen_in_a_child_process(tmp_path):
    root = tmp_path / "store"
    store = core.NativeStore(DirectoryStorage(root))
    store.apply(put_nodes=[node("a", data={"x": [1, 2]}, vector=[0.5, 0.25]), node("b")],
                put_edges=[{"id": "e", "source": "a", "target": "b", "type": "t", "createdAt": 3}],
                metadata={"why": "test"})
    expected = {"nodes": ["a", "b"], "a": store.get_node("a"), "edges": store.get_edges_by_sources(["a"], None),
                "log": store.mutation_log(), "vectors": {"a": [0.5, 0.25]}}
    del store  # not closed: the child replays the write-ahead log
    examples = os.path.join(os.path.dirname(__file__), "..", "..", "examples")
    out = subprocess.run([sys.executable, "-c", CHILD, str(root), examples], check=True, capture_output=True,
                         text=True).stdout
    assert json.loads(out) == expected
    again = core.NativeStore(DirectoryStorage(root))
    assert sorted(again.all_node_ids()) == ["a", "b", "child"]
    assert [r["sequence"] for r in again.mutation_log()] == [1, 2]
