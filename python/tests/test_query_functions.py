"""The query functions end to end: argument rules, conversion order, error mapping and plans."""

import copy
import math
import sys

import pytest

import tarnwick._core as core


def node(node_id, node_type="doc", vector=None, **data):
    out = {"id": node_id, "type": node_type, "data": data, "insertedAt": 1, "updatedAt": 2}
    if vector is not None:
        out["vector"] = vector
    return out


def edge(source, target, edge_type="links"):
    return {"id": f"{source}->{target}", "source": source, "target": target, "type": edge_type, "createdAt": 0}


def raises(exc_type, message, call):
    with pytest.raises(exc_type) as info:
        call()
    assert type(info.value) is exc_type
    assert info.value.args == (message,)


def test_engine_info_is_a_fixed_triple_and_takes_no_arguments():
    assert core.engine_info() == ("python", "tarnwick-native", "host")
    assert core.engine_info() is not core.engine_info()
    with pytest.raises(TypeError):
        core.engine_info(1)
    assert core.engine_info.__text_signature__ == "()"
    assert core.execute_query_plan.__text_signature__ == "(nodes, edges, plan)"
    assert core.aggregate_query_plan.__text_signature__ == "(nodes, edges, plan, field, op)"
    assert core.execute_query_plan.__module__ == "tarnwick._core"


def test_arguments_bind_by_position_or_keyword_and_bad_ones_name_the_parameter():
    nodes = [node("a")]
    assert core.execute_query_plan(plan={}, edges=[], nodes=nodes) == ["a"]
    assert core.aggregate_query_plan(nodes, [], {}, op="count", field="n") == (0.0, 0)
    for call, name in [
        (lambda: core.execute_query_plan(nodes, []), "plan"),
        (lambda: core.execute_query_plan(nodes, [], {}, nodes=[]), "nodes"),
        (lambda: core.execute_query_plan(nodes, [], {}, extra=1), "extra"),
        (lambda: core.aggregate_query_plan(nodes, [], {}, "n"), "op"),
    ]:
        with pytest.raises(TypeError, match=name):
            call()
    with pytest.raises(TypeError, match="4 were given"):
        core.execute_query_plan(nodes, [], {}, None)


def test_lists_must_be_sequences_but_not_str_and_are_checked_before_any_conversion():
    bad_node, bad_plan = 5, None
    for nodes, edges, name in [("abc", [], "nodes"), ({"a": 1}, [], "nodes"), ([bad_node], {"a->b"}, "edges"),
                               ([bad_node], "ab", "edges")]:
        with pytest.raises(TypeError, match=f"argument '{name}'"):
            core.execute_query_plan(nodes, edges, bad_plan)
    # field and op are read before the bad node is converted.
    with pytest.raises(TypeError, match="argument 'field'"):
        core.aggregate_query_plan([bad_node], [], bad_plan, 7, "sum")
    with pytest.raises(TypeError, match="argument 'op'"):
        core.aggregate_query_plan([bad_node], [], bad_plan, "n", None)
    # Any sequence will do: a tuple of nodes, a range of nothing.
    assert core.execute_query_plan((node("a"), node("b")), range(0), {}) == ["a", "b"]


def test_nodes_convert_before_edges_and_edges_before_the_plan():
    never_read = {"id": 1}  # would fail too, if it were reached
    raises(core.TarnwickValueError, "invalid type: integer `5`, expected struct Node",
           lambda: core.execute_query_plan([node("a"), 5, never_read], [7], None))
    raises(core.TarnwickValueError, "invalid type: integer `7`, expected struct Edge",
           lambda: core.execute_query_plan([node("a")], [edge("a", "b"), 7, never_read], None))
    raises(core.TarnwickValueError, "invalid type: null, expected struct QueryPlan",
           lambda: core.aggregate_query_plan([node("a")], [edge("a", "b")], None, "n", "bogus"))
    raises(core.TarnwickValueError, "missing field `insertedAt`",
           lambda: core.execute_query_plan([{"id": "a", "type": "t", "updatedAt": 0}], [], {}))


def test_values_that_do_not_convert_raise_their_conversion_error():
    raises(core.TarnwickValueError, "value is not JSON-compatible",
           lambda: core.execute_query_plan([node("a", tags={1, 2})], [], {}))
    raises(core.TarnwickValueError, "value is not JSON-compatible",
           lambda: core.execute_query_plan([], [], {"nodeTypes": [b"doc"]}))
    raises(TypeError, "'int' object cannot be converted to 'PyString'",
           lambda: core.execute_query_plan([], [dict(edge("a", "b"), data={1: "x"})], {}))


