"""A short tour of tarnwick's native engine: the two vector indexes and the query functions."""

import numpy as np

import tarnwick._core as core

rng = np.random.default_rng(7)
vectors = rng.normal(size=(5000, 64)).astype(np.float32)
ids = [f"memory-{i}" for i in range(len(vectors))]
query = vectors[42]

print("engine:", core.engine_info())

exact = core.ExactIndex("cosine", "float32")
exact.add_many(ids, list(vectors))
truth = exact.query(query, 5)
print("\nExactIndex, 5 nearest of", len(exact), "float32 vectors:")
for id_, score in truth:
    print(f"  {id_:12} {score:.6f}")

hnsw = core.HnswIndex(m=16, ef_construction=200, ef_search=64)
hnsw.add_many(ids, list(vectors))
found = hnsw.query(query, 5)
print("HnswIndex finds", sum(i in dict(truth) for i, _ in found), "of those 5:", [i for i, _ in found])

nodes = [
    {"id": "alice", "type": "person", "data": {"name": "Alice", "age": 34}, "insertedAt": 1, "updatedAt": 1},
    {"id": "bob", "type": "person", "data": {"name": "Bob", "age": 27}, "insertedAt": 2, "updatedAt": 2},
    {"id": "carol", "type": "person", "data": {"name": "Carol", "age": 41}, "insertedAt": 3, "updatedAt": 3},
    {"id": "paris", "type": "place", "data": {"name": "Paris"}, "insertedAt": 4, "updatedAt": 4},
]
edges = [
    {"id": "e1", "source": "alice", "target": "bob", "type": "knows", "createdAt": 5},
    {"id": "e2", "source": "bob", "target": "carol", "type": "knows", "createdAt": 6},
    {"id": "e3", "source": "alice", "target": "paris", "type": "visited", "createdAt": 7},
]
oldest_first = {"nodeTypes": ["person"], "order": {"field": "age", "direction": "desc"}}
print("\npeople, oldest first:", core.execute_query_plan(nodes, edges, oldest_first))
friends = {
    "attributes": [{"operator": "eq", "field": "name", "value": "Alice"}],
    "traversal": [{"edgeType": "knows", "direction": "out", "depth": 2}],
}
print("Alice and who she reaches through 'knows' in two hops:", core.execute_query_plan(nodes, edges, friends))
print("average age of people:", core.aggregate_query_plan(nodes, edges, {"nodeTypes": ["person"]}, "age", "avg"))

try:
    core.execute_query_plan(nodes, edges, {"similarity": {"vector": [1.0], "threshold": 0.0, "engine": "hnsw"}})
except core.TarnwickValueError as error:
    print("\na plan that asks for an index it was not given:", error)
