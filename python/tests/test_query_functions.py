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


BAD = 5  # a node that would fail to convert, if it were reached


# Lists must be sequences but not str; they, field and op are checked before any conversion.
@pytest.mark.parametrize("call, match", [
    (lambda: core.execute_query_plan([node("a")], []), "plan"),
    (lambda: core.execute_query_plan([node("a")], [], {}, nodes=[]), "nodes"),
    (lambda: core.execute_query_plan([node("a")], [], {}, extra=1), "extra"),
    (lambda: core.aggregate_query_plan([node("a")], [], {}, "n"), "op"),
    (lambda: core.execute_query_plan([node("a")], [], {}, None), "4 were given"),
    (lambda: core.execute_query_plan("abc", [], None), "argument 'nodes'"),
    (lambda: core.execute_query_plan({"a": 1}, [], None), "argument 'nodes'"),
    (lambda: core.execute_query_plan([BAD], {"a->b"}, None), "argument 'edges'"),
    (lambda: core.execute_query_plan([BAD], "ab", None), "argument 'edges'"),
    (lambda: core.aggregate_query_plan([BAD], [], None, 7, "sum"), "argument 'field'"),
    (lambda: core.aggregate_query_plan([BAD], [], None, "n", None), "argument 'op'"),
])
def test_bad_arguments_are_type_errors_naming_the_parameter(call, match):
    with pytest.raises(TypeError, match=match):
        call()


def test_arguments_bind_by_position_or_keyword_and_any_sequence_will_do():
    assert core.execute_query_plan(plan={}, edges=[], nodes=[node("a")]) == ["a"]
    assert core.aggregate_query_plan([node("a")], [], {}, op="count", field="n") == (0.0, 0)
    assert core.execute_query_plan((node("a"), node("b")), range(0), {}) == ["a", "b"]


NEVER_READ = {"id": 1}  # would fail too, if it were reached
TWO = [node("a"), node("b", "note")]
MIXED_DIMS = [node("a", vector=[1.0, 0.0]), node("b", vector=[1.0, 0.0, 0.0])]
HNSW = {"similarity": {"vector": [1.0, 0.0], "threshold": 0.0, "engine": "hnsw"}}
EXACT = {"similarity": {"vector": [1.0, 0.0], "threshold": 0.0}}
NUMS = [node("a", n=1), node("b", n="one")]
HNSW_TEXT = "similarity.engine=hnsw requires an hnsw index"
DIMS_TEXT = "dimension_mismatch: expected 2 dimensions, got 3"
VE, DE = core.TarnwickValueError, core.TarnwickDimensionError
run, agg = core.execute_query_plan, core.aggregate_query_plan


# Nodes convert before edges, edges before the plan, the plan before the op; an unknown op fails
# even when no value is selected; texts from the plan reader are raised unchanged.
@pytest.mark.parametrize("exc_type, message, call", [
    (VE, "invalid type: integer `5`, expected struct Node", lambda: run([node("a"), 5, NEVER_READ], [7], None)),
    (VE, "invalid type: integer `7`, expected struct Edge",
     lambda: run([node("a")], [edge("a", "b"), 7, NEVER_READ], None)),
    (VE, "invalid type: null, expected struct QueryPlan", lambda: agg([node("a")], [edge("a", "b")], None, "n", "x")),
    (VE, "missing field `insertedAt`", lambda: run([{"id": "a", "type": "t", "updatedAt": 0}], [], {})),
    (VE, "value is not JSON-compatible", lambda: run([node("a", tags={1, 2})], [], {})),
    (VE, "value is not JSON-compatible", lambda: run([], [], {"nodeTypes": [b"doc"]})),
    (TypeError, "'int' object cannot be converted to 'PyString'",
     lambda: run([], [dict(edge("a", "b"), data={1: "x"})], {})),
    (VE, 'invalid type: string "x", expected struct QueryPlan', lambda: run(TWO, [], "x")),
    (VE, "missing field `vector`", lambda: run(TWO, [], {"similarity": {"threshold": 0.0}})),
    (VE, "invalid value: integer `-1`, expected usize", lambda: run(TWO, [], {"limit": -1})),
    (VE, "unknown variant `up`, expected `asc` or `desc`",
     lambda: run(TWO, [], {"order": {"field": "n", "direction": "up"}})),
    (VE, HNSW_TEXT, lambda: run(MIXED_DIMS, [], HNSW)),
    (DE, DIMS_TEXT, lambda: run(MIXED_DIMS, [], EXACT)),
    (DE, DIMS_TEXT, lambda: agg(MIXED_DIMS, [], EXACT, "n", "nonsense")),
    (VE, "unknown aggregate op mean", lambda: agg(NUMS, [], {}, "n", "mean")),
    (VE, "unknown aggregate op mean", lambda: agg(NUMS, [], {"nodeTypes": []}, "n", "mean")),
    (VE, "unknown aggregate op mean", lambda: agg(NUMS, [], {}, "missing", "mean")),
    (VE, "unknown aggregate op COUNT", lambda: agg(NUMS, [], {}, "n", "COUNT")),
    (VE, HNSW_TEXT, lambda: agg(NUMS, [], {"similarity": [[], 0.0, None, "hnsw"]}, "n", "mean")),
])
def test_errors_have_their_exact_type_and_text(exc_type, message, call):
    raises(exc_type, message, call)


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


