"""The query functions and NativeStore.apply read plain dicts in place and fall back to the
general conversion at anything they would not take. Both ways must agree on every result and
every error, so random calls run twice: as given, and with the plan (or apply's metadata) wrapped
in a dict (or list) subclass, which no in-place reading takes, so the general conversion handles
the call from its first node. Values are made fresh for each run, since some of them run Python
code that changes the lists and the plan while they are being converted."""

import math
import random

import numpy as np
import pytest

import tarnwick._core as core
from storage_doubles import MemoryStorage

IDS = ("a", "b", "c", "d", "é", "")
TYPES = ("doc", "note", "type")
KEYS = ("k", "s", "type", "n")


# Subclasses of the plain types, which only the general conversion takes.
PlanDict, PlanList, SubDict = type("PlanDict", (dict,), {}), type("PlanList", (list,), {}), type("SubDict", (dict,), {})
SubStr, SubInt = type("SubStr", (str,), {}), type("SubInt", (int,), {})


def general(plan):
    """The same plan in a form that only the general conversion reads."""
    if isinstance(plan, dict):
        return PlanDict(plan)
    if isinstance(plan, list):
        return PlanList(plan)
    return plan


def outcome(call):
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - every exception is compared, KeyboardInterrupt included
        return ("raised", type(error), error.args)
    return ("returned", repr(result))


