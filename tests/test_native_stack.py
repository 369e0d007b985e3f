"""Small thread stacks: deep specs and values get their answers or RecursionError, never a crash."""

import functools
import json
import os
import subprocess
import sys

import pytest

HERE = os.path.dirname(__file__)
# Sanitizer builds grow every native frame several times over.
SCALE = 8 if "asan" in os.environ.get("LD_PRELOAD", "") else 1


@functools.cache
def outcomes(kib):
    """Each case of deep_cases.py run on a thread of `kib` KiB (0: the main thread)."""
    done = subprocess.run(
        [sys.executable, os.path.join(HERE, "deep_cases.py"), str(kib)],
        capture_output=True,
        text=True,
        timeout=300,
    )
    assert done.returncode == 0, f"exit status {done.returncode}: {done.stderr[-2000:]}"
    return json.loads(done.stdout)


def reference():
    return outcomes(0)


def short_stack_answer(case):
    """What a case may answer, beside the main thread's answer, where the
    stack runs short: a decision left undecided, a value too deep for
    CPython's repr."""
    if case.endswith("is_empty"):
        return False
    if case.endswith("subtype"):
        return [False, False]
    if case == "deep value text":
        return "<unrepresentable>"
    return None


def unexpected(got):
    """The cases whose answer is neither the main thread's nor a short stack's."""
    allowed = lambda k: (reference()[k], short_stack_answer(k))
    return {k: v for k, v in got.items() if v not in allowed(k)}


class TestMainThread:
    # The answers the small stacks are held to; a few checked outright.
    @pytest.mark.parametrize(
        "case, expected",
        [
            ("dict literal is_valid", [True, False]),
            ("dict literal validate", "int_type"),
            ("TypedDict json", [True, False, "int_type"]),
            ("dataclass is_valid", [True, False]),
            ("tuple form subtype", [True, True]),
            ("Optional copy", [True, True]),
            ("deep empty is_empty", True),
            ("deep list is_valid", False),
            ("1000-deep list validate", "recursion_limit"),
            ("1000-deep dict validate", "recursion_limit"),
            ("deep json array", True),
        ],
    )
    def test_answer(self, case, expected):
        assert reference()[case] == expected


class TestSpecsAtTheLimits:
    # Every spec within the limits builds, renders, checks, rewrites and
    # decides on a small thread as on the main one.
    @pytest.mark.parametrize("kib", [192, 256])
    def test_same_answers_as_the_main_thread(self, kib):
        got = dict(outcomes(kib * SCALE))
        expected = dict(reference())
        # CPython cannot repr a list 3000 deep on this stack: the text says so.
        assert got.pop("deep value text") in (expected.pop("deep value text"), "<unrepresentable>")
        assert got == expected

    @pytest.mark.skipif(SCALE != 1, reason="a sanitizer build's larger stack holds the repr")
    def test_value_too_deep_for_repr_on_the_stack(self):
        # CPython's repr of a list 3000 deep needs more native stack than
        # 256 KiB: the value text says it cannot be shown, as when repr raises.
        assert outcomes(256)["deep value text"] == "<unrepresentable>"


class TestTinyStacks:
    # Where the stack cannot hold the nesting, the guard raises RecursionError.
    @pytest.mark.parametrize("kib", [32, 64])
    def test_answer_or_recursion_error(self, kib):
        got = outcomes(kib)
        assert unexpected({k: v for k, v in got.items() if v != "RecursionError"}) == {}

    @pytest.mark.parametrize(
        "case",
        [
            "dict literal build",
            "TypedDict build",
            "dict form repr",
            "list form simplify",
            "Annotated open close",
            "dataclass copy",
            "dict literal subtype",
        ],
    )
    def test_spec_operations_raise(self, case):
        assert outcomes(32)[case] == "RecursionError"

    @pytest.mark.parametrize(
        "case",
        ["deep list is_valid", "deep dict is_valid", "1000-deep list validate", "deep json array"],
    )
    def test_the_walk_stops_with_recursion_error(self, case):
        # Never folded into non-membership or an error record.
        assert outcomes(32)[case] == "RecursionError"

    @pytest.mark.parametrize("kib", [32, 64])
    def test_deciding_never_raises(self, kib):
        # A decision that runs short of stack is undecided: False, not raised.
        got = outcomes(kib)
        assert "RecursionError" not in [v for k, v in got.items() if k.endswith("is_empty")]

    def test_deciding_short_of_stack_answers_false(self):
        assert outcomes(32)["deep empty is_empty"] is False
