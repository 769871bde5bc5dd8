"""A tarnwick storage object that keeps the store's files in one directory.

The store hands every file operation to an object like this one: `read`, `write`, `append` and
`delete` by file name, with the contents as bytes. What the store relies on:

- `read(path)` returns the file's bytes, or None when there is no such file;
- `write(path, data)` leaves the file holding exactly `data`, or fails without changing it;
- `append(path, data)` adds `data` at the end, creating the file when needed;
- `delete(path)` removes the file; a missing file is not an error.

Any exception these methods raise reaches the caller as `TarnwickStorageError`.

`NativeStore` never calls `sync` or `sync_dir`, so durability is this object's own business.
With `durable=True` (the default) every append and write reaches the disk before it returns,
and so does the directory after a file is created, renamed into place or removed: a batch that
`apply` acknowledged survives a power cut. With `durable=False` nothing is synced: an
acknowledged batch survives the process being killed, but a power cut can lose the latest ones.
"""

import os


class DirectoryStorage:
    """Files of one store, kept as plain files in `root` (created when missing)."""

    def __init__(self, root, durable=True):
        self.root = os.fspath(root)
        self.durable = durable
        # Read by NativeStore.capabilities(); the store itself acts on none of it.
        self.capabilities = {
            "atomicBatches": False,
            "transactions": False,
            "fsync": durable,
            "secondaryIndexes": False,
            "snapshots": True,
            "changeFeed": False,
            "concurrentWriters": False,
            "vectorSearch": "none",
        }
        os.makedirs(self.root, exist_ok=True)

    def _path(self, name):
        return os.path.join(self.root, name)

    def read(self, path):
        try:
            with open(self._path(path), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def write(self, path, data):
        # Through a temporary file and a rename, so the old content stays whole until the new
        # one is complete.
        final = self._path(path)
        temporary = final + ".tmp"
        with open(temporary, "wb") as f:
            f.write(data)
            self._settle(f)
        os.replace(temporary, final)
        self._settle_directory()

    def append(self, path, data):
        target = self._path(path)
        created = not os.path.exists(target)
        with open(target, "ab") as f:
            f.write(data)
            self._settle(f)
        if created:
            self._settle_directory()

    def delete(self, path):
        try:
            os.remove(self._path(path))
        except FileNotFoundError:
            return
        self._settle_directory()

    def exists(self, path):
        return os.path.exists(self._path(path))

    def sync(self, path):
        fd = os.open(self._path(path), os.O_RDONLY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)

    def sync_dir(self):
        fd = os.open(self.root, os.O_RDONLY)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)

    def _settle(self, f):
        if self.durable:
            f.flush()
            os.fsync(f.fileno())

    def _settle_directory(self):
        if self.durable:
            self.sync_dir()
