"""Borrow rules of the index classes: readers share an instance, a writer holds it alone, and a
conflict fails at once, also while a query searches without the interpreter lock."""

import threading

import numpy as np
import pytest

import tarnwick._core as core

INDEX_CLASSES = [core.ExactIndex, core.HnswIndex]


class Pause:
    """A number whose conversion stops its thread until the test lets it go on."""

    def __init__(self):
        self.inside = threading.Event()
        self.proceed = threading.Event()

    def __float__(self):
        self.inside.set()
        assert self.proceed.wait(10)
        return 1.0


def run_paused(call):
    """Runs `call(pause)` in a second thread and returns once it is paused inside a conversion."""
    pause = Pause()
    outcome = {}

    def target():
        try:
            outcome["result"] = call(pause)
        except BaseException as e:  # reported by the test, not lost in the thread
            outcome["error"] = e

    worker = threading.Thread(target=target)
    worker.start()
    assert pause.inside.wait(10)
    return pause, worker, outcome


def runtime_error(call):
    with pytest.raises(RuntimeError) as info:
        call()
    assert len(info.value.args) == 1
    return info.value.args[0]


@pytest.mark.parametrize("cls", INDEX_CLASSES)
def test_a_reader_blocks_writers_but_not_readers(cls):
    index = cls()
    index.add("a", [1.0])
    pause, worker, outcome = run_paused(lambda p: index.query([p], 1))
    try:
        assert runtime_error(lambda: index.add("b", [1.0])) == "Already borrowed"
        assert runtime_error(lambda: index.clear()) == "Already borrowed"
        assert runtime_error(lambda: index.set_precision("float32")) == "Already borrowed"
        assert index.get("a").tolist() == [1.0]
        assert index.has("a") and len(index) == 1
        assert index.query([1.0], 1) == [("a", 1.0)]
    finally:
        pause.proceed.set()
        worker.join()
    assert outcome == {"result": [("a", 1.0)]}
    index.add("b", [2.0])


@pytest.mark.parametrize("cls", INDEX_CLASSES)
def test_a_writer_blocks_everyone_until_it_returns(cls):
    index = cls()
    index.add("a", [1.0])
    pause, worker, outcome = run_paused(lambda p: index.add_many(["b"], [[p]]))
    try:
        assert runtime_error(lambda: index.get("a")) == "Already mutably borrowed"
        assert runtime_error(lambda: len(index)) == "Already mutably borrowed"
        assert runtime_error(lambda: index.entries()) == "Already mutably borrowed"
        assert runtime_error(lambda: index.remove("a")) == "Already borrowed"
        # The borrow is taken before the arguments are looked at.
        assert runtime_error(lambda: index.has(None)) == "Already mutably borrowed"
    finally:
        pause.proceed.set()
        worker.join()
    assert outcome == {"result": None}
    assert sorted(i for i, _ in index.entries()) == ["a", "b"]


@pytest.mark.parametrize("cls", INDEX_CLASSES)
def test_a_conversion_calling_back_into_its_own_index_is_refused(cls):
    index = cls()
    seen = []

    class Reentrant:
        def __float__(self):
            try:
                index.add("inner", [1.0])
            except RuntimeError as e:
                seen.append(e.args)
            return 1.0

    index.query([Reentrant()], 1)
    index.add("outer", [Reentrant()])
    assert seen == [("Already borrowed",), ("Already borrowed",)]
    assert [i for i, _ in index.entries()] == ["outer"]


@pytest.mark.parametrize("cls", INDEX_CLASSES)
def test_a_search_runs_without_the_interpreter_lock(cls):
    rng = np.random.default_rng(5)
    vectors = rng.normal(size=(2000, 64))
    index = cls()
    index.add_many([str(i) for i in range(len(vectors))], list(vectors))
    searching = threading.Event()
    stop = threading.Event()
    refused = []

    def writer():
        searching.wait(10)
        while not stop.is_set():
            try:
                index.add("w", [0.0] * 64)
            except RuntimeError as e:
                refused.append(e.args[0])
                return

    thread = threading.Thread(target=writer)
    thread.start()
    searching.set()
    # Only a query that gives the lock up lets the spinning writer in while the read borrow is
    # held. A thread that has waited a switch interval is handed the lock at the next release,
    # so a few queries suffice however short each search is.
    for _ in range(200):
        index.query(vectors[0], 10)
        if refused:
            break
    stop.set()
    thread.join()
    assert refused == ["Already borrowed"]
