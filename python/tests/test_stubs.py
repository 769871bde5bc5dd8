"""The type stubs describe what the module really has: mypy's stubtest finds no difference
between them and the module, and a program calling every signature as the module takes it
type-checks against them."""

import ast
import os
import runpy
import subprocess
import sys

import tarnwick
import tarnwick._core as core

STUB = os.path.join(os.path.dirname(tarnwick.__file__), "_core.pyi")


def stub_tree():
    with open(STUB) as f:
        return ast.parse(f.read())


def test_stub_lists_every_public_name_and_ships_marked_as_typed():
    tree = stub_tree()
    declared = {node.name for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    assert set(core.__all__) <= declared
    [all_list] = [n.value for n in tree.body if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"]
    assert [e.value for e in all_list.elts] == core.__all__
    assert os.path.exists(os.path.join(os.path.dirname(STUB), "py.typed"))


def test_stubtest_finds_no_mismatch():
    result = subprocess.run([sys.executable, "-m", "mypy.stubtest", "tarnwick._core"], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr


# Every constructor, method and function, each parameter given at least once by keyword.
PROGRAM = """
import numpy as np

from tarnwick._core import ExactIndex, HnswIndex, NativeStore, aggregate_query_plan, engine_info, execute_query_plan


class Storage:
    def __init__(self) -> None:
        self.files: dict[str, bytes] = {}

    def read(self, path: str) -> bytes | None:
        return self.files.get(path)

    def write(self, path: str, data: bytes) -> None:
        self.files[path] = data

    def append(self, path: str, data: bytes) -> None:
        self.files[path] = self.files.get(path, b"") + data

    def delete(self, path: str) -> None:
        self.files.pop(path, None)


rows = np.array([[1.0, 0.0], [0.0, 1.0]])
indexes: list[ExactIndex | HnswIndex] = [
    ExactIndex(),
    ExactIndex(distance="euclidean", vector_precision="float32"),
    HnswIndex(),
    HnswIndex(m=8, mmax0=16, ef_construction=40, ef_search=40, level_seed=1, distance="cosine",
              vector_precision="float64"),
]
for index in indexes:
    index.add(id="a", vector=[1.0, 0.0])
    index.add_many(ids=["b", "c"], vectors=rows)
    index.add_many(["d", "e"], [np.array([0.5, 0.5], dtype=np.float32), [0.0, 2.0]])
    hits: list[tuple[str, float]] = index.query(vector=np.array([1.0, 0.0]), top_k=2, threshold=0.0)
    found: bool = index.has(id="a")
    stored = index.get(id="a")
    assert stored is not None and stored.dtype == np.float64
    every = index.entries()
    index.remove(id="a")
    index.remove_many(ids=["b"])
    index.set_precision(vector_precision="float32")
    size: int = len(index)
    index.clear()
HnswIndex().update(id="a", vector=[1.0])

node = {"id": "n", "type": "note", "insertedAt": 1, "updatedAt": 1}
store = NativeStore(storage=Storage(), compact_threshold=100, mutation_log_max_entries=None,
                    mutation_log_max_age_ms=None, vector_precision="float64")
store.apply(put_nodes=[node], delete_node_ids=[], put_edges=[], delete_edge_ids=[], put_vectors=[("v", [1.0])],
            delete_vector_ids=[], operation_id="op", transaction_id="tx", actor="me", base_revision=1,
            metadata={"why": [1, 2.5, None]})
store.apply()
ids: list[str] = store.all_node_ids()
count: int = store.node_count()
got = store.get_node(id="n")
nodes = store.query_nodes(query={"nodeTypes": ["note"]})
matching: int = store.count_nodes(query={})
out = store.get_edges_by_sources(sources=["n"], edge_type=None)
into = store.get_edges_by_targets(targets=["n"], edge_type="link")
edges = store.all_edges()
vectors = store.all_vectors()
precision: str = store.vector_precision()
log = store.mutation_log()
since = store.mutation_log_since(sequence=0)
page = store.mutation_log_page(sequence=0, limit=10)
latest: int = store.latest_mutation_sequence()
report = store.verify()
ok: bool = report["ok"]
capabilities = store.capabilities()
store.trim_mutation_log()
store.compact()
store.close()
NativeStore(Storage()).replace_mutation_log(records=log)

version: tuple[str, str, str] = engine_info()
selected: list[str] = execute_query_plan(nodes=nodes, edges=edges, plan={"nodeTypes": ["note"]})
value, matched = aggregate_query_plan(nodes=nodes, edges=edges, plan={}, field="x", op="count")
"""


def test_a_program_calling_every_signature_type_checks_and_runs(tmp_path):
    program = tmp_path / "calls.py"
    program.write_text(PROGRAM)
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--cache-dir", str(tmp_path / "cache"),
                             str(program)], capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    runpy.run_path(str(program))
