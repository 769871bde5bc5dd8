"""The fault sweep from Python: a short workload is run once per storage call it makes, with that
call raising; the store is then reopened over the files that survived. Every batch that `apply`
acknowledged must be there, and the batch whose call failed must be there whole or not at all."""

import pytest

import tarnwick._core as core
from storage_doubles import Fault, MemoryStorage, node


def batch(i):
    """Batch i puts two nodes and a vector and deletes one node of batch i - 2."""
    return {
        "put_nodes": [node(f"b{i}-0", data={"i": i}), node(f"b{i}-1", vector=[float(i), 1.0])],
        "put_vectors": [(f"v{i}", [float(i)])],
        "delete_node_ids": [f"b{i - 2}-0"] if i >= 2 else [],
    }


def effect(state, i):
    nodes, vectors = state
    b = batch(i)
    nodes = (nodes | {n["id"] for n in b["put_nodes"]}) - set(b["delete_node_ids"])
    vectors = (vectors | {f"v{i}", f"b{i}-1"}) - set(b["delete_node_ids"])
    return nodes, vectors


WORKLOAD = 6


AFTER = 99  # the batch applied on the same store after the failure, through its repair


def run(storage):
    """Runs the workload until a call fails, then one more batch and close on the same store;
    returns the acknowledged batches and the failed one."""
    store = core.NativeStore(storage, compact_threshold=4)
    acknowledged = []
    failed = None
    try:
        for i in range(WORKLOAD):
            failed = i
            store.apply(**batch(i), operation_id=f"op-{i}")
            acknowledged.append(i)
            failed = None
            if i == 3:
                store.compact()
        store.close()
        return acknowledged, None
    except core.TarnwickStorageError as error:
        assert str(error) == "Fault: injected"
    store.apply(**batch(AFTER), operation_id=f"op-{AFTER}")
    acknowledged.append(AFTER)
    store.close()
    return acknowledged, failed


def seen(storage):
    store = core.NativeStore(MemoryStorage(storage.snapshot()))
    return set(store.all_node_ids()), {id for id, _ in store.all_vectors()}, store.mutation_log()


def clean_call_count():
    storage = MemoryStorage()
    assert run(storage) == (list(range(WORKLOAD)), None)
    return len(storage.calls)


@pytest.mark.parametrize("torn_prefix", [0, 3])
def test_every_storage_call_failing_in_turn(torn_prefix):
    for k in range(clean_call_count()):
        storage = MemoryStorage()
        storage.fail_call = k
        storage.torn_prefix = torn_prefix
        acknowledged, failed = run(storage)
        nodes, vectors, log = seen(storage)
        without = with_failed = (set(), set())
        for i in acknowledged:
            if i == AFTER and failed is not None:
                with_failed = effect(without, failed)
                with_failed = effect(with_failed, i)
            without = effect(without, i)
        if failed is None:
            with_failed = without
        where = (k, storage.calls[k])
        assert (nodes, vectors) in (without, with_failed), where
        # A failed batch may take effect without its record (its record append failed), never
        # the other way round.
        ids = [r["operationId"] for r in log]
        recorded = [f"op-{i}" for i in acknowledged]
        if failed is not None and f"op-{failed}" in ids:
            assert (nodes, vectors) == with_failed, where
            recorded.insert(len(recorded) - 1, f"op-{failed}")
        assert ids == recorded, where
        assert [r["sequence"] for r in log] == list(range(1, len(log) + 1)), where
