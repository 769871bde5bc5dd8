"""ExactIndex end to end: construction, changes, queries, copies and the argument rules."""

import numpy as np
import pytest

import tarnwick._core as core
from reference import cosine, euclidean

F32_TENTH = float(np.float32(0.1))  # 0.10000000149011612


def test_distance_text_selects_euclidean_only_when_exact():
    stored, query = [1.0, 0.0], [3.0, 0.0]
    for distance, expected in [("euclidean", euclidean(stored, query)), ("Euclidean", cosine(stored, query)),
                               ("", cosine(stored, query)), ("cosine", cosine(stored, query))]:
        index = core.ExactIndex(distance)
        index.add("a", stored)
        assert index.query(query, 1) == [("a", expected)], distance


def test_precision_text_is_checked_and_typed():
    with pytest.raises(core.TarnwickValueError) as info:
        core.ExactIndex(vector_precision="f32")
    assert info.value.args == ("unsupported vector precision f32",)
    index = core.ExactIndex("cosine", "float32")
    index.add("a", [0.1])
    assert index.get("a").tolist() == [F32_TENTH]


# Each call fails on its arguments or values and leaves the index as it was.
@pytest.mark.parametrize("call, error, match", [
    (lambda ix: core.ExactIndex(vector_precision=None), TypeError, "vector_precision"),
    (lambda ix: core.ExactIndex(1), TypeError, "distance"),
    (lambda ix: ix.add("", [1.0]), core.TarnwickValueError, "^vector id must not be empty$"),
    (lambda ix: ix.add("a", [1.0, float("nan")]), core.TarnwickValueError, "^vector must contain finite values$"),
    (lambda ix: ix.add(7, [1.0]), TypeError, "argument 'id'"),
    (lambda ix: ix.add_many("ab", [[1.0], [2.0]]), TypeError, "argument 'ids'"),
    (lambda ix: ix.add_many(["a", 5], [[1.0], [2.0]]), TypeError, "argument 'ids'"),
    (lambda ix: ix.query([1.0], -1), OverflowError, None),
    (lambda ix: ix.query([1.0], 2**64), OverflowError, None),
    (lambda ix: ix.query([1.0], 1.5), TypeError, "argument 'top_k'"),
    (lambda ix: ix.query([1.0], 1, None), TypeError, "argument 'threshold'"),
    (lambda ix: ix.query(top_k=1), TypeError, "vector"),
    (lambda ix: ix.query([1.0], 1, k=2), TypeError, "unexpected keyword argument 'k'"),
    (lambda ix: ix.query([1.0], 1, vector=[1.0]), TypeError, "multiple values for argument 'vector'"),
    (lambda ix: ix.query([1.0], 1, 0.0, 4), TypeError, None),
    (lambda ix: ix.clear(1), TypeError, None),
    (lambda ix: ix.remove_many("a"), TypeError, "argument 'ids'"),
    (lambda ix: ix.remove_many(["a", None]), TypeError, "argument 'ids'"),  # all ids are read first
    (lambda ix: ix.has(1), TypeError, "argument 'id'"),
    (lambda ix: ix.set_precision("float16"), core.TarnwickValueError, "^unsupported vector precision float16$"),
])
def test_bad_arguments_raise_and_change_nothing(call, error, match):
    index = core.ExactIndex()
    index.add("a", [0.1])
    with pytest.raises(error, match=match):
        call(index)
    assert [(i, v.tolist()) for i, v in index.entries()] == [("a", [0.1])]
    assert len(index) == 1


def test_a_vector_that_is_not_a_sequence_raises_a_plain_value_error():
    index = core.ExactIndex()
    with pytest.raises(ValueError, match="^vector must be a sequence of floats$") as info:
        index.add("a", "1.0")
    assert not isinstance(info.value, core.TarnwickError)
    assert len(index) == 0 and index.entries() == []


