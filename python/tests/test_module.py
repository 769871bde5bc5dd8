"""The module's surface: names, exception types, class types and the one exported symbol."""

import pickle
import struct
import subprocess
import sys
import weakref

import pytest

import tarnwick
import tarnwick._core as core

PUBLIC_NAMES = [
    "ExactIndex", "HnswIndex", "NativeStore",
    "engine_info", "execute_query_plan", "aggregate_query_plan",
    "TarnwickError", "TarnwickValueError", "TarnwickDimensionError", "TarnwickClosedError",
    "TarnwickVersionError", "TarnwickCorruptDataError", "TarnwickStorageError",
    "ConflictError", "ResourceLimitError",
]

EXCEPTION_DOCS = {
    "TarnwickError": "Base tarnwick error",
    "TarnwickValueError": "Invalid argument",
    "TarnwickDimensionError": "Vector dimension mismatch",
    "TarnwickClosedError": "Operation on a closed store",
    "TarnwickVersionError": "Unsupported format version",
    "TarnwickCorruptDataError": "Corrupt data",
    "TarnwickStorageError": "Storage failure",
    "ConflictError": "Optimistic concurrency conflict",
    "ResourceLimitError": "Resource limit exceeded",
}


def test_all_lists_every_added_name_in_order_and_nothing_else_is_added():
    present = [name for name in PUBLIC_NAMES if hasattr(core, name)]
    assert core.__all__ == present
    assert {"ExactIndex", "HnswIndex", *EXCEPTION_DOCS} <= set(present)
    assert {name for name in dir(core) if not name.startswith("__")} == set(core.__all__)
    assert core.__doc__ == ""


def test_exception_types_form_one_hierarchy_reported_under_the_package():
    base = core.TarnwickError
    assert base.__bases__ == (Exception,)
    for name, doc in EXCEPTION_DOCS.items():
        exc = getattr(core, name)
        assert exc.__module__ == "tarnwick"
        assert exc.__qualname__ == name
        assert exc.__doc__ == doc
        if exc is not base:
            assert exc.__bases__ == (base,)
    assert not issubclass(NotImplementedError, base)


def test_package_holds_every_public_name_so_types_and_errors_pickle_by_reference():
    assert tarnwick.__all__ == ["_core", *core.__all__]
    for name in core.__all__:
        assert getattr(tarnwick, name) is getattr(core, name), name
    raised = []
    try:
        core.ExactIndex().add("", [1.0])
    except core.TarnwickError as e:
        raised.append(e)
    assert len(raised) == 1
    errors = raised + [getattr(core, name)("message \u00e9") for name in EXCEPTION_DOCS]
    for protocol in range(pickle.HIGHEST_PROTOCOL + 1):
        for error in errors:
            copied = pickle.loads(pickle.dumps(error, protocol))
            assert (type(copied), copied.args) == (type(error), error.args)
        for cls in [value for value in vars(tarnwick).values() if isinstance(value, type)]:
            assert pickle.loads(pickle.dumps(cls, protocol)) is cls


# Each call binds a keyword named by a lone surrogate, which has no UTF-8 form.
@pytest.mark.parametrize("call", [
    lambda kw: core.ExactIndex(**kw),
    lambda kw: core.HnswIndex(**kw),
    lambda kw: core.ExactIndex().add("a", [1.0], **kw),
    lambda kw: core.HnswIndex().query([1.0], 1, **kw),
    lambda kw: core.execute_query_plan([], [], {}, **kw),
    lambda kw: core.aggregate_query_plan([], [], {}, "n", "sum", **kw),
])
def test_a_keyword_name_without_utf8_text_is_the_standard_argument_error(call):
    with pytest.raises(TypeError) as info:
        call({"\ud800": 1})
    assert info.value.args[0].endswith("() got an unexpected keyword argument '\\ud800'")


@pytest.mark.parametrize("cls, signature", [
    (core.ExactIndex, "(distance=..., vector_precision=...)"),
    (core.HnswIndex, "(m=16, mmax0=32, ef_construction=200, ef_search=200, level_seed=7, "
                     "distance=..., vector_precision=...)"),
])
def test_index_classes_are_sealed_heap_types_with_text_signatures(cls, signature):
    assert cls.__module__ == "tarnwick"
    assert cls.__text_signature__ == signature
    assert not cls.__doc__
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})
    instance = cls()
    assert len(instance) == 0
    with pytest.raises(AttributeError):
        instance.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(instance)


@pytest.mark.parametrize("cls", [core.ExactIndex, core.HnswIndex])
def test_methods_carry_their_text_signatures(cls):
    expected = {"add": "($self, id, vector)", "add_many": "($self, ids, vectors)", "remove": "($self, id)",
                "remove_many": "($self, ids)", "query": "($self, vector, top_k, threshold=0.0)", "clear": "($self)",
                "set_precision": "($self, vector_precision)", "has": "($self, id)", "get": "($self, id)",
                "entries": "($self)"}
    if cls is core.HnswIndex:
        expected["update"] = "($self, id, vector)"
    for name, signature in expected.items():
        method = getattr(cls, name)
        assert method.__text_signature__ == signature, name
        assert not method.__doc__, name


def test_a_second_initialisation_in_one_process_raises_import_error():
    script = (
        "import importlib, sys\n"
        "import tarnwick._core as first\n"
        "del sys.modules['tarnwick._core']\n"
        "try:\n"
        "    importlib.import_module('tarnwick._core')\n"
        "except ImportError as e:\n"
        "    assert len(e.args) == 1 and isinstance(e.args[0], str), e.args\n"
        "    print('refused:', e.args[0])\n"
        "assert first.ExactIndex().add('a', [1.0]) is None\n"
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.startswith("refused:") and "once" in out.stdout


def exported_symbols(path):
    """Defined global or weak symbols of an ELF64 little-endian shared object's .dynsym."""
    data = open(path, "rb").read()
    assert data[:4] == b"\x7fELF" and data[4] == 2 and data[5] == 1
    shoff, = struct.unpack_from("<Q", data, 0x28)
    shentsize, shnum = struct.unpack_from("<HH", data, 0x3A)
    sections = [struct.unpack_from("<IIQQQQIIQQ", data, shoff + i * shentsize) for i in range(shnum)]
    SHT_DYNSYM = 11
    names = set()
    for _, kind, _, _, offset, size, link, _, _, entsize in sections:
        if kind != SHT_DYNSYM:
            continue
        strtab_offset = sections[link][4]
        for i in range(1, size // entsize):
            name, info, _, shndx, _, _ = struct.unpack_from("<IBBHQQ", data, offset + i * entsize)
            binding = info >> 4
            if shndx != 0 and binding in (1, 2):  # defined, STB_GLOBAL or STB_WEAK
                end = data.index(b"\0", strtab_offset + name)
                names.add(data[strtab_offset + name:end].decode())
    return names


def test_the_only_exported_symbol_is_the_initialiser():
    if not sys.platform.startswith("linux"):
        pytest.skip("reads an ELF shared object")
    assert exported_symbols(core.__file__) == {"PyInit__core"}
