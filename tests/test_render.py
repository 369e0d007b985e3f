# Tests of annotation text: the repr of a validator is the type expression that builds it.
import enum
import re
from typing import Annotated, Any, Literal, Never, Optional

import pytest

from quendrix import Validator, anything, complement, intersection, nothing, recursive


class Bound:
    def __init__(self, **kwargs):
        self.__dict__.update(kwargs)


class BadRepr:
    def __repr__(self):
        raise RuntimeError("no repr")


class Color(enum.Enum):
    RED = 1


def is_even(x):
    return x % 2 == 0


class TestLeaves:
    @pytest.mark.parametrize(
        "spec, text",
        [
            (Any, "Any"),
            (object, "anything"),
            (Never, "nothing"),
            (None, "None"),
            (bool, "bool"),
            (int, "int"),
            (float, "float"),
            (str, "str"),
            (bytes, "bytes"),
            (Color, "Color"),
            (list, "list"),
        ],
    )
    def test_leaf(self, spec, text):
        assert repr(Validator(spec)) == text

    def test_module_constants(self):
        assert (repr(anything), repr(nothing)) == ("anything", "nothing")


class TestComposites:
    @pytest.mark.parametrize(
        "spec, text",
        [
            (Optional[int], "int | None"),
            (Literal["a", "b"], "Literal['a'] | Literal['b']"),
            (list[int | str], "list[int | str]"),
            (dict[str, int], "dict[str, int]"),
            (dict[object, object], "dict[anything, anything]"),
            ({"a": int, "b?": str}, "{'a': int, 'b?': str}"),
            ({}, "{}"),
            ({"a": int, object: object}, "{'a': int, ...}"),
            ({Any: Any, "a": int}, "{'a': int, Any: Any}"),
            ({str: int, bytes: float}, "{str: int, bytes: float}"),
            ({"it's": int}, "{'it's': int}"),
            (set[int], "set[int]"),
            (frozenset[str], "frozenset[str]"),
            (tuple[()], "tuple[]"),
            (tuple[int], "tuple[int]"),
            (tuple[int, ...], "tuple[int, ...]"),
            (tuple[int, str, ...], "tuple[int, str, ...]"),
            ([], "[]"),
            ([int], "list[int]"),
            ([int, str], "[int, str]"),
            ([int, str, ...], "[int, str, ...]"),
            (list[dict[str, list[int] | None]], "list[dict[str, list[int] | None]]"),
        ],
    )
    def test_spec(self, spec, text):
        assert repr(Validator(spec)) == text

    @pytest.mark.parametrize(
        "make, text",
        [
            (lambda: intersection(int), "intersection(int)"),
            (lambda: intersection(int | str, list[int]), "intersection(int | str, list[int])"),
            (lambda: complement(int | None), "complement(int | None)"),
            (lambda: Validator(int) | str, "int | str"),
        ],
    )
    def test_combinator(self, make, text):
        assert repr(make()) == text


class TestConstraints:
    @pytest.mark.parametrize(
        "spec, text",
        [
            (Annotated[int, Bound(ge=0, lt=10)], "Annotated[int, Ge(0), Lt(10)]"),
            (Annotated[int, Bound(le=5), Bound(gt=-1)], "Annotated[int, Le(5), Gt(-1)]"),
            (Annotated[str, Bound(min_length=1, max_length=5)], "Annotated[str, MinLen(1), MaxLen(5)]"),
            (Annotated[float, Bound(multiple_of=0.5)], "Annotated[float, MultipleOf(0.5)]"),
            (Annotated[int, is_even], "Annotated[int, Predicate(...)]"),
            (Annotated[int, Bound(ge=BadRepr())], "Annotated[int, Ge(<unrepresentable>)]"),
            (Annotated[list[int], Bound(min_length=2)], "Annotated[list[int], MinLen(2)]"),
        ],
    )
    def test_constraint(self, spec, text):
        assert repr(Validator(spec)) == text

    @pytest.mark.parametrize(
        "pattern, text",
        [
            (r"[a-z]+", r'Regex("[a-z]+")'),
            ('say "hi"', r'Regex("say \"hi\"")'),
            (r"\d+\.\d", r'Regex("\\d+\\.\\d")'),
            ("it's\t\n", r'Regex("it' + "'" + r's\t\n")'),
            ("a\u200bb", r'Regex("a\u{200b}b")'),
        ],
    )
    def test_pattern_is_quoted(self, pattern, text):
        assert repr(Validator(Annotated[str, re.compile(pattern)])) == f"Annotated[str, {text}]"


class TestConstants:
    def test_long_repr_is_cut_to_80_characters(self):
        assert repr(Validator("x" * 100)) == "Literal['" + "x" * 79 + "...]"

    def test_repr_that_raises(self):
        assert repr(Validator(BadRepr())) == "Literal[<unrepresentable>]"

    def test_repr_of_a_constant_runs_each_time(self):
        # The text is made per call, never cached from a first rendering.
        class Counter:
            n = 0

            def __repr__(self):
                Counter.n += 1
                return f"C{Counter.n}"

        v = Validator(Counter())
        assert (repr(v), repr(v)) == ("Literal[C1]", "Literal[C2]")


class TestRecursion:
    def test_self_list(self):
        assert repr(recursive(lambda s: list[s])) == "list[...]"

    def test_linked_record(self):
        v = recursive(lambda s: {"value": int, "next": s | None})
        assert repr(v) == "{'value': int, 'next': ... | None}"

    def test_references_side_by_side_are_each_written(self):
        r = recursive(lambda s: list[s])
        assert repr(Validator([r, r])) == "[list[...], list[...]]"
        assert repr(Validator(list[r])) == "list[list[...]]"

    def test_unbound_placeholder(self):
        kept = []
        recursive(lambda s: kept.append(s) or list[s])
        assert repr(kept[0]) == "..."

    def test_rendering_stops_at_depth_200(self):
        # Each level adds a record and a reference: two levels of text per step.
        v = recursive(lambda s: list[s])
        for _ in range(110):
            v = recursive(lambda s, inner=v: {"a": inner})
        assert repr(v) == "{'a': " * 100 + "..." + "}" * 100