RANKED = [node("a", score=3), node("b", "note", score=9), node("c", score=5.0), node("d", score=2),
          node("e", score=5), node("f", score=1), node("g")]
DOCS_ABOVE_1 = {"nodeTypes": ["doc"], "attributes": [{"operator": "range", "field": "score", "above": 1}],
                "order": {"field": "score", "direction": "desc"}}
GRAPH = [node("a", name="start"), node("b"), node("c"), node("d")]
LINKS = [edge("a", "b"), edge("a", "c"), edge("c", "d"), edge("b", "a", "other"), edge("d", "ghost")]
VECTORS = [node("p", vector=[1.0, 0.0]), node("q", vector=[0.0, 1.0]), node("r", vector=[1.0, 1.0]),
           node("s"), node("t", vector=[2.0, 0.0])]
SIMILAR = {"vector": [1.0, 0.0], "threshold": 0.5}


def walk(direction, depth):
    return {"attributes": [{"operator": "eq", "field": "name", "value": "start"}],
            "traversal": [{"edgeType": "links" if direction == "out" else "other", "direction": direction,
                           "depth": depth}]}


@pytest.mark.parametrize("nodes, edges, plan, expected", [
    (TWO, [], {"nodeTypez": ["note"], "limit": None}, ["a", "b"]),  # unknown keys are ignored
    (TWO, [], [["note"]], ["b"]),  # a plan given as an array holds its fields in order: nodeTypes first
    ([], [], {}, []),
    (MIXED_DIMS, [], dict(HNSW, nodeTypes=[]), []),  # with no candidate left the ranking never runs
    # docs above 1: a 3, c 5.0, d 2, e 5; descending and stable: c, e, a, d
    (RANKED, [], DOCS_ABOVE_1, ["c", "e", "a", "d"]),
    (RANKED, [], dict(DOCS_ABOVE_1, offset=1, limit=2), ["e", "a"]),
    (RANKED, [], dict(DOCS_ABOVE_1, offset=9, limit=2 ** 64 - 1), []),
    (RANKED, [], {"attributes": [{"operator": "eq", "field": "score", "value": 5}]}, ["c", "e"]),
    (GRAPH, LINKS, walk("out", 1), ["a", "b", "c"]),
    (GRAPH, LINKS, walk("out", 3), ["a", "b", "c", "d", "ghost"]),
    (GRAPH, LINKS, walk("in", 1), ["a", "b"]),
    (GRAPH, LINKS, walk("out", 0), ["a"]),
    # Seeds b and c; b then fails the edge test, its only outgoing edge being of another type.
    (GRAPH, LINKS, {"edgeFilter": {"type": "links", "source": "a"}}, ["c"]),
    # p 1.0, t 1.0 (ties keep list order), r 1/sqrt(2), q 0.0 below the threshold, s has no vector
    (VECTORS, [], {"similarity": SIMILAR}, ["p", "t", "r"]),
    (VECTORS, [], {"similarity": dict(SIMILAR, topK=2)}, ["p", "t"]),
])
def test_plans_select_and_order_node_ids(nodes, edges, plan, expected):
    assert run(nodes, edges, plan) == expected


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
