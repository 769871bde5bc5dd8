"""NativeStore over a Python storage object, end to end: put, read, query, reopen, compact,
the mutation log and verification, over the recording in-memory storage and the directory
storage of the examples."""

import json
import os

import numpy as np
import pytest

import tarnwick._core as core
from directory_storage import DirectoryStorage
from storage_doubles import MemoryStorage, edge, node


@pytest.fixture(params=["memory", "directory"])
def make_storage(request, tmp_path):
    if request.param == "memory":
        shared = MemoryStorage()
        return lambda: shared
    return lambda: DirectoryStorage(tmp_path / "store")


def full_node():
    return node("n1", "person", {"name": "Ada", "address": {"city": "Paris"}, "age": 36}, vector=[0.5, 1.0],
                at=10, revision=3, memoryClass="semantic", confidence=0.75, source="chat", observedAt=9,
                derivedFrom=["n0"], supersedes="n0", contradicts=["n9"],
                activation={"score": 0.5, "importance": 1.0, "reinforcementCount": 2,
                            "lastMeaningfulActivation": 8})


def test_a_graph_survives_close_and_reopen(make_storage):
    store = core.NativeStore(make_storage())
    store.apply(put_nodes=[full_node(), node("n2", "person", {"name": "Bob"})],
                put_edges=[edge("e1", "n1", "n2", "knows", {"since": 2020}), edge("e2", "n2", "n1", "knows")],
                put_vectors=[("loose", [1.0, 2.0, 3.0])], actor="tests", metadata={"k": [1, 2.5, "x", None]})
    first = store.get_node("n1")
    assert list(first) == ["id", "type", "data", "vector", "insertedAt", "updatedAt", "revision", "activation",
                           "memoryClass", "confidence", "source", "observedAt", "derivedFrom", "supersedes",
                           "contradicts"]
    assert first["vector"] == [0.5, 1.0]
    assert first["data"] == {"name": "Ada", "address": {"city": "Paris"}, "age": 36}
    bob = store.get_node("n2")
    assert bob["vector"] is None and bob["revision"] == 0 and "activation" not in bob
    store.close()

    again = core.NativeStore(make_storage())
    assert again.get_node("n1") == first
    assert sorted(again.all_node_ids()) == ["n1", "n2"]
    assert again.node_count() == 2
    edges = sorted(again.all_edges(), key=lambda e: e["id"])
    assert edges == [
        {"id": "e1", "source": "n1", "target": "n2", "type": "knows", "data": {"since": 2020}, "createdAt": 1,
         "revision": 0},
        {"id": "e2", "source": "n2", "target": "n1", "type": "knows", "data": None, "createdAt": 1, "revision": 0},
    ]
    vectors = dict(again.all_vectors())
    assert sorted(vectors) == ["loose", "n1"]
    assert vectors["loose"].dtype == np.float64 and vectors["loose"].tolist() == [1.0, 2.0, 3.0]
    vectors["loose"][0] = 99.0
    assert dict(again.all_vectors())["loose"][0] == 1.0
    [record] = again.mutation_log()
    assert record["sequence"] == 1 and record["actor"] == "tests"
    assert record["metadata"] == {"k": [1, 2.5, "x", None]}
    assert record["operationId"] == record["transactionId"] == "mutation-1"


def test_a_batch_is_kept_without_close_and_replayed_by_a_new_store():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    store.apply(put_nodes=[node("a")])
    calls = len(storage.calls)
    del store
    assert len(storage.calls) == calls
    assert "snapshot.msgpack" not in storage.files
    assert core.NativeStore(storage).get_node("a")["id"] == "a"


def test_vectors_deletes_and_precision():
    store = core.NativeStore(MemoryStorage())
    store.apply(put_nodes=[node("a"), node("b")], put_vectors=[{"id": "vec-a", "vector": [0.5, 1]}])
    assert store.get_node("a")["vector"] is None
    store.apply(put_vectors=[("a", [0.25, 2])])
    assert store.get_node("a")["vector"] == [0.25, 2.0]
    assert dict(store.all_vectors())["vec-a"].tolist() == [0.5, 1.0]
    store.apply(delete_node_ids=("b",), delete_vector_ids=["vec-a"])
    assert store.get_node("b") is None
    assert sorted(id for id, _ in store.all_vectors()) == ["a"]
    assert store.get_node("") is None
    assert store.vector_precision() == "float64"
    rounding = core.NativeStore(MemoryStorage(), vector_precision="float32")
    assert rounding.vector_precision() == "float32"
    rounding.apply(put_nodes=[node("a", vector=[0.1])])
    assert rounding.get_node("a")["vector"] == [0.10000000149011612]


