"""open() and close(): every record with declared fields admits any undeclared key, or none."""

import dataclasses
import os
from typing import Annotated, Any, TypedDict

import annotated_types as at
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import MAX_SCHEMA_NODES, Validator, anything, complement, intersection, recursive, union


class Movie(TypedDict):
    title: str
    year: int


@dataclasses.dataclass
class Holder:
    inner: {"a": int}  # noqa: F722 - a dict literal schema as the annotation


def as_validator(spec):
    return spec if isinstance(spec, Validator) else Validator(spec)


OPEN_A = {"a": int, object: object}


class TestRewrite:
    # (spec, opened, closed), compared structurally.
    @pytest.mark.parametrize(
        "spec, opened, closed",
        [
            (Movie, {"title": str, "year": int, object: object}, {"title": str, "year": int}),
            ({"a": int}, OPEN_A, {"a": int}),
            ({"a": int, str: int}, OPEN_A, {"a": int}),
            ({"a": int, str: int, bytes: str}, OPEN_A, {"a": int}),
            ({"a": int, object: object}, OPEN_A, {"a": int}),
            # Mappings stay mappings, and an empty record stays closed.
            (dict[str, int], dict[str, int], dict[str, int]),
            ({}, {}, {}),
            ({str: {"a": int}}, {str: OPEN_A}, {str: {"a": int}}),
            ({"a": int, "b?": str}, {"a": int, "b?": str, object: object}, {"a": int, "b?": str}),
            # Records found anywhere are rewritten.
            (list[{"a": int}], list[OPEN_A], list[{"a": int}]),
            (tuple[{"a": int}, ...], tuple[OPEN_A, ...], tuple[{"a": int}, ...]),
            (frozenset[Validator({"a": int})], frozenset[Validator(OPEN_A)], frozenset[Validator({"a": int})]),
            (union(None, {"a": int}), union(None, OPEN_A), union(None, {"a": int})),
            (intersection({"a": int}, Any), intersection(OPEN_A, Any), intersection({"a": int}, Any)),
            (complement({"a": int}), complement(OPEN_A), complement({"a": int})),
            (
                {"a": {"b": int}, str: int},
                {"a": {"b": int, object: object}, object: object},
                {"a": {"b": int}},
            ),
            (
                Annotated[Validator({"a": int}), at.MinLen(1)],
                Annotated[Validator(OPEN_A), at.MinLen(1)],
                Annotated[Validator({"a": int}), at.MinLen(1)],
            ),
            # No records: the same schema back.
            (union(int, list[str]), union(int, list[str]), union(int, list[str])),
            (anything, anything, anything),
        ],
    )
    def test_open_and_close(self, spec, opened, closed):
        v = as_validator(spec)
        assert v.open() == as_validator(opened)
        assert v.close() == as_validator(closed)

    def test_object_attributes_are_rewritten(self):
        v = Validator(Holder)
        value = Holder({"a": 1, "extra": 2})
        assert not v.is_valid(value)
        assert v.open().is_valid(value)
        assert not v.open().close().is_valid(value)

    def test_receiver_is_unchanged(self):
        v = Validator({"a": int, str: int})
        v.open()
        v.close()
        assert v == Validator({"a": int, str: int})
        assert repr(v) == "{'a': int, str: int}"

    @pytest.mark.parametrize(
        "spec, opened, closed",
        [
            ({"a": int, str: int}, "{'a': int, ...}", "{'a': int}"),
            (dict[str, {"a": int}], "dict[str, {'a': int, ...}]", "dict[str, {'a': int}]"),
            ({}, "{}", "{}"),
        ],
    )
    def test_text(self, spec, opened, closed):
        v = Validator(spec)
        assert (repr(v.open()), repr(v.close())) == (opened, closed)


class TestDefinitions:
    def test_records_inside_definitions_are_rewritten(self):
        t = recursive(lambda t: {"a": int, "next?": t})
        opened = t.open()
        assert opened == recursive(lambda t: {"a": int, "next?": t, object: object})
        assert opened.close() == t
        value = {"a": 1, "next": {"a": 2, "x": 3}}
        assert not t.is_valid(value)
        assert opened.is_valid(value)

    def test_refs_keep_their_definitions(self):
        inner = recursive(lambda t: union(None, {"v": t}))
        outer = recursive(lambda u: {"left?": u, "right?": inner, str: int})
        opened = outer.open()
        expected = recursive(
            lambda u: {
                "left?": u,
                "right?": recursive(lambda t: union(None, {"v": t, object: object})),
                object: object,
            }
        )
        assert opened == expected
        value = {"left": {"z": 1}, "right": {"v": {"v": None, "w": 0}}, "x": "s"}
        assert (outer.is_valid(value), opened.is_valid(value), outer.close().is_valid(value)) == (
            False,
            True,
            False,
        )


class TestLimits:
    def test_opening_can_cross_the_node_limit(self):
        # Record + its field + literals: exactly the limit.
        v = union({"a": int}, *range(MAX_SCHEMA_NODES - 3))
        with pytest.raises(ValueError, match=f"spans {MAX_SCHEMA_NODES + 2} nodes"):
            v.open()
        assert v.close() == v


# ---- properties ---------------------------------------------------------------

LEAVES = [int, str, None, Any, anything, list[int], {}, {"a": int}, dict[str, int], {"a": int, str: str}]


def extend(children):
    pair = st.tuples(children, children)
    return st.one_of(
        st.lists(children, max_size=3).map(lambda xs: union(*xs)),
        st.lists(children, max_size=3).map(lambda xs: intersection(*xs)),
        children.map(lambda c: list[c]),
        pair.map(lambda p: {"a": p[0], "b?": p[1]}),
        pair.map(lambda p: {"a": p[0], str: p[1]}),
        children.map(lambda c: dict[str, c]),
        children.map(lambda c: Annotated[c, at.MinLen(1)]),
    )


# Complement-free: the rewrites are monotone on these, so inclusion holds.
monotone = st.recursive(st.sampled_from(LEAVES), extend, max_leaves=8).map(as_validator)
any_schema = st.recursive(
    st.sampled_from(LEAVES), lambda c: extend(c) | c.map(complement), max_leaves=8
).map(as_validator)

values = st.recursive(
    st.none() | st.integers(-2, 2) | st.sampled_from(["", "a"]),
    lambda c: st.lists(c, max_size=3) | st.dictionaries(st.sampled_from(["a", "b", "c"]), c, max_size=3),
    max_leaves=8,
)

PROPERTY_SETTINGS = settings(
    max_examples=int(os.environ.get("QX_PROPERTY_EXAMPLES", "400")),
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow],
)


class TestProperties:
    @PROPERTY_SETTINGS
    @given(any_schema)
    def test_projections(self, v):
        opened, closed = v.open(), v.close()
        assert opened.close() == closed
        assert closed.open() == opened
        assert opened.open() == opened
        assert closed.close() == closed

    @PROPERTY_SETTINGS
    @given(monotone, st.lists(values, min_size=1, max_size=8))
    def test_close_narrows_open_widens(self, v, drawn):
        opened, closed = v.open(), v.close()
        for x in drawn:
            member = v.is_valid(x)
            assert not closed.is_valid(x) or member, (v, x)
            assert not member or opened.is_valid(x), (v, x)