def test_add_many_converts_everything_before_adding_and_stops_at_the_first_core_error():
    index = core.ExactIndex()
    with pytest.raises(ValueError):
        index.add_many(["a", "b"], [[1.0], "x"])
    assert len(index) == 0
    with pytest.raises(core.TarnwickValueError, match="^vector id must not be empty$"):
        index.add_many(["a", "", "c"], [[1.0], [2.0], [3.0]])
    assert [id_ for id_, _ in index.entries()] == ["a"]
    with pytest.raises(core.TarnwickValueError) as info:
        index.add_many(["x"], [])
    assert info.value.args == ("ids and vectors length mismatch: 1 != 0",)
    index.add_many(ids=("p", "p"), vectors=[[1.0], np.array([2.0])])
    assert [(i, v.tolist()) for i, v in index.entries()] == [("a", [1.0]), ("p", [2.0])]


def test_entries_keep_insertion_order_and_hand_out_copies():
    index = core.ExactIndex()
    for id_, v in [("a", [1.0, 0.0]), ("b", [0.0, 1.0]), ("c", [1.0, 1.0]), ("a", [2.0, 2.0])]:
        index.add(id_, v)
    assert index.remove("b") is None
    rows = index.entries()
    assert [(i, v.tolist()) for i, v in rows] == [("a", [2.0, 2.0]), ("c", [1.0, 1.0])]
    assert len(index) == 2
    assert rows[0][1].dtype == np.float64 and rows[0][1].ndim == 1
    rows[0][1][0] = 99.0
    got = index.get("a")
    got[1] = 99.0
    assert index.get("a").tolist() == [2.0, 2.0]
    assert index.get("b") is None and index.has("c") and not index.has("b")


def test_query_checks_the_vector_first_then_scores_every_entry():
    index = core.ExactIndex()
    with pytest.raises(core.TarnwickValueError, match="^query vector must contain finite values$"):
        index.query([float("inf")], 0)
    assert index.query([1.0], 5) == []
    index.add("a", [1.0, 0.0, 0.0])
    assert index.query([1.0, 0.0, 0.0], 0) == []
    with pytest.raises(core.TarnwickDimensionError) as info:
        index.query([1.0, 0.0], 3)
    assert info.value.args == ("dimension_mismatch: expected 2 dimensions, got 3",)


def test_query_ranks_by_score_keeps_the_threshold_and_earlier_ties():
    index = core.ExactIndex()
    vectors = {"up": [0.0, 1.0], "same": [2.0, 0.0], "twin": [3.0, 0.0], "opposite": [-1.0, 0.0], "diag": [1.0, 1.0]}
    for id_, v in vectors.items():
        index.add(id_, v)
    q = np.array([1.0, 0.0], dtype=np.float32)
    scores = {i: cosine(v, [1.0, 0.0]) for i, v in vectors.items()}
    everything = index.query(q, 2**64 - 1, threshold=-1.0)
    assert sorted(everything) == sorted(scores.items())
    assert [s for _, s in everything] == sorted(scores.values(), reverse=True)
    # "same" and "twin" tie at 1.0: the earlier entry wins the one place.
    assert index.query(q, 1) == [("same", 1.0)]
    assert {i for i, _ in index.query(q, 10)} == {"same", "twin", "diag", "up"}
    assert index.query([1.0, 0.0], 10, 0.5)[2:] == [("diag", scores["diag"])]
    assert index.query(vector=[1.0, 0.0], top_k=1, threshold=float("nan")) == [("same", 1.0)]
    assert index.query(q, True) == [("same", 1.0)]


def test_remove_of_absent_ids_is_quiet():
    index = core.ExactIndex()
    index.add_many(["a", "b", "c"], [[1.0], [2.0], [3.0]])
    assert index.remove("zz") is None
    assert index.remove_many(["zz", "b"]) is None
    assert [i for i, _ in index.entries()] == ["a", "c"]


def test_set_precision_reencodes_and_clear_keeps_measure_and_precision():
    index = core.ExactIndex("euclidean")
    index.add("a", [0.1])
    index.set_precision("float32")
    assert index.get("a").tolist() == [F32_TENTH]
    index.set_precision("float64")
    assert index.get("a").tolist() == [F32_TENTH]
    index.set_precision("float32")
    index.clear()
    assert len(index) == 0 and index.entries() == []
    index.add("b", [0.1])
    assert index.get("b").tolist() == [F32_TENTH]
    assert index.query([0.1 + 3.0], 1) == [("b", euclidean([F32_TENTH], [3.1]))]