class Maker:
    """Draws random values; `odd` sets how often a value is one that only the general conversion
    takes or that fails."""

    def __init__(self, seed, odd):
        self.rng = random.Random(seed)
        self.odd = odd

    def chance(self, p):
        return self.rng.random() < p

    def pick(self, seq):
        return self.rng.choice(seq)

    def scalar(self):
        r = self.rng
        plain = [lambda: r.randint(-5, 5), lambda: r.uniform(-5, 5), lambda: r.choice([True, False, None]),
                 lambda: r.choice(["x", "5", "", "é", "doc"]), lambda: float(r.randint(-2, 2)),
                 lambda: r.choice([2 ** 62, -(2 ** 63), 0.1])]
        odd = [lambda: float("nan"), lambda: float("inf"), lambda: 2 ** 63, lambda: 2 ** 64 - 1, lambda: 2 ** 70,
               lambda: 10 ** 400, lambda: np.float64(r.uniform(-5, 5)), lambda: np.int64(r.randint(-5, 5)),
               lambda: np.float32(0.1), lambda: np.bool_(True), lambda: SubStr("x"), lambda: SubInt(3),
               lambda: "\ud800", lambda: {1, 2}, lambda: b"x"]
        return self.pick(odd if self.chance(self.odd) else plain)()

    def value(self, depth=0):
        if depth < 3 and self.chance(0.25):
            if self.chance(0.5):
                items = [self.value(depth + 1) for _ in range(self.rng.randint(0, 3))]
                return tuple(items) if self.chance(0.2) else items
            return self.mapping(depth + 1)
        return self.scalar()

    def mapping(self, depth=0):
        out = {self.pick(KEYS): self.value(depth) for _ in range(self.rng.randint(0, 3))}
        if self.chance(self.odd / 3):
            out[self.pick([1, SubStr("k"), "\udc80"])] = 1
        if self.chance(self.odd / 3):
            out = SubDict(out)
        return out

    def number(self, integer, optional=False):
        r = self.rng
        if self.chance(self.odd / 2):
            return self.pick([None, 1.5, -1, True, "1", 2 ** 63, np.int64(4), float("nan"), SubInt(2)])
        if optional and self.chance(0.3):
            return None
        return r.randint(0, 9) if integer else r.choice([r.random(), r.randint(0, 1)])

    def text(self, optional=False):
        if self.chance(self.odd / 3):
            return self.pick([None, 5, SubStr("a"), "\ud800", b"a"])
        return None if optional and self.chance(0.3) else self.pick(IDS)

    def vector(self):
        dims = self.pick([0, 2, 2, 3])
        values = [self.number(False) for _ in range(dims)]
        if self.chance(self.odd / 2):
            values.append(self.pick([float("nan"), True, np.float64(0.5), None, "1"]))
        return tuple(values) if self.chance(0.2) else values

    def activation(self):
        out = {"score": self.number(False), "importance": self.number(False),
               "reinforcementCount": self.number(True), "lastMeaningfulActivation": self.number(True)}
        if self.chance(0.3):
            out["inhibition"] = self.number(False, optional=True)
        if self.chance(0.3):
            out["context"] = {self.pick(KEYS): self.pick([
                {"score": self.number(False), "lastMeaningfulActivation": self.number(True)},
                [0.5, 3], {"score": 0.5}])}
        return out

    def optional_fields(self, node):
        r = self.rng
        choices = {
            "revision": lambda: self.number(True),
            "activation": lambda: self.activation() if self.chance(0.8) else [0.5, 0.5, 1, 1],
            "memoryClass": lambda: self.pick(["episodic", "entity", "Entity", {"semantic": None}, {"semantic": 1},
                                              {}, None, 2]),
            "confidence": lambda: self.number(False, optional=True),
            "source": lambda: self.text(optional=True),
            "observedAt": lambda: self.number(True, optional=True),
            "derivedFrom": lambda: [self.text() for _ in range(r.randint(0, 2))],
            "supersedes": lambda: self.text(optional=True),
            "contradicts": lambda: tuple(self.text() for _ in range(r.randint(0, 2))),
            "extra": lambda: self.value(),
        }
        for key in r.sample(sorted(choices), r.randint(0, 4)):
            node[key] = choices[key]()

    def node(self):
        node = {"id": self.text(), "type": self.pick(TYPES) if not self.chance(self.odd / 4) else self.text()}
        if self.chance(0.9):
            node["data"] = self.mapping() if not self.chance(self.odd / 4) else None
        if self.chance(0.5):
            node["vector"] = self.vector() if self.chance(0.8) else None
        node["insertedAt"] = self.number(True)
        node["updatedAt"] = self.number(True)
        self.optional_fields(node)
        return self.spoil(node)

    def edge(self):
        edge = {"id": self.text(), "source": self.text(), "target": self.text(), "type": self.pick(["e", "f"]),
                "createdAt": self.number(True)}
        if self.chance(0.3):
            edge["data"] = self.pick([None, self.mapping()])
        if self.chance(0.3):
            edge["revision"] = self.number(True)
        return self.spoil(edge)

    def spoil(self, record):
        """Now and then a record the general conversion reads another way, or refuses."""
        if not self.chance(self.odd / 2):
            return record
        how = self.rng.randrange(5)
        if how == 0:
            record.pop(self.pick(sorted(record)))
        elif how == 1:
            return list(record.values())
        elif how == 2:
            return SubDict(record)
        elif how == 3:
            return self.pick([5, None, "x", ()])
        else:
            record[self.pick(sorted(record))] = self.scalar()
        return record

    def plan(self):
        r = self.rng
        parts = {
            "nodeTypes": lambda: r.sample(TYPES, r.randint(0, 2)),
            "attributes": lambda: [self.attribute() for _ in range(r.randint(0, 2))],
            "edgeFilter": lambda: {k: v for k, v in [("type", self.pick(["e", "f"])), ("source", self.pick(IDS)),
                                                     ("target", self.pick(IDS))] if k == "type" or self.chance(0.5)},
            "traversal": lambda: [{"edgeType": self.pick(["e", "f"]), "direction": self.pick(["out", "in"]),
                                   "depth": r.randint(0, 3)} for _ in range(r.randint(1, 2))],
            "joins": lambda: [[self.pick(["e", "f"]), self.pick(["out", "in"])]],
            "similarity": lambda: {"vector": [r.choice([1, 0.5, 0]) for _ in range(self.pick([2, 2, 3]))],
                                   "threshold": r.choice([-1, 0, 0.5]),
                                   **({"topK": r.randint(0, 3)} if self.chance(0.5) else {}),
                                   **({"engine": self.pick(["exact", "hnsw"])} if self.chance(0.3) else {})},
            "order": lambda: {"field": self.pick(KEYS), "direction": self.pick(["asc", "desc"])},
            "offset": lambda: r.randint(0, 3),
            "limit": lambda: r.randint(0, 4),
        }
        plan = {key: parts[key]() for key in r.sample(sorted(parts), r.randint(0, 4))}
        if self.chance(self.odd / 2):
            plan[self.pick(sorted(parts))] = self.scalar()
        if self.chance(0.1):
            plan = self.pick([None, "x", list(plan.values())[:2]])
        return plan

    def attribute(self):
        if self.chance(0.5):
            return {"operator": "eq", "field": self.pick(KEYS), "value": self.value()}
        bounds = {k: self.number(False) for k in ("above", "below") if self.chance(0.6)}
        return {"operator": "range", "field": self.pick(KEYS), **bounds}

    def call(self, wrap):
        """A query call as a function of the plan, and the plan as `wrap` gives it."""
        nodes = [self.node() for _ in range(self.rng.randint(0, 8))]
        edges = [self.edge() for _ in range(self.rng.randint(0, 8))]
        plan = wrap(self.plan())
        if self.chance(0.3):
            field, op = self.pick(KEYS), self.pick(["count", "sum", "avg", "min", "max", "mode"])
            return (lambda p: core.aggregate_query_plan(nodes, edges, p, field, op)), plan
        return (lambda p: core.execute_query_plan(nodes, edges, p)), plan


