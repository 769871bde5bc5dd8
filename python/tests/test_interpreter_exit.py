"""The interpreter ends daemon threads that are inside a search, a storage call or a wait for a
store when it exits: the process must exit cleanly."""

import os
import subprocess
import sys

import pytest

# Four daemon threads keep searching while the main thread ends, so at finalization some are
# waiting to take the interpreter lock back after a search; the interpreter ends those threads
# by unwinding them.
SCRIPT = """
import sys, threading, time
import numpy as np
import tarnwick._core as core

index = getattr(core, sys.argv[1])(**({"ef_construction": 16, "m": 4} if sys.argv[1] == "HnswIndex" else {}))
data = np.random.default_rng(1).standard_normal((int(sys.argv[2]), 64))
index.add_many([str(i) for i in range(len(data))], list(data))

def search():
    while True:
        index.query(data[0], 50)

for _ in range(4):
    threading.Thread(target=search, daemon=True).start()
time.sleep(0.05)
print("ending")
"""


@pytest.mark.parametrize("cls, count", [("ExactIndex", 8000), ("HnswIndex", 3000)])
def test_exit_with_daemon_threads_inside_query(cls, count):
    for _ in range(3):
        run = subprocess.run([sys.executable, "-c", SCRIPT, cls, str(count)], capture_output=True, text=True,
                             timeout=120)
        assert (run.returncode, run.stdout, run.stderr) == (0, "ending\n", "")


# Daemon threads share a store whose storage object sleeps inside its calls, so at exit some of
# them are inside a storage call and others wait for the store's mutex without the interpreter
# lock; the interpreter ends them all.
EXIT_SCRIPT = """
import sys, threading, time
sys.path.insert(0, sys.argv[1])
import tarnwick._core as core
from storage_doubles import MemoryStorage, node

class Slow(MemoryStorage):
    def _enter(self, op, path):
        time.sleep(0.001)
        return super()._enter(op, path)

store = core.NativeStore(Slow())

def work(prefix):
    i = 0
    while True:
        store.apply(put_nodes=[node(f"{prefix}{i}")])
        store.get_node(f"{prefix}{i}")
        i += 1

for p in "abcd":
    threading.Thread(target=work, args=(p,), daemon=True).start()
time.sleep(0.05)
print("ending")
"""


def test_exit_with_daemon_threads_waiting_for_the_store():
    for _ in range(3):
        run = subprocess.run([sys.executable, "-c", EXIT_SCRIPT, os.path.dirname(__file__)], capture_output=True,
                             text=True, timeout=120)
        assert (run.returncode, run.stdout, run.stderr) == (0, "ending\n", "")
