"""NativeStore as a class: its signatures, its constructor, and the arguments it refuses before
any storage call, on an open, a closed and an unusable store alike."""

import pytest

import tarnwick._core as core
from storage_doubles import MemoryStorage, edge, node

METHODS = [
    ("trim_mutation_log", "($self)",
     "Trim `mutations.jsonl` per the configured retention policy right now,\n"
     "independent of WAL-driven compaction. A no-op when no retention\n"
     "policy was configured at construction."),
    ("vector_precision", "($self)", None), ("capabilities", "($self)", None), ("verify", "($self)", None),
    ("mutation_log", "($self)", None),
    ("replace_mutation_log", "($self, records)",
     "Install source mutation history into a fresh migration destination."),
    ("mutation_log_since", "($self, sequence=0)", None), ("mutation_log_page", "($self, sequence, limit)", None),
    ("latest_mutation_sequence", "($self)", None),
    ("apply", "($self, put_nodes=..., delete_node_ids=..., put_edges=..., delete_edge_ids=..., "
              "put_vectors=..., delete_vector_ids=..., operation_id=None, transaction_id=None, actor=None, "
              "base_revision=None, metadata=None)", None),
    ("all_node_ids", "($self)", None),
    ("node_count", "($self)", "Total persisted node count, without materialising ids."),
    ("query_nodes", "($self, query)",
     'Query nodes with a storage-level query dict:\n'
     '`{"nodeTypes": [...], "attributes": {...}, "attributeRanges": {...},\n'
     '"orderBy": {"field", "direction"}, "offset", "limit"}`.'),
    ("count_nodes", "($self, query)",
     "Count nodes matching a storage-level query dict (same shape as\n`query_nodes`)."),
    ("get_edges_by_sources", "($self, sources, edge_type)",
     "Edges from the given sources, optionally filtered by edge type."),
    ("get_edges_by_targets", "($self, targets, edge_type)",
     "Edges targeting the given nodes, optionally filtered by edge type."),
    ("get_node", "($self, id)", None), ("all_edges", "($self)", None), ("all_vectors", "($self)", None),
    ("compact", "($self)", None), ("close", "($self)", None),
]


def test_class_is_a_sealed_heap_type_with_its_signature():
    cls = core.NativeStore
    assert cls.__module__ == "tarnwick"
    assert cls.__text_signature__ == (
        "(storage, compact_threshold=10000, mutation_log_max_entries=None, "
        "mutation_log_max_age_ms=None, vector_precision=None)")
    assert not cls.__doc__
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    store = cls(MemoryStorage())
    with pytest.raises(TypeError):
        len(store)
    with pytest.raises(AttributeError):
        store.extra = 1


def test_methods_in_declaration_order_with_signatures_and_docstrings():
    declared = [name for name in vars(core.NativeStore) if not name.startswith("__")]
    assert declared == [name for name, _, _ in METHODS]
    for name, signature, doc in METHODS:
        method = getattr(core.NativeStore, name)
        assert (name, method.__text_signature__, method.__doc__) == (name, signature, doc)


def test_construction_and_dropping_an_unused_store_call_nothing_on_the_storage_object():
    storage = MemoryStorage()
    core.NativeStore(storage, 0, 5, -1, "float32")
    core.NativeStore(object())
    core.NativeStore(None, compact_threshold=True)
    store = core.NativeStore(storage)
    del store
    assert storage.calls == []


@pytest.mark.parametrize("kwargs, error, text", [
    ({"compact_threshold": None}, TypeError, "compact_threshold"),
    ({"compact_threshold": 1.5}, TypeError, "compact_threshold"),
    ({"compact_threshold": -1}, OverflowError, None),
    ({"compact_threshold": 2**64}, OverflowError, None),
    ({"mutation_log_max_entries": -1}, OverflowError, None),
    ({"mutation_log_max_entries": "3"}, TypeError, "mutation_log_max_entries"),
    ({"mutation_log_max_age_ms": 2**63}, OverflowError, None),
    ({"vector_precision": 32}, TypeError, "vector_precision"),
    ({"vector_precision": "Float32"}, core.TarnwickValueError, "unsupported vector precision Float32"),
    ({"vector_precision": ""}, core.TarnwickValueError, "unsupported vector precision "),
    # Integers are extracted before the precision text is compared.
    ({"compact_threshold": -1, "vector_precision": "x"}, OverflowError, None),
    ({"nonsense": 1}, TypeError, "nonsense"),
    ((), TypeError, "storage"),
    ((MemoryStorage(), 1, None, None, None, 5), TypeError, None),
])
def test_constructor_refuses_bad_arguments(kwargs, error, text):
    with pytest.raises(error) as raised:
        if isinstance(kwargs, tuple):
            core.NativeStore(*kwargs)
        else:
            core.NativeStore(MemoryStorage(), **kwargs)
    if error is core.TarnwickValueError:
        assert str(raised.value) == text
    elif text is not None:
        assert text in str(raised.value)


VALID = node("a")