def both_ways(make):
    """Runs the call that `make(wrap)` builds as given and through the general conversion, each
    time on fresh values."""
    call, plan = make(lambda p: p)
    direct = outcome(lambda: call(plan))
    call, plan = make(general)
    reference = outcome(lambda: call(plan))
    return direct, reference


@pytest.mark.parametrize("odd", [0.0, 0.05, 0.3])
@pytest.mark.parametrize("seed", range(150))
def test_random_calls_give_what_the_general_conversion_gives(seed, odd):
    def make(wrap):
        return Maker(seed * 31 + int(odd * 100), odd).call(wrap)

    direct, reference = both_ways(make)
    assert direct == reference


def apply_call(seed, odd, wrap):
    """An apply call on a new store and what it leaves: the outcome, the log without its clock
    readings, and every node and edge as read back."""
    maker = Maker(seed, odd)
    nodes = [maker.node() for _ in range(maker.rng.randint(0, 6))]
    edges = [maker.edge() for _ in range(maker.rng.randint(0, 4))] if maker.chance(0.3) else []
    vectors = [{"id": maker.text(), "vector": maker.vector()} for _ in range(maker.rng.randint(0, 3))]
    metadata = wrap({"m": maker.value()})
    store = core.NativeStore(MemoryStorage())
    result = outcome(lambda: store.apply(put_nodes=nodes, put_edges=edges, put_vectors=vectors, metadata=metadata,
                                         operation_id="op", transaction_id="tx"))
    log = [{k: v for k, v in record.items() if k != "timestamp"} for record in store.mutation_log()]
    ids = sorted(store.all_node_ids())
    return result, repr(log), repr([store.get_node(i) for i in ids]), sorted(map(repr, store.all_edges()))


@pytest.mark.parametrize("odd", [0.0, 0.05, 0.3])
@pytest.mark.parametrize("seed", range(100))
def test_apply_stores_what_the_general_conversion_reads(seed, odd):
    assert apply_call(seed, odd, lambda m: m) == apply_call(seed, odd, PlanDict)


def test_valid_plain_values_are_read_in_place_with_every_field():
    nodes = [{"id": "a", "type": "doc", "data": {"k": 2, "s": [1, {"x": None}], "n": "é"}, "vector": (1, 0.5),
              "insertedAt": 1, "updatedAt": 2, "revision": 3, "memoryClass": {"entity": None}, "confidence": math.nan,
              "source": "", "observedAt": None, "derivedFrom": ["b"], "supersedes": None, "contradicts": (),
              "activation": {"score": 1, "importance": 0.5, "reinforcementCount": 2, "lastMeaningfulActivation": -1,
                             "inhibition": math.inf, "context": {"w": {"score": 0.5, "lastMeaningfulActivation": 3}}},
              "unknown": [(), {}]},
             {"id": "b", "type": "doc", "data": {"k": 2.0}, "insertedAt": -(2 ** 63), "updatedAt": 2 ** 63 - 1}]
    edges = [{"id": "e", "source": "a", "target": "b", "type": "e", "data": {"w": [1]}, "createdAt": 0}]
    plan = {"attributes": [{"operator": "eq", "field": "k", "value": 2}], "order": {"field": "k", "direction": "asc"},
            "traversal": [{"edgeType": "e", "direction": "out", "depth": 1}],
            "similarity": {"vector": [1.0, 0.5], "threshold": -1}}
    assert core.execute_query_plan(nodes, edges, plan) == ["a"]
    assert core.execute_query_plan(nodes, edges, general(plan)) == ["a"]
    assert core.aggregate_query_plan(nodes, edges, {"limit": 5}, "k", "sum") == (4.0, 2)