def test_self_containing_and_very_deep_values_raise_instead_of_overflowing():
    loop = []
    loop.append(loop)
    cyclic = {}
    cyclic["self"] = cyclic
    deep = []
    for _ in range(100_000):
        deep = [deep]
    for nodes, edges, plan in [([loop], [], {}), ([node("a", more=cyclic)], [], {}),
                               ([], [dict(edge("a", "b"), data={"d": deep})], {}), ([], [], {"limit": deep})]:
        with pytest.raises(core.TarnwickValueError, match="nested too deeply"):
            core.execute_query_plan(nodes, edges, plan)
    # The limit is far above anything a real record holds.
    nested = "x"
    for _ in range(50):
        nested = {"n": nested}
    assert core.execute_query_plan([node("a", nested=nested)], [], {}) == ["a"]


def test_plan_reader_texts_are_raised_unchanged_and_unknown_keys_are_ignored():
    nodes = [node("a"), node("b", "note")]
    raises(core.TarnwickValueError, 'invalid type: string "x", expected struct QueryPlan',
           lambda: core.execute_query_plan(nodes, [], "x"))
    raises(core.TarnwickValueError, "missing field `vector`",
           lambda: core.execute_query_plan(nodes, [], {"similarity": {"threshold": 0.0}}))
    raises(core.TarnwickValueError, "invalid value: integer `-1`, expected usize",
           lambda: core.execute_query_plan(nodes, [], {"limit": -1}))
    raises(core.TarnwickValueError, "unknown variant `up`, expected `asc` or `desc`",
           lambda: core.execute_query_plan(nodes, [], {"order": {"field": "n", "direction": "up"}}))
    assert core.execute_query_plan(nodes, [], {"nodeTypez": ["note"], "limit": None}) == ["a", "b"]
    # A plan given as an array holds its fields in order: nodeTypes first.
    assert core.execute_query_plan(nodes, [], [["note"]]) == ["b"]
    assert core.execute_query_plan([], [], {}) == []


def test_engine_errors_map_to_their_exception_types():
    nodes = [node("a", vector=[1.0, 0.0]), node("b", vector=[1.0, 0.0, 0.0])]
    hnsw = {"similarity": {"vector": [1.0, 0.0], "threshold": 0.0, "engine": "hnsw"}}
    raises(core.TarnwickValueError, "similarity.engine=hnsw requires an hnsw index",
           lambda: core.execute_query_plan(nodes, [], hnsw))
    # With no candidate left the ranking never runs.
    assert core.execute_query_plan(nodes, [], dict(hnsw, nodeTypes=[])) == []
    exact = {"similarity": {"vector": [1.0, 0.0], "threshold": 0.0}}
    raises(core.TarnwickDimensionError, "dimension_mismatch: expected 2 dimensions, got 3",
           lambda: core.execute_query_plan(nodes, [], exact))
    raises(core.TarnwickDimensionError, "dimension_mismatch: expected 2 dimensions, got 3",
           lambda: core.aggregate_query_plan(nodes, [], exact, "n", "nonsense"))


def test_unknown_aggregate_op_fails_even_when_no_value_is_selected():
    nodes = [node("a", n=1), node("b", n="one")]
    for plan, field in [({}, "n"), ({"nodeTypes": []}, "n"), ({}, "missing")]:
        raises(core.TarnwickValueError, "unknown aggregate op mean",
               lambda: core.aggregate_query_plan(nodes, [], plan, field, "mean"))
    raises(core.TarnwickValueError, "unknown aggregate op COUNT",
           lambda: core.aggregate_query_plan(nodes, [], {}, "n", "COUNT"))
    raises(core.TarnwickValueError, "similarity.engine=hnsw requires an hnsw index",
           lambda: core.aggregate_query_plan(nodes, [], {"similarity": [[], 0.0, None, "hnsw"]}, "n", "mean"))


