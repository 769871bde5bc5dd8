"""Type information for the native engine `tarnwick._core`."""

from collections.abc import Mapping, Sequence
from typing import Any, Literal, Protocol, TypedDict, final

import numpy as np
import numpy.typing as npt

__all__ = [
    "ExactIndex",
    "HnswIndex",
    "NativeStore",
    "engine_info",
    "execute_query_plan",
    "aggregate_query_plan",
    "TarnwickError",
    "TarnwickValueError",
    "TarnwickDimensionError",
    "TarnwickClosedError",
    "TarnwickVersionError",
    "TarnwickCorruptDataError",
    "TarnwickStorageError",
    "ConflictError",
    "ResourceLimitError",
]

_JsonValue = None | bool | int | float | str | Sequence["_JsonValue"] | Mapping[str, "_JsonValue"]
_Vector = npt.NDArray[np.float64] | npt.NDArray[np.float32] | Sequence[float]
# One vector per row, or one vector per item.
_Vectors = npt.NDArray[np.float64] | npt.NDArray[np.float32] | Sequence[_Vector]
_Precision = Literal["float32", "float64"]

class _Storage(Protocol):
    """What NativeStore asks of its storage object. `capabilities`, `exists`, `sync` and
    `sync_dir` are optional."""

    def read(self, path: str, /) -> bytes | bytearray | memoryview | Sequence[int] | None: ...
    def write(self, path: str, data: bytes, /) -> object: ...
    def append(self, path: str, data: bytes, /) -> object: ...
    def delete(self, path: str, /) -> object: ...

class _Capabilities(TypedDict):
    atomicBatches: bool
    transactions: bool
    fsync: bool
    secondaryIndexes: bool
    snapshots: bool
    changeFeed: bool
    concurrentWriters: bool
    vectorSearch: Literal["none", "exact", "ann"]

class _VerifyResult(TypedDict):
    ok: bool
    errors: list[str]
    nodeCount: int
    edgeCount: int
    vectorCount: int
    mutationCount: int

@final
class ExactIndex:
    def __new__(cls, distance: str = ..., vector_precision: _Precision = ...) -> ExactIndex:
        """`distance` "euclidean", or any other text for cosine (the default is "cosine");
        `vector_precision` defaults to "float64"."""
    def __len__(self) -> int: ...
    def add(self, id: str, vector: _Vector) -> None: ...
    def add_many(self, ids: Sequence[str], vectors: _Vectors) -> None: ...
    def remove(self, id: str) -> None: ...
    def remove_many(self, ids: Sequence[str]) -> None: ...
    def query(self, vector: _Vector, top_k: int, threshold: float = 0.0) -> list[tuple[str, float]]: ...
    def clear(self) -> None: ...
    def set_precision(self, vector_precision: _Precision) -> None: ...
    def has(self, id: str) -> bool: ...
    def get(self, id: str) -> npt.NDArray[np.float64] | None: ...
    def entries(self) -> list[tuple[str, npt.NDArray[np.float64]]]: ...

@final
class HnswIndex:
    def __new__(
        cls,
        m: int = 16,
        mmax0: int = 32,
        ef_construction: int = 200,
        ef_search: int = 200,
        level_seed: int = 7,
        distance: str = ...,
        vector_precision: _Precision = ...,
    ) -> HnswIndex:
        """`distance` "euclidean", or any other text for cosine (the default is "cosine");
        `vector_precision` defaults to "float64"."""
    def __len__(self) -> int: ...
    def add(self, id: str, vector: _Vector) -> None: ...
    def update(self, id: str, vector: _Vector) -> None: ...
    def add_many(self, ids: Sequence[str], vectors: _Vectors) -> None: ...
    def remove(self, id: str) -> None: ...
    def remove_many(self, ids: Sequence[str]) -> None: ...
    def query(self, vector: _Vector, top_k: int, threshold: float = 0.0) -> list[tuple[str, float]]: ...
    def clear(self) -> None: ...
    def set_precision(self, vector_precision: _Precision) -> None: ...
    def has(self, id: str) -> bool: ...
    def get(self, id: str) -> npt.NDArray[np.float64] | None: ...
    def entries(self) -> list[tuple[str, npt.NDArray[np.float64]]]: ...