def make_mutating_call(target, wrap, via):
    """A query call (or an apply, with the plan as its metadata) whose second node holds a
    number that, when converted, changes `target`."""
    nodes = [{"id": "a", "type": "doc", "data": {"k": 1}, "insertedAt": 1, "updatedAt": 1},
             None,
             {"id": "c", "type": "doc", "data": {"k": 3}, "insertedAt": 1, "updatedAt": 1}]
    edges = [{"id": "e", "source": "a", "target": "c", "type": "e", "createdAt": 0}]
    plan = wrap({"order": {"field": "k", "direction": "desc"}})

    class Changes:
        def __float__(self):
            if target == "plan":
                plan["limit"] = 1
                plan["nodeTypes"] = ["doc"]
            elif target == "later node":
                nodes[2]["type"] = "note"
                nodes[2]["data"]["k"] = -1
            elif target == "earlier node":
                nodes[0]["data"]["k"] = 9
            elif target == "lists":
                nodes.clear()
                edges.append(5)
            elif target == "interrupt":
                raise KeyboardInterrupt("stop")
            elif target == "memory":
                raise MemoryError()
            return 2.0

    nodes[1] = {"id": "b", "type": "doc", "data": {"k": Changes()}, "insertedAt": 1, "updatedAt": 1}
    if via == "query":
        return (lambda p: core.execute_query_plan(nodes, edges, p)), plan

    def apply(metadata):
        store = core.NativeStore(MemoryStorage())
        store.apply(put_nodes=nodes, put_edges=edges, metadata=metadata, operation_id="op", transaction_id="tx")
        return [{k: v for k, v in record.items() if k != "timestamp"} for record in store.mutation_log()]
    return apply, plan


@pytest.mark.parametrize("via", ["query", "apply"])
@pytest.mark.parametrize("target", ["plan", "later node", "earlier node", "lists", "interrupt", "memory"])
def test_python_code_run_during_conversion_sees_and_changes_what_the_general_conversion_would(target, via):
    direct, reference = both_ways(lambda wrap: make_mutating_call(target, wrap, via))
    assert direct == reference
    if target == "plan" and via == "query":
        assert direct == ("returned", "['c']")


def test_numpy_scalars_and_subclasses_anywhere_give_the_general_result():
    base = {"id": "a", "type": "doc", "data": {"k": 1}, "insertedAt": 1, "updatedAt": 1}
    for path, value in [(("insertedAt",), np.int64(5)), (("data", "k"), np.float32(0.5)),
                        (("data", "k"), np.bool_(False)), (("type",), SubStr("doc")), (("revision",), SubInt(1)),
                        (("vector",), [np.float64(1.0)]), (("insertedAt",), 2 ** 63), (("revision",), 2 ** 64 - 1),
                        (("data", "k"), 2 ** 64), (("vector",), [float("nan")]), (("data",), SubDict(k=1))]:
        def make(wrap):
            node = {key: (dict(v) if isinstance(v, dict) else v) for key, v in base.items()}
            holder = node
            for key in path[:-1]:
                holder = holder[key]
            holder[path[-1]] = value
            nodes = [dict(base, id="z"), node]
            plan = wrap({"order": {"field": "k", "direction": "desc"}})
            return (lambda p: core.aggregate_query_plan(nodes, [], p, "k", "sum")), plan

        direct, reference = both_ways(make)
        assert direct == reference, path
