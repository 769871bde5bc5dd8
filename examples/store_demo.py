"""Keeping a memory graph on disk: put nodes, edges and vectors, query them, close the store,
then open the same directory again in a new process and find the same graph and its history.

    python examples/store_demo.py [DIRECTORY]

Without a directory the demo uses a fresh temporary one.
"""

import json
import os
import subprocess
import sys
import tempfile

import tarnwick._core as core
from directory_storage import DirectoryStorage

# Hand-written definitions the store reads when it loads: a person must have a string name, and
# no two people share an email address.
SCHEMAS = {
    "nodeTypes": [{"nodeType": "person", "requiredFields": ["name"], "dataTypes": {"name": "string"}}],
    "edgeTypes": [{"edgeType": "knows", "sourceTypes": ["person"], "targetTypes": ["person"]}],
}
INDEXES = [{"name": "person_email", "fields": ["email"], "nodeType": "person", "unique": True}]


def person(id, name, email, age, vector, at):
    return {"id": id, "type": "person", "data": {"name": name, "email": email, "age": age},
            "vector": vector, "insertedAt": at, "updatedAt": at, "memoryClass": "entity"}


def build(directory):
    with open(os.path.join(directory, "schemas.json"), "w") as f:
        json.dump(SCHEMAS, f)
    with open(os.path.join(directory, "indexes.json"), "w") as f:
        json.dump(INDEXES, f)
    store = core.NativeStore(DirectoryStorage(directory))
    store.apply(
        put_nodes=[
            person("ada", "Ada", "ada@example.org", 36, [0.9, 0.1, 0.0], 1),
            person("bob", "Bob", "bob@example.org", 27, [0.1, 0.9, 0.0], 2),
            person("cyd", "Cyd", "cyd@example.org", 41, [0.0, 0.2, 0.9], 3),
            {"id": "note-1", "type": "note", "data": {"text": "Ada and Bob met in Paris"}, "insertedAt": 4,
             "updatedAt": 4, "memoryClass": "episodic", "derivedFrom": ["ada", "bob"]},
        ],
        put_edges=[
            {"id": "ada-bob", "source": "ada", "target": "bob", "type": "knows", "createdAt": 5},
            {"id": "bob-cyd", "source": "bob", "target": "cyd", "type": "knows", "createdAt": 6},
        ],
        put_vectors=[{"id": "note-1", "vector": [0.5, 0.5, 0.0]}],
        actor="demo",
        metadata={"reason": "first import"},
    )
    store.apply(delete_edge_ids=["bob-cyd"], transaction_id="tidy-up")
    print("people aged over 30, oldest first:",
          [n["id"] for n in store.query_nodes({"nodeTypes": ["person"], "attributeRanges": {"age": {"above": 30}},
                                               "orderBy": {"field": "age", "direction": "desc"}})])
    print("found by the unique email index:", store.query_nodes({"attributes": {"email": "bob@example.org"}})[0]["id"])
    try:
        store.apply(put_nodes=[person("eve", "Eve", "ada@example.org", 30, None, 7)])
    except core.TarnwickValueError as error:
        print("refused, and nothing written:", error)
    store.close()


def show(directory):
    store = core.NativeStore(DirectoryStorage(directory))
    print(f"\nreopened in process {os.getpid()}: {store.node_count()} nodes, precision {store.vector_precision()}")
    print("  ada:", json.dumps(store.get_node("ada")))
    print("  who ada knows:", [e["target"] for e in store.get_edges_by_sources(["ada"], "knows")])
    print("  vectors:", {id: vector.tolist() for id, vector in sorted(store.all_vectors())})
    print("  mutation log:")
    for record in store.mutation_log():
        kinds = [op["operationType"] for op in record["operations"]]
        print(f"    #{record['sequence']} {record['transactionId']} actor={record.get('actor')} {kinds}")
    print("  verify:", store.verify())


def main():
    if len(sys.argv) > 2 and sys.argv[1] == "--show":
        show(sys.argv[2])
        return
    directory = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="tarnwick-demo-")
    os.makedirs(directory, exist_ok=True)
    print(f"store directory: {directory} (process {os.getpid()})")
    build(directory)
    subprocess.run([sys.executable, __file__, "--show", directory], check=True)


if __name__ == "__main__":
    main()
