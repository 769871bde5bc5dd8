"""Value conversions entered again from Python code that runs inside a conversion."""

import subprocess
import sys
import textwrap

import pytest

import tarnwick._core as core


class Interrupting:
    """A number whose conversion is interrupted, as Ctrl-C during a long conversion would."""

    def __index__(self):
        raise TypeError("no index")

    def __float__(self):
        raise KeyboardInterrupt


def node_with(value):
    return {"id": "a", "type": "doc", "data": {"x": value}, "insertedAt": 0, "updatedAt": 0}


@pytest.mark.parametrize("call", [
    lambda: core.ExactIndex().add("a", [1.0, Interrupting()]),
    lambda: core.HnswIndex().add_many(["a"], [(Interrupting(),)]),
    lambda: core.ExactIndex().query([Interrupting()], 1),
    lambda: core.execute_query_plan([node_with(Interrupting())], [], {}),
    lambda: core.execute_query_plan([], [], {"limit": Interrupting()}),
    lambda: core.aggregate_query_plan([node_with([Interrupting()])], [], {}, "x", "sum"),
])
def test_an_interrupt_inside_a_conversion_reaches_the_caller_unchanged(call):
    with pytest.raises(KeyboardInterrupt):
        call()


def test_a_conversion_re_entered_from_deep_inside_a_value_ends_in_an_error_not_a_crash():
    # The number sits under 97 lists and starts the same conversion again, so every round holds
    # a full nesting of conversion frames; the rounds must end at the interpreter's recursion
    # limit, not at the end of the stack. Run apart: the fault this guards against kills the process.
    script = textwrap.dedent("""
        import tarnwick._core as core

        def buried(value):
            for _ in range(97):
                value = [value]
            return value

        class Again:
            def __float__(self):
                core.execute_query_plan([], [], {"x": buried(Again())})
                return 1.0

        try:
            core.execute_query_plan([], [], {"x": buried(Again())})
        except core.TarnwickValueError as e:
            print(e.args)
    """)
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout == "('value is not JSON-compatible',)\n"