def test_edges_by_sources_and_targets():
    store = core.NativeStore(MemoryStorage())
    store.apply(put_nodes=[node(i) for i in "abc"],
                put_edges=[edge("ab", "a", "b", "x"), edge("ac", "a", "c", "y"), edge("bc", "b", "c", "x")])
    ids = lambda edges: [e["id"] for e in edges]
    assert sorted(ids(store.get_edges_by_sources(["a", "a"], None))) == ["ab", "ac"]
    assert ids(store.get_edges_by_sources(["b", "a"], "x")) == ["bc", "ab"]
    assert sorted(ids(store.get_edges_by_targets(("c",), None))) == ["ac", "bc"]
    assert store.get_edges_by_targets(["c"], "") == []
    assert store.get_edges_by_sources([], None) == []


def test_queries_and_counts():
    store = core.NativeStore(MemoryStorage())
    store.apply(put_nodes=[node(f"n{i}", "even" if i % 2 == 0 else "odd", {"rank": i, "tag": {"k": i % 3}})
                           for i in range(10)])
    ids = lambda nodes: [n["id"] for n in nodes]
    assert len(store.query_nodes({})) == store.count_nodes({}) == store.node_count() == 10
    assert ids(store.query_nodes({"nodeTypes": ["even"], "orderBy": {"field": "rank", "direction": "desc"}})) == [
        "n8", "n6", "n4", "n2", "n0"]
    assert ids(store.query_nodes({"attributes": {"tag.k": 0}, "orderBy": {"field": "rank", "direction": "asc"},
                                  "offset": 1, "limit": 2})) == ["n3", "n6"]
    assert store.count_nodes({"attributeRanges": {"rank": {"above": 2, "below": 6}}}) == 3
    assert store.query_nodes({"limit": 0}) == [] and store.count_nodes({"limit": 0}) == 0
    assert store.count_nodes({"offset": 50}) == 0
    assert ids(store.query_nodes([["n3", "n1"], None, None, None, None, None, None, None, None])) == ["n3", "n1"]
    with pytest.raises(core.ResourceLimitError) as raised:
        store.query_nodes({"maxNodesVisited": 3})
    assert str(raised.value) == "resource_limit: maxNodesVisited exceeded limit 3"
    with pytest.raises(core.ResourceLimitError, match="maxResultSize exceeded limit 4"):
        store.count_nodes({"maxResultSize": 4})


def test_schemas_and_unique_indexes_refuse_a_batch_whole():
    storage = MemoryStorage({
        "schemas.json": json.dumps({"nodeTypes": [{"nodeType": "person", "requiredFields": ["name"],
                                                   "dataTypes": {"name": "string"}}],
                                    "edgeTypes": []}).encode(),
        "indexes.json": json.dumps([{"name": "by_email", "fields": ["email"], "unique": True}]).encode(),
    })
    store = core.NativeStore(storage)
    store.apply(put_nodes=[node("a", "person", {"name": "A", "email": "a@x"})])
    with pytest.raises(core.TarnwickValueError):
        store.apply(put_nodes=[node("b", "person", {"name": "B", "email": "a@x"})])
    with pytest.raises(core.TarnwickValueError):
        store.apply(put_nodes=[node("c", "note"), node("d", "person", {"email": "d@x"})])
    assert sorted(store.all_node_ids()) == ["a"]
    assert store.query_nodes({"attributes": {"email": "a@x"}})[0]["id"] == "a"
    assert len(store.mutation_log()) == 1