# (call, expected exception, text it contains or equals); each fails before any storage call.
ARGUMENT_ERRORS = [
    (lambda s: s.apply(put_nodes=None), TypeError, "put_nodes"),
    (lambda s: s.apply(put_nodes="abc"), TypeError, "put_nodes"),
    (lambda s: s.apply(put_nodes={"a": 1}), TypeError, "put_nodes"),
    (lambda s: s.apply(put_edges=iter([])), TypeError, "put_edges"),
    (lambda s: s.apply(delete_node_ids="node-a"), TypeError, "delete_node_ids"),
    (lambda s: s.apply(delete_node_ids=("node-a", 5)), TypeError, "delete_node_ids"),
    (lambda s: s.apply(delete_vector_ids=None), TypeError, "delete_vector_ids"),
    (lambda s: s.apply(operation_id=5), TypeError, "operation_id"),
    (lambda s: s.apply(actor=b"x"), TypeError, "actor"),
    (lambda s: s.apply(base_revision=-1), OverflowError, None),
    (lambda s: s.apply(base_revision=1.0), TypeError, "base_revision"),
    (lambda s: s.apply([], [], [], [], [], [], None, None, None, None, None, None), TypeError, None),
    (lambda s: s.apply(put_nodes=[{"id": "node-a", "type": "t"}]), core.TarnwickValueError,
     "missing field `insertedAt`"),
    # Nodes are converted before the metadata, edges before vectors, argument errors first.
    (lambda s: s.apply(put_nodes=[VALID, 42], metadata=object()), core.TarnwickValueError, "invalid type"),
    (lambda s: s.apply(put_nodes=[VALID], metadata=b"x"), core.TarnwickValueError, "value is not JSON-compatible"),
    (lambda s: s.apply(put_edges=[{"id": "e"}], put_vectors=[{"id": "v"}]), core.TarnwickValueError,
     "missing field `source`"),
    (lambda s: s.apply(put_vectors=[{"id": "vec-a"}]), core.TarnwickValueError, "missing field `vector`"),
    (lambda s: s.apply(put_vectors=[("vec-a", [0.5], "x")]), core.TarnwickValueError, "invalid length"),
    (lambda s: s.apply(put_vectors=[{"id": "v", "vector": [float("nan")]}]), core.TarnwickValueError, None),
    (lambda s: s.apply(put_nodes=[{1: 2}], base_revision="x"), TypeError, "base_revision"),
    (lambda s: s.apply(put_nodes=[dict(VALID, data={1: 2})]), TypeError, "PyString"),
    (lambda s: s.get_node(5), TypeError, "id"),
    (lambda s: s.get_node(), TypeError, "id"),
    (lambda s: s.query_nodes(None), core.TarnwickValueError, "invalid type"),
    (lambda s: s.count_nodes({"limit": -1}), core.TarnwickValueError, "invalid value"),
    (lambda s: s.count_nodes({"limit": 2.5}), core.TarnwickValueError, "invalid type"),
    (lambda s: s.query_nodes({"nodeTypes": {1}}), core.TarnwickValueError, "value is not JSON-compatible"),
    (lambda s: s.get_edges_by_sources("a", None), TypeError, "Can't extract `str` to `Vec`"),
    (lambda s: s.get_edges_by_sources(["a"]), TypeError, "edge_type"),
    (lambda s: s.get_edges_by_targets({"a"}, None), TypeError, "targets"),
    (lambda s: s.get_edges_by_targets(["a", 1], 5), TypeError, "targets"),
    (lambda s: s.get_edges_by_sources(["a"], 5), TypeError, "edge_type"),
    (lambda s: s.mutation_log_since(None), TypeError, "sequence"),
    (lambda s: s.mutation_log_page(-1, 5), OverflowError, None),
    (lambda s: s.mutation_log_page(1), TypeError, "limit"),
    (lambda s: s.replace_mutation_log("abc"), TypeError, "records"),
    (lambda s: s.replace_mutation_log([{"operationId": "x", "sequence": 1, "transactionId": "t",
                                        "timestamp": 0, "operations": []}, {"sequence": 2}]),
     core.TarnwickValueError, "missing field `operationId`"),
    (lambda s: s.node_count(1), TypeError, None),
    (lambda s: s.close(None), TypeError, None),
]


@pytest.mark.parametrize("call, error, text", ARGUMENT_ERRORS)
def test_argument_and_conversion_errors_come_before_any_storage_call(call, error, text):
    for state in ("open", "closed"):
        storage = MemoryStorage()
        store = core.NativeStore(storage)
        if state == "closed":
            store.close()
        with pytest.raises(error) as raised:
            call(store)
        if error is core.TarnwickValueError and text and "`" in text:
            assert str(raised.value) == text, state
        elif text is not None:
            assert text in str(raised.value), state
        assert storage.calls == [], state


CLOSED = "closed: operation on a closed store"

# (method, arguments) of every read and change.
READS_AND_CHANGES = [
    ("get_node", "x"), ("query_nodes", {}), ("count_nodes", {}), ("get_edges_by_sources", [], None),
    ("get_edges_by_targets", ["a"], "t"), ("all_node_ids",), ("node_count",), ("all_edges",), ("all_vectors",),
    ("vector_precision",), ("apply",), ("compact",), ("mutation_log",), ("mutation_log_since",),
    ("mutation_log_page", 0, 1), ("latest_mutation_sequence",), ("replace_mutation_log", []), ("verify",),
]


def test_a_closed_store_refuses_every_read_and_change_without_calling_storage():
    storage = MemoryStorage()
    store = core.NativeStore(storage, mutation_log_max_entries=None)
    assert store.close() is None
    assert store.close() is None
    for name, *args in READS_AND_CHANGES:
        with pytest.raises(core.TarnwickClosedError) as raised:
            getattr(store, name)(*args)
        assert raised.value.args == (CLOSED,), name
    # These still answer.
    assert store.mutation_log_page(0, 0) == []
    assert store.trim_mutation_log() is None
    assert store.capabilities()["vectorSearch"] == "none"
    assert storage.calls == []
    with_retention = core.NativeStore(MemoryStorage(), mutation_log_max_entries=3)
    with_retention.close()
    with pytest.raises(core.TarnwickClosedError):
        with_retention.trim_mutation_log()