@final
class NativeStore:
    def __new__(
        cls,
        storage: _Storage,
        compact_threshold: int = 10000,
        mutation_log_max_entries: int | None = None,
        mutation_log_max_age_ms: int | None = None,
        vector_precision: _Precision | None = None,
    ) -> NativeStore: ...
    def trim_mutation_log(self) -> None:
        """Trim `mutations.jsonl` per the configured retention policy right now,
        independent of WAL-driven compaction. A no-op when no retention
        policy was configured at construction."""
    def vector_precision(self) -> _Precision: ...
    def capabilities(self) -> _Capabilities: ...
    def verify(self) -> _VerifyResult: ...
    def mutation_log(self) -> list[dict[str, Any]]: ...
    def replace_mutation_log(self, records: Sequence[Mapping[str, Any]]) -> None:
        """Install source mutation history into a fresh migration destination."""
    def mutation_log_since(self, sequence: int = 0) -> list[dict[str, Any]]: ...
    def mutation_log_page(self, sequence: int, limit: int) -> list[dict[str, Any]]: ...
    def latest_mutation_sequence(self) -> int: ...
    def apply(
        self,
        put_nodes: Sequence[Mapping[str, Any]] = ...,
        delete_node_ids: Sequence[str] = ...,
        put_edges: Sequence[Mapping[str, Any]] = ...,
        delete_edge_ids: Sequence[str] = ...,
        put_vectors: Sequence[Mapping[str, Any] | tuple[str, Sequence[float]]] = ...,
        delete_vector_ids: Sequence[str] = ...,
        operation_id: str | None = None,
        transaction_id: str | None = None,
        actor: str | None = None,
        base_revision: int | None = None,
        metadata: _JsonValue = None,
    ) -> None:
        """Each of the six lists defaults to empty."""
    def all_node_ids(self) -> list[str]: ...
    def node_count(self) -> int:
        """Total persisted node count, without materialising ids."""
    def query_nodes(self, query: Mapping[str, Any] | Sequence[Any]) -> list[dict[str, Any]]:
        """Query nodes with a storage-level query dict:
        `{"nodeTypes": [...], "attributes": {...}, "attributeRanges": {...},
        "orderBy": {"field", "direction"}, "offset", "limit"}`."""
    def count_nodes(self, query: Mapping[str, Any] | Sequence[Any]) -> int:
        """Count nodes matching a storage-level query dict (same shape as
        `query_nodes`)."""
    def get_edges_by_sources(self, sources: Sequence[str], edge_type: str | None) -> list[dict[str, Any]]:
        """Edges from the given sources, optionally filtered by edge type."""
    def get_edges_by_targets(self, targets: Sequence[str], edge_type: str | None) -> list[dict[str, Any]]:
        """Edges targeting the given nodes, optionally filtered by edge type."""
    def get_node(self, id: str) -> dict[str, Any] | None: ...
    def all_edges(self) -> list[dict[str, Any]]: ...
    def all_vectors(self) -> list[tuple[str, npt.NDArray[np.float64]]]: ...
    def compact(self) -> None: ...
    def close(self) -> None: ...

def engine_info() -> tuple[str, str, str]: ...
def execute_query_plan(
    nodes: Sequence[Mapping[str, Any]], edges: Sequence[Mapping[str, Any]], plan: Mapping[str, Any]
) -> list[str]: ...
def aggregate_query_plan(
    nodes: Sequence[Mapping[str, Any]],
    edges: Sequence[Mapping[str, Any]],
    plan: Mapping[str, Any],
    field: str,
    op: Literal["count", "sum", "avg", "min", "max"],
) -> tuple[float, int]: ...

class TarnwickError(Exception):
    """Base tarnwick error"""

class TarnwickValueError(TarnwickError):
    """Invalid argument"""

class TarnwickDimensionError(TarnwickError):
    """Vector dimension mismatch"""

class TarnwickClosedError(TarnwickError):
    """Operation on a closed store"""

class TarnwickVersionError(TarnwickError):
    """Unsupported format version"""

class TarnwickCorruptDataError(TarnwickError):
    """Corrupt data"""

class TarnwickStorageError(TarnwickError):
    """Storage failure"""

class ConflictError(TarnwickError):
    """Optimistic concurrency conflict"""

class ResourceLimitError(TarnwickError):
    """Resource limit exceeded"""
