"""What the store makes of the storage object: the results `read` may give, the text of a storage
error, exceptions that must reach the caller unchanged, capabilities, and calls back into the
store from inside a storage call."""

import json

import numpy as np
import pytest

import tarnwick._core as core
from storage_doubles import MemoryStorage, node

RECORD = json.dumps({"operationId": "a", "sequence": 1, "transactionId": "a", "timestamp": 1,
                     "operations": []}).encode() + b"\n"


class Reading:
    """Answers every read with `result(path)`; everything else succeeds and is ignored."""

    def __init__(self, result):
        self.result = result

    def read(self, path):
        return self.result(path)

    def write(self, path, data):
        return "ignored"

    def append(self, path, data):
        return 42

    def delete(self, path):
        pass


class LyingLength(list):
    def __len__(self):
        return 10**15


class ReIterating(bytes):
    def __iter__(self):
        return iter(RECORD)


@pytest.mark.parametrize("wrap", [
    bytes, bytearray, memoryview, list, tuple, LyingLength,
    lambda data: ReIterating(b"ignored, iteration decides"),
    lambda data: np.frombuffer(data, dtype=np.uint8),
])
def test_read_accepts_any_sequence_of_small_ints(wrap):
    store = core.NativeStore(Reading(lambda path: wrap(RECORD)))
    assert [r["sequence"] for r in store.mutation_log()] == [1]


class BytesSubclass(bytes):
    pass


@pytest.mark.parametrize("wrap", [bytes, BytesSubclass, bytearray, list])
def test_a_snapshot_loads_alike_whatever_sequence_read_gives(wrap):
    # An exact bytes object is read in place, anything else copied: the graph is the same.
    written = MemoryStorage()
    store = core.NativeStore(written)
    nodes = [node("a", data={"i": 1, "d": 1.0, "z": -0.0, "o": {"b": [1], "a": None}}, vector=[0.5, 2.0]),
             node("b", type="task", data={"k": "v"})]
    store.apply(put_nodes=nodes)
    store.close()
    files = {path: bytes(data) for path, data in written.files.items()}
    assert "snapshot.msgpack" in files
    reopened = core.NativeStore(Reading(lambda path: None if path not in files else wrap(files[path])))
    assert [reopened.get_node(n["id"]) for n in nodes] == [core.NativeStore(MemoryStorage(files)).get_node(n["id"])
                                                           for n in nodes]
    assert json.dumps(reopened.get_node("a")["data"]) == json.dumps(nodes[0]["data"])
    assert reopened.get_node("a")["vector"] == [0.5, 2.0]


def test_read_none_is_a_missing_file_and_empty_bytes_an_empty_one():
    assert core.NativeStore(Reading(lambda path: None)).mutation_log() == []
    assert core.NativeStore(Reading(lambda path: b"")).latest_mutation_sequence() == 0


class Outer:
    class Inner(Exception):
        pass


class BadStr(Exception):
    def __str__(self):
        raise ValueError("no text")


def raising(exc):
    def read(path):
        raise exc
    return read


@pytest.mark.parametrize("read, text", [
    (lambda path: "abc", "TypeError: Can't extract `str` to `Vec`"),
    (lambda path: [1, 256], "OverflowError: number too large to fit in target type"),
    (lambda path: [2**70], "OverflowError: number too large to fit in target type"),
    (lambda path: (-1,), "OverflowError: number too small to fit in target type"),
    (lambda path: [1.5], "TypeError: 'float' object cannot be interpreted as an integer"),
    (lambda path: 5, "TypeError: 'int' object cannot be converted to 'Sequence'"),
    (lambda path: {"a": 1}, "TypeError: 'dict' object cannot be converted to 'Sequence'"),
    (raising(OSError(28, "No space left on device")), "OSError: [Errno 28] No space left on device"),
    (raising(KeyError()), "KeyError: "),
    (raising(Outer.Inner("deep")), "Outer.Inner: deep"),
    (raising(BadStr()), "BadStr: <exception str() failed>"),
    (raising(ValueError("a\ud800b")), "ValueError: a\ufffd\ufffd\ufffdb"),
    (raising(RuntimeError("é €")), "RuntimeError: é €"),
    (object(), "AttributeError: 'object' object has no attribute 'read'"),  # a storage without the method
])
def test_storage_failures_name_the_exception(read, text):
    for call in (lambda s: s.mutation_log(), lambda s: s.node_count(), lambda s: s.verify(),
                 lambda s: s.get_node("x")):
        with pytest.raises(core.TarnwickStorageError) as raised:
            call(core.NativeStore(Reading(read) if callable(read) else read))
        assert raised.value.args == (text,)


