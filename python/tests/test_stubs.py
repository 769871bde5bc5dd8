"""The type stubs describe what the module really has: every public name, and for every method
and constructor the parameters in the order of its text signature."""

import ast
import os

import tarnwick
import tarnwick._core as core

STUB = os.path.join(os.path.dirname(tarnwick.__file__), "_core.pyi")


def stub_tree():
    with open(STUB) as f:
        return ast.parse(f.read())


def runtime_parameters(callable_):
    text = callable_.__text_signature__.strip("()")
    names = [part.split("=")[0].strip() for part in text.split(",")]
    return [n for n in names if n and n != "$self"]


def test_stub_lists_every_public_name_and_ships_marked_as_typed():
    tree = stub_tree()
    declared = {node.name for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    assert set(core.__all__) <= declared
    [all_list] = [n.value for n in tree.body if isinstance(n, ast.Assign) and n.targets[0].id == "__all__"]
    assert [e.value for e in all_list.elts] == core.__all__
    assert os.path.exists(os.path.join(os.path.dirname(STUB), "py.typed"))


def test_stub_parameters_follow_the_text_signatures():
    classes = {n.name: n for n in stub_tree().body if isinstance(n, ast.ClassDef)}
    for name in ("ExactIndex", "HnswIndex", "NativeStore"):
        cls = getattr(core, name)
        methods = {n.name: n for n in classes[name].body if isinstance(n, ast.FunctionDef)}
        for method_name in [m for m in vars(cls) if not m.startswith("__")] + ["__new__"]:
            runtime = cls if method_name == "__new__" else getattr(cls, method_name)
            expected = runtime_parameters(runtime)
            stub_args = [a.arg for a in methods[method_name].args.args[1:]]
            assert stub_args == expected, (name, method_name)