def test_operation_and_transaction_ids_make_repeats_no_ops():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    store.apply(put_nodes=[node("a")], operation_id="op-1", transaction_id="tx-1", base_revision=2**64 - 1)
    store.apply(put_nodes=[node("b")], operation_id="op-1")
    store.apply(put_nodes=[node("c")], transaction_id="tx-1")
    store.apply(put_nodes=[node("d")], operation_id="mutation-2")
    store.apply(put_nodes=[node("e")], operation_id="mutation-2")
    assert sorted(store.all_node_ids()) == ["a", "d"]
    log = store.mutation_log()
    assert [(r["operationId"], r["transactionId"]) for r in log] == [("op-1", "tx-1"), ("mutation-2", "mutation-2")]
    assert log[0]["baseRevision"] == 2**64 - 1 and "actor" not in log[0] and "metadata" not in log[0]


def test_empty_apply_on_a_fresh_store_records_the_precision_once():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    assert store.apply() is None
    assert [r["operations"] for r in store.mutation_log()] == [[]]
    store.apply()
    assert len(store.mutation_log()) == 1


def test_close_that_fails_to_compact_leaves_the_store_open():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    store.apply(put_nodes=[node("a")])
    storage.fail_call = len(storage.calls)
    storage.raise_with = OSError(28, "No space left on device")
    with pytest.raises(core.TarnwickStorageError) as raised:
        store.close()
    assert str(raised.value) == "OSError: [Errno 28] No space left on device"
    assert store.get_node("a")["id"] == "a"
    store.close()
    with pytest.raises(core.TarnwickClosedError):
        store.get_node("a")


def test_compaction_writes_a_snapshot_and_empties_the_wal_at_the_threshold_and_on_close():
    storage = MemoryStorage()
    store = core.NativeStore(storage, compact_threshold=4)
    store.compact()
    assert "snapshot.msgpack" not in storage.files
    store.apply(put_nodes=[node("a")])  # two log entries: the precision, then the node
    store.apply(put_nodes=[node("b")])
    assert "snapshot.msgpack" not in storage.files and storage.files["wal.msgpack"]
    store.apply(put_nodes=[node("c")])
    assert "snapshot.msgpack" in storage.files and not storage.files["wal.msgpack"]
    assert core.NativeStore(storage).node_count() == 3
    store.apply(put_nodes=[node("d")])
    del storage.files["snapshot.msgpack"]
    store.close()
    assert storage.files["snapshot.msgpack"] and not storage.files["wal.msgpack"]


def seeded_log(store, sequences):
    store.replace_mutation_log([
        {"operationId": f"op-{s}", "sequence": s, "transactionId": f"tx-{s}", "timestamp": 1000 + s,
         "operations": [{"operationType": "putNode", "payload": {"id": f"n{s}"}}]} for s in sequences])


def test_mutation_log_readers():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    assert store.mutation_log() == [] and store.mutation_log_since() == []
    assert store.mutation_log_page(0, 10) == [] and store.latest_mutation_sequence() == 0
    seeded_log(store, [3, 5, 6, 9])
    seq = lambda records: [r["sequence"] for r in records]
    assert seq(store.mutation_log_since(5)) == [6, 9]
    assert seq(store.mutation_log_since()) == [3, 5, 6, 9]
    assert seq(store.mutation_log_page(5, 1)) == [6]
    assert store.mutation_log_page(9, 5) == []
    assert store.latest_mutation_sequence() == 9
    calls = len(storage.calls)
    assert store.mutation_log_page(0, 0) == []
    assert len(storage.calls) == calls
    store.apply(put_nodes=[node("a")])
    assert store.latest_mutation_sequence() == 10
    store.apply(put_nodes=[node("b")], operation_id="op-5")
    assert store.get_node("b") is None


def test_replace_mutation_log_rules():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    with pytest.raises(core.TarnwickValueError, match="^mutation history sequences must be strictly increasing$"):
        seeded_log(store, [1, 1])
    assert "mutations.jsonl" not in storage.files
    store.replace_mutation_log([])
    assert storage.files["mutations.jsonl"] == b"" and store.latest_mutation_sequence() == 0
    store.apply(put_nodes=[node("a")])
    store.apply(put_nodes=[node("b")])
    before = bytes(storage.files["mutations.jsonl"])
    with pytest.raises(core.TarnwickValueError) as raised:
        seeded_log(store, [7])
    assert str(raised.value) == "mutation history replacement is only allowed on a fresh migration destination"
    assert bytes(storage.files["mutations.jsonl"]) == before