def test_a_failed_load_is_tried_again():
    answers = iter([OSError("first"), None, None, None, None, None])

    def read(path):
        answer = next(answers)
        if isinstance(answer, Exception):
            raise answer
        return answer

    store = core.NativeStore(Reading(read))
    with pytest.raises(core.TarnwickStorageError, match="^OSError: first$"):
        store.node_count()
    assert store.node_count() == 0


class Interrupting(MemoryStorage):
    """Raises `exc` from the call numbered `at` (after `arm()`)."""

    def __init__(self, exc):
        super().__init__()
        self.exc = exc

    def arm(self):
        self.fail_call = len(self.calls)
        self.raise_with = self.exc


@pytest.mark.parametrize("exc", [KeyboardInterrupt(), SystemExit(3), MemoryError(), GeneratorExit()])
def test_exceptions_that_must_stop_the_program_pass_through_unchanged(exc):
    storage = Interrupting(exc)
    store = core.NativeStore(storage)
    storage.arm()
    with pytest.raises(type(exc)) as raised:
        store.mutation_log()
    assert raised.value is exc
    # The store treated it as a failed call and stays usable.
    assert store.mutation_log() == []
    store.apply(put_nodes=[node("a")])
    storage.arm()
    with pytest.raises(type(exc)) as raised:
        store.apply(put_nodes=[node("b")])
    assert raised.value is exc
    assert store.get_node("b") is None
    assert store.get_node("a")["id"] == "a"


class WithCapabilities(MemoryStorage):
    def __init__(self, capabilities):
        super().__init__()
        self.capabilities = capabilities


FLAGS = ["atomicBatches", "transactions", "fsync", "secondaryIndexes", "snapshots", "changeFeed",
         "concurrentWriters"]
NOTHING = dict.fromkeys(FLAGS, False) | {"vectorSearch": "none"}


class Raising:
    def __getitem__(self, key):
        if key == "fsync":
            return True
        raise LookupError(key)


@pytest.mark.parametrize("capabilities, expected", [
    ({}, NOTHING),
    (dict.fromkeys(FLAGS, True) | {"vectorSearch": "ann"}, dict.fromkeys(FLAGS, True) | {"vectorSearch": "ann"}),
    ({"vectorSearch": "exact", "fsync": 1, "snapshots": "yes"}, NOTHING | {"vectorSearch": "exact"}),
    ({"vectorSearch": "EXACT", "fsync": np.True_, "changeFeed": np.False_}, NOTHING | {"fsync": True}),
    ({"vectorSearch": b"ann"}, NOTHING),
    (lambda: {"fsync": True}, NOTHING),
    (Raising(), NOTHING | {"fsync": True}),
    ([True], NOTHING),
])
def test_capabilities_are_read_by_key_and_never_called(capabilities, expected):
    storage = WithCapabilities(capabilities)
    result = core.NativeStore(storage).capabilities()
    assert list(result) == FLAGS + ["vectorSearch"]
    assert result == expected
    assert storage.calls == []


def test_capabilities_without_the_attribute_on_a_closed_store_and_when_they_interrupt():
    store = core.NativeStore(object())
    store.close()
    assert store.capabilities() == NOTHING
    assert store.capabilities() is not store.capabilities()

    class Storage(MemoryStorage):
        @property
        def capabilities(self):
            raise KeyboardInterrupt

    with pytest.raises(KeyboardInterrupt):
        core.NativeStore(Storage()).capabilities()


class CallingBack(MemoryStorage):
    """Calls into its own store from inside `read`, once, and notes what that call raised."""

    def __init__(self):
        super().__init__()
        self.store = None
        self.seen = []

    def read(self, path):
        if self.store is not None and not self.seen:
            try:
                self.store.node_count()
            except RuntimeError as error:
                self.seen.append(error.args)
        return super().read(path)

    @property
    def capabilities(self):
        try:
            self.store.verify()
        except RuntimeError as error:
            self.seen.append(error.args)
            raise
        return {"fsync": True}


def test_calling_back_into_the_same_store_fails_instead_of_hanging():
    storage = CallingBack()
    store = core.NativeStore(storage)
    storage.store = store
    assert store.mutation_log() == []
    assert storage.seen == [("NativeStore is already in use by this thread",)]
    assert store.capabilities() == NOTHING
    assert len(storage.seen) == 2
    # Arguments are still converted first: a bad one raises its own error.
    storage.seen.clear()
    storage.read = lambda path: store.get_node(5)
    with pytest.raises(core.TarnwickStorageError, match="^TypeError: argument 'id'"):
        store.mutation_log()
