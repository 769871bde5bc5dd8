"""HnswIndex end to end: configuration, update, search limits, entries and re-encoding."""

import numpy as np
import pytest

import tarnwick._core as core
from reference import cosine


def test_configuration_is_checked_in_parameter_order():
    assert len(core.HnswIndex()) == 0
    with pytest.raises(core.TarnwickValueError, match="^unsupported vector precision f32$"):
        core.HnswIndex(m=0, vector_precision="f32")
    with pytest.raises(core.TarnwickValueError) as info:
        core.HnswIndex(ef_construction=0, ef_search=0)
    assert info.value.args == ("HnswConfig.ef_construction must be at least 1",)
    with pytest.raises(core.TarnwickValueError, match=r"^HnswConfig\.m must be at least 1$"):
        core.HnswIndex(0)
    core.HnswIndex(level_seed=0)
    core.HnswIndex(level_seed=2**32 - 1)
    for seed in (2**32, -1):
        with pytest.raises(OverflowError):
            core.HnswIndex(level_seed=seed)
    with pytest.raises(TypeError, match="argument 'm'"):
        core.HnswIndex(m=None)
    with pytest.raises(TypeError, match="argument 'distance'"):
        core.HnswIndex(16, 32, 200, 200, 7, None)
    with pytest.raises(TypeError):
        core.HnswIndex(1, 2, 3, 4, 5, "cosine", "float64", "extra")


def test_update_inserts_or_replaces_and_a_failed_update_changes_nothing():
    index = core.HnswIndex()
    index.update("a", [1.0, 0.0])
    assert index.has("a") and len(index) == 1
    with pytest.raises(core.TarnwickValueError, match="^vector must contain finite values$"):
        index.update("a", [float("nan"), 0.0])
    assert index.get("a").tolist() == [1.0, 0.0]
    index.add("a", np.array([0.0, 2.0]))
    assert index.get("a").tolist() == [0.0, 2.0] and len(index) == 1


def test_query_checks_vector_and_threshold_before_anything():
    index = core.HnswIndex()
    index.add("a", [1.0, 0.0])
    with pytest.raises(core.TarnwickValueError, match="^query vector must contain finite values$"):
        index.query([float("nan"), 0.0], 0)
    with pytest.raises(core.TarnwickValueError, match="^threshold must be finite$"):
        index.query([1.0, 0.0], 0, float("nan"))
    assert index.query([1.0, 0.0], 0, 0.5) == []
    assert core.HnswIndex().query([1.0], 3) == []


def test_query_returns_at_most_ef_search_rows_best_first():
    rng = np.random.default_rng(3)
    vectors = rng.normal(size=(10, 4))
    narrow = core.HnswIndex(ef_search=2)
    wide = core.HnswIndex()
    for i, v in enumerate(vectors):
        narrow.add(f"v{i}", v)
        wide.add(f"v{i}", v)
    q = vectors[0] + 0.01
    assert len(narrow.query(q, 5, -1.0)) <= 2
    # With ef_search at its default the ten vectors are all reachable: the exact top five.
    expected = sorted(((f"v{i}", cosine(v.tolist(), q.tolist())) for i, v in enumerate(vectors)),
                      key=lambda r: -r[1])[:5]
    got = wide.query(q, 5, -1.0)
    assert [i for i, _ in got] == [i for i, _ in expected]
    assert [s for _, s in got] == pytest.approx([s for _, s in expected], abs=1e-12)


def test_other_lengths_score_zero_instead_of_failing():
    index = core.HnswIndex()
    index.add("a", [1.0, 2.0, 3.0])
    assert index.query([1.0, 2.0], 5) == [("a", 0.0)]
    assert index.query([1.0, 2.0], 5, 0.5) == []


def test_entries_are_sorted_by_id_bytes():
    index = core.HnswIndex()
    for id_ in ["b", "a", "ab", "\u00e9", "z"]:
        index.add(id_, [1.0, float(len(id_))])
    rows = index.entries()
    assert [i for i, _ in rows] == ["a", "ab", "b", "z", "\u00e9"]
    assert rows[1][1].tolist() == [1.0, 2.0] and rows[1][1].dtype == np.float64


def test_float32_overflow_survives_storage_but_not_reencoding():
    index = core.HnswIndex(vector_precision="float32")
    index.add("big", [1e39])
    assert index.get("big").tolist() == [float("inf")]
    with pytest.raises(core.TarnwickValueError, match="^vector must contain finite values$"):
        index.set_precision("float64")
    with pytest.raises(core.TarnwickValueError, match="^unsupported vector precision double$"):
        index.set_precision("double")


def test_clear_empties_and_keeps_working():
    index = core.HnswIndex(distance="euclidean")
    index.add_many(["a", "b"], [[0.0, 0.0], [3.0, 4.0]])
    index.remove_many(["a", "missing"])
    assert [i for i, _ in index.entries()] == ["b"]
    index.clear()
    assert len(index) == 0 and index.entries() == [] and index.get("b") is None
    index.add("c", [0.0, 0.0])
    # The graph scores one minus its distance, which is one minus the similarity.
    assert index.query([3.0, 4.0], 1) == [("c", 1.0 - (1.0 - 1.0 / 6.0))]


def test_same_arguments_and_additions_give_the_same_answers():
    rng = np.random.default_rng(11)
    vectors = rng.normal(size=(300, 8)).astype(np.float32)
    first, second = core.HnswIndex(m=4, ef_construction=16, ef_search=8), core.HnswIndex(4, 16, 16, 8)
    for index in (first, second):
        index.add_many([str(i) for i in range(len(vectors))], list(vectors))
    for q in vectors[:20]:
        assert first.query(q, 5) == second.query(q, 5)