def test_filter_order_offset_and_limit():
    nodes = [node("a", score=3), node("b", "note", score=9), node("c", score=5.0), node("d", score=2),
             node("e", score=5), node("f", score=1), node("g")]
    plan = {"nodeTypes": ["doc"], "attributes": [{"operator": "range", "field": "score", "above": 1}],
            "order": {"field": "score", "direction": "desc"}}
    # docs above 1: a 3, c 5.0, d 2, e 5; descending and stable: c, e, a, d
    assert core.execute_query_plan(nodes, [], plan) == ["c", "e", "a", "d"]
    assert core.execute_query_plan(nodes, [], dict(plan, offset=1, limit=2)) == ["e", "a"]
    assert core.execute_query_plan(nodes, [], dict(plan, offset=9, limit=2 ** 64 - 1)) == []
    eq = {"attributes": [{"operator": "eq", "field": "score", "value": 5}]}
    assert core.execute_query_plan(nodes, [], eq) == ["c", "e"]


def test_traversal_follows_edges_from_the_matching_nodes():
    nodes = [node("a", name="start"), node("b"), node("c"), node("d")]
    edges = [edge("a", "b"), edge("a", "c"), edge("c", "d"), edge("b", "a", "other"), edge("d", "ghost")]
    start = {"attributes": [{"operator": "eq", "field": "name", "value": "start"}]}
    for direction, depth, expected in [("out", 1, ["a", "b", "c"]), ("out", 3, ["a", "b", "c", "d", "ghost"]),
                                       ("in", 1, ["a", "b"]), ("out", 0, ["a"])]:
        plan = dict(start, traversal=[{"edgeType": "links" if direction == "out" else "other",
                                       "direction": direction, "depth": depth}])
        assert core.execute_query_plan(nodes, edges, plan) == expected, (direction, depth)
    # Seeds b and c; b then fails the edge test, its only outgoing edge being of another type.
    seeded = {"edgeFilter": {"type": "links", "source": "a"}}
    assert core.execute_query_plan(nodes, edges, seeded) == ["c"]


def test_similarity_ranks_by_exact_cosine_with_threshold_and_top_k():
    nodes = [node("p", vector=[1.0, 0.0]), node("q", vector=[0.0, 1.0]), node("r", vector=[1.0, 1.0]),
             node("s"), node("t", vector=[2.0, 0.0])]
    plan = {"similarity": {"vector": [1.0, 0.0], "threshold": 0.5}}
    # p 1.0, t 1.0 (ties keep list order), r 1/sqrt(2), q 0.0 below the threshold, s has no vector
    assert core.execute_query_plan(nodes, [], plan) == ["p", "t", "r"]
    plan["similarity"]["topK"] = 2
    assert core.execute_query_plan(nodes, [], plan) == ["p", "t"]


def test_aggregates_return_a_float_and_a_count_of_values():
    nodes = [node("a", n=1), node("b", n=2), node("c", n="3"), node("d"), node("e", n=None), node("f", n=float("inf"))]
    for op, expected in [("count", 2.0), ("sum", 3.0), ("avg", 1.5), ("min", 1.0), ("max", 2.0)]:
        value, count = core.aggregate_query_plan(nodes, [], {}, "n", op)
        assert type(value) is float and type(count) is int
        assert (value, count) == (expected, 2), op
    assert core.aggregate_query_plan(nodes, [], {"limit": 1}, "n", "sum") == (1.0, 1)
    assert core.aggregate_query_plan([], [], {}, "n", "max") == (0.0, 0)
    zeros = [node("a", z=0.0), node("b", z=-0.0)]
    assert math.copysign(1.0, core.aggregate_query_plan(zeros, [], {}, "z", "min")[0]) == -1.0
    assert math.copysign(1.0, core.aggregate_query_plan(zeros, [], {}, "z", "max")[0]) == 1.0
    assert math.copysign(1.0, core.aggregate_query_plan(zeros[1:], [], {}, "z", "sum")[0]) == -1.0


def test_calls_neither_change_nor_keep_the_callers_objects():
    nodes = [node("a", vector=[1.0], tags=["x"]), node("b")]
    edges = [edge("a", "b")]
    plan = {"traversal": [{"edgeType": "links", "direction": "out", "depth": 1}]}
    before = copy.deepcopy((nodes, edges, plan))
    counts = [sys.getrefcount(o) for o in (*nodes, *edges, plan, nodes[0]["data"])]
    first = core.execute_query_plan(nodes, edges, plan)
    second = core.execute_query_plan(nodes, edges, plan)
    assert first == second == ["a", "b"] and first is not second
    core.aggregate_query_plan(nodes, edges, plan, "tags", "count")
    assert (nodes, edges, plan) == before
    assert [sys.getrefcount(o) for o in (*nodes, *edges, plan, nodes[0]["data"])] == counts