def test_mutation_log_round_trips_into_a_fresh_store():
    source = core.NativeStore(MemoryStorage())
    source.apply(put_nodes=[node("a", vector=[0.5])], actor="x", metadata={"m": 1})
    source.apply(delete_node_ids=["a"], base_revision=4)
    records = source.mutation_log()
    target = core.NativeStore(MemoryStorage())
    target.replace_mutation_log(records)
    assert target.mutation_log() == records


def test_damaged_mutation_log_lines():
    good = json.dumps({"operationId": "a", "sequence": 1, "transactionId": "a", "timestamp": 1, "operations": []})
    store = core.NativeStore(MemoryStorage({"mutations.jsonl": (good + "\n" + good[:10]).encode()}))
    assert [r["sequence"] for r in store.mutation_log()] == [1]
    store = core.NativeStore(MemoryStorage({"mutations.jsonl": (good[:10] + "\n" + good + "\n").encode()}))
    with pytest.raises(core.TarnwickCorruptDataError, match="^mutation log: "):
        store.mutation_log()


def test_verify_reports_counts_and_issues():
    storage = MemoryStorage()
    store = core.NativeStore(storage)
    assert store.verify() == {"ok": True, "errors": [], "nodeCount": 0, "edgeCount": 0, "vectorCount": 0,
                              "mutationCount": 0}
    store.apply(put_nodes=[node("a", vector=[1.0])], put_edges=[edge("e", "a", "a")])
    store.compact()
    report = core.NativeStore(storage).verify()
    assert list(report) == ["ok", "errors", "nodeCount", "edgeCount", "vectorCount", "mutationCount"]
    assert report == {"ok": True, "errors": [], "nodeCount": 1, "edgeCount": 1, "vectorCount": 1,
                      "mutationCount": 1}
    storage.files["indexes.json"] = b'[{"fields": ["x"]}]'
    report = store.verify()
    assert report["ok"] is False and report["errors"] == ["index metadata: index 0: missing name"]


def test_unloaded_store_stays_unloaded_for_log_reads_and_verify():
    storage = MemoryStorage()
    core.NativeStore(storage).apply(put_nodes=[node("a")])
    storage.calls.clear()
    store = core.NativeStore(storage)
    store.mutation_log()
    store.latest_mutation_sequence()
    store.verify()
    store.capabilities()
    assert {path for _, path in storage.calls} <= {"mutations.jsonl", "snapshot.msgpack", "indexes.json"}
    assert ("read", "wal.msgpack") not in storage.calls


def test_trim_mutation_log_keeps_the_newest_records():
    storage = MemoryStorage()
    store = core.NativeStore(storage, mutation_log_max_entries=2)
    for name in "abcd":
        store.apply(put_nodes=[node(name)])
    store.trim_mutation_log()
    assert [r["sequence"] for r in store.mutation_log()] == [3, 4]
    unlimited = MemoryStorage()
    core.NativeStore(unlimited).trim_mutation_log()
    assert unlimited.calls == []


@pytest.mark.parametrize("durable, synced", [
    # each append, then the directory once the append created the file; each write before its
    # rename, then the directory (the close: a snapshot, then the emptied log)
    (True, ["wal.msgpack", "store", "mutations.jsonl", "store", "wal.msgpack", "mutations.jsonl",
            "snapshot.msgpack.tmp", "store", "wal.msgpack.tmp", "store"]),
    (False, []),
])
def test_directory_storage_syncs_what_it_changes_when_durable(tmp_path, monkeypatch, durable, synced):
    seen = []
    real_fsync = os.fsync

    def fsync(fd):
        seen.append(os.path.basename(os.readlink(f"/proc/self/fd/{fd}")))
        real_fsync(fd)

    monkeypatch.setattr(os, "fsync", fsync)
    store = core.NativeStore(DirectoryStorage(tmp_path / "store", durable=durable))
    store.apply(put_nodes=[node("a", "note")])
    store.apply(put_nodes=[node("b", "note")])
    store.close()
    assert seen == synced
    assert store.capabilities()["fsync"] is durable
