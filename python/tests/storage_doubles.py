"""Storage objects for the store tests: an in-memory one that records every call and can be
told to fail one of them, and small helpers to build records."""

STORE_FILES = ("snapshot.msgpack", "wal.msgpack", "mutations.jsonl", "schemas.json", "indexes.json")


class Fault(Exception):
    """Raised by MemoryStorage for the call it was told to fail."""


class MemoryStorage:
    """Files in a dict. `calls` lists (operation, path) per call; `fail_call` (0-based) makes
    that call raise `raise_with` before any effect, or, for an append with `torn_prefix`, after
    that many of its bytes reached the file."""

    def __init__(self, files=None):
        self.files = dict(files or {})
        self.calls = []
        self.fail_call = None
        self.raise_with = Fault("injected")
        self.torn_prefix = 0

    def _enter(self, op, path):
        self.calls.append((op, path))
        return self.fail_call == len(self.calls) - 1

    def read(self, path):
        if self._enter("read", path):
            raise self.raise_with
        data = self.files.get(path)
        return None if data is None else bytes(data)

    def write(self, path, data):
        assert type(path) is str and type(data) is bytes
        if self._enter("write", path):
            raise self.raise_with
        self.files[path] = bytearray(data)

    def append(self, path, data):
        assert type(path) is str and type(data) is bytes
        failing = self._enter("append", path)
        kept = data[: self.torn_prefix] if failing else data
        self.files.setdefault(path, bytearray()).extend(kept)
        if failing:
            raise self.raise_with

    def delete(self, path):
        if self._enter("delete", path):
            raise self.raise_with
        self.files.pop(path, None)

    def exists(self, path):
        self._enter("exists", path)
        return path in self.files

    def snapshot(self):
        """The files as they are now, for a storage object over the same state."""
        return {name: bytes(data) for name, data in self.files.items()}

    def text(self, path):
        return bytes(self.files.get(path, b"")).decode()


def node(id, type="note", data=None, vector=None, at=1, **extra):
    record = {"id": id, "type": type, "data": data if data is not None else {}, "insertedAt": at, "updatedAt": at}
    if vector is not None:
        record["vector"] = vector
    record.update(extra)
    return record


def edge(id, source, target, type="link", data=None, at=1):
    record = {"id": id, "source": source, "target": target, "type": type, "createdAt": at}
    if data is not None:
        record["data"] = data
    return record
