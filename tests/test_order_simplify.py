"""The canonical order of schema trees and simplify: flattening, identities, negation-normal form, refinements."""

import json
import os
import re
import threading
from typing import Annotated, Any, Literal

import annotated_types as at
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import (
    Validator,
    anything,
    complement,
    intersection,
    nothing,
    recursive,
    union,
)


def as_validator(spec):
    return spec if isinstance(spec, Validator) else Validator(spec)


def simplified(spec):
    return as_validator(spec).simplify()


class TestOrder:
    # Members given in one order and the canonical order simplify puts them
    # in. None of these pools objects in an order-dependent way, so the
    # reversed input must come out the same.
    @pytest.mark.parametrize(
        "given, expected",
        [
            ((str, int), (int, str)),
            ((bytes, str, float, int, bool, None), (None, bool, int, float, str, bytes)),
            ((tuple[int, ...], list[int]), (list[int], tuple[int, ...])),
            ((frozenset[int], set[str], set[int]), (set[int], set[str], frozenset[int])),
            ((tuple[int, str], tuple[int]), (tuple[int], tuple[int, str])),
            ((tuple[int, ...], tuple[str]), (tuple[str], tuple[int, ...])),
            (({"b": int}, {"abc": int}, {"ab": int}), ({"ab": int}, {"abc": int}, {"b": int})),
            (({"a": str}, {"a": int}), ({"a": int}, {"a": str})),
            (({"a": int}, {"a?": int}), ({"a?": int}, {"a": int})),
            (({"a": int, str: int}, {"a": int}), ({"a": int}, {"a": int, str: int})),
            (({"a": int, "b": int}, {"a": int}), ({"a": int}, {"a": int, "b": int})),
            ((dict[str, str], dict[str, int]), (dict[str, int], dict[str, str])),
            (
                (complement(list[str]), complement(list[int])),
                (complement(list[int]), complement(list[str])),
            ),
            (
                (Annotated[int, at.Ge(0), at.Le(9)], Annotated[int, at.Ge(0)]),
                (Annotated[int, at.Ge(0)], Annotated[int, at.Ge(0), at.Le(9)]),
            ),
            (
                (Annotated[str, at.MinLen(1)], Annotated[int, at.MinLen(5)]),
                (Annotated[int, at.MinLen(5)], Annotated[str, at.MinLen(1)]),
            ),
            (
                (list[union(int, bytes)], list[union(str, int)]),
                (list[union(int, str)], list[union(int, bytes)]),
            ),
        ],
    )
    def test_members_sort(self, given, expected):
        assert union(*given).simplify() == union(*expected)
        assert union(*reversed(given)).simplify() == union(*expected)

    @pytest.mark.parametrize("values", [(5, 3), (3, 5), ("b", "a", "c")])
    def test_literals_sort_by_first_interning_not_value(self, values):
        # A plain value is a Literal node (Literal[x] is a one-member union).
        v = union(*values)
        assert v.simplify() == v

    def test_classes_sort_by_first_interning(self):
        class B:
            pass

        class A:
            pass

        assert union(B, A, B).simplify() == union(B, A)


class TestUnionRules:
    @pytest.mark.parametrize(
        "spec, expected",
        [
            (union(int, int), int),
            (union(int, nothing), int),
            (union(nothing, nothing), nothing),
            (union(int, anything, str), anything),
            (union(), nothing),
            (union(union(str, int), union(int, None)), union(None, int, str)),
            (union(union(union(bytes)), union(str, union(bytes))), union(str, bytes)),
            (union(int, complement(int)), anything),
            (union(list[int], complement(list[int])), anything),
            (union(list[int], complement(list[str])), union(list[int], complement(list[str]))),
            # Any is no universe to the algebra: the pair stays.
            (union(Any, complement(Any)), union(Any, complement(Any))),
            (union(Any, Any), Any),
            # The class masks cover every value although no member is the
            # other's operand.
            (union(int, complement(bool)), anything),
            (union(None, bool, int, float, str, bytes), union(None, bool, int, float, str, bytes)),
            (union(None, int, float, str, bytes, complement(union(None, int, float, str, bytes))), anything),
            # complement(X) | complement(Y) is everything when X and Y share no value.
            (union(complement(list[int]), complement(tuple[int, ...])), anything),
            (union(complement(set[int]), complement(Annotated[str, at.MinLen(1)])), anything),
            (union(complement(bool), complement(int)), union(complement(bool), complement(int))),
            (union(complement(Any), complement(list[int])), union(complement(Any), complement(list[int]))),
        ],
    )
    def test_rule(self, spec, expected):
        assert simplified(spec) == as_validator(expected)

    def test_receiver_is_unchanged(self):
        v = union(str, int, str)
        v.simplify()
        assert v == union(str, int, str)


class TestIntersectionRules:
    @pytest.mark.parametrize(
        "spec, expected",
        [
            (intersection(), anything),
            (intersection(int, str), nothing),
            (intersection(int, bool), intersection(bool, int)),
            (intersection(int, anything), int),
            (intersection(anything, anything), anything),
            (intersection(int, nothing, bool), nothing),
            (intersection(int, int), int),
            (intersection(list[int], tuple[int, ...]), nothing),
            (intersection(set[int], frozenset[int]), nothing),
            (intersection(None, Any), intersection(Any, None)),
            (intersection(list[int], complement(list[int])), nothing),
            (intersection(Any, complement(Any)), intersection(Any, complement(Any))),
            (intersection(Annotated[list[int], at.MinLen(1)], tuple[int, ...]), nothing),
            (intersection(Annotated[int, at.Ge(0)], int), intersection(int, Annotated[int, at.Ge(0)])),
            (intersection(int, complement(bool)), intersection(int, complement(bool))),
            # Masks meet in nothing: int & (anything but bool or int).
            (intersection(int, complement(union(bool, int))), nothing),
            (intersection(intersection(int, Any), intersection(Any, bool)), intersection(Any, bool, int)),
            (intersection(union(int, str), union(str, int)), union(int, str)),
        ],
    )
    def test_rule(self, spec, expected):
        assert simplified(spec) == as_validator(expected)


class TestNegation:
    @pytest.mark.parametrize(
        "spec, expected",
        [
            (complement(complement(int)), int),
            (complement(complement(complement(int))), complement(int)),
            (complement(anything), nothing),
            (complement(nothing), anything),
            (complement(Any), complement(Any)),
            (complement(union(int, str)), intersection(complement(int), complement(str))),
            (complement(union(str, int, str)), intersection(complement(int), complement(str))),
            (complement(intersection(list[int], Any)), union(complement(Any), complement(list[int]))),
            (complement(union(int, complement(str))), intersection(str, complement(int))),
            (complement(complement(union(str, int))), union(int, str)),
            (complement(intersection(int, str)), anything),
            (complement(union(list[int], complement(list[int]))), nothing),
            # De Morgan through nested unions and intersections.
            (
                complement(union(list[int], intersection(Any, set[int]))),
                intersection(union(complement(Any), complement(set[int])), complement(list[int])),
            ),
            (list[complement(complement(int))], list[int]),
            ({"a": complement(complement(str)), str: complement(anything)}, {"a": str, str: nothing}),
        ],
    )
    def test_rule(self, spec, expected):
        assert simplified(spec) == as_validator(expected)


def predicate(x):
    return True


class GeBound:
    """A lower bound compared by identity, so typing's Annotated cache keeps each one."""

    def __init__(self, ge):
        self.ge = ge


class TestRefinement:
    def test_nested_refinements_merge_inner_first_then_sort(self):
        inner = Validator(Annotated[int, at.Le(5)])
        nested = Validator(Annotated[inner, at.Ge(0)])
        # The same pool order (5 then 0) with the constraints already flat.
        flat = Validator(Annotated[int, at.Le(5), at.Ge(0)])
        assert nested != flat
        assert nested.simplify() == flat.simplify()
        assert flat.simplify() != flat

    @pytest.mark.parametrize(
        "spec, expected",
        [
            (Annotated[str, at.MaxLen(3), at.MinLen(1)], Annotated[str, at.MinLen(1), at.MaxLen(3)]),
            (Annotated[str, at.MinLen(5), at.MinLen(2)], Annotated[str, at.MinLen(2), at.MinLen(5)]),
            (Annotated[str, at.MinLen(2), at.MinLen(2)], Annotated[str, at.MinLen(2)]),
            (Annotated[str, re.compile("ab"), re.compile("a")], Annotated[str, re.compile("a"), re.compile("ab")]),
            (Annotated[str, re.compile("b"), re.compile("ab")], Annotated[str, re.compile("ab"), re.compile("b")]),
            (Annotated[str, re.compile("a"), re.compile("a")], Annotated[str, re.compile("a")]),
            (Annotated[int, predicate, predicate], Annotated[int, predicate]),
            (Annotated[Annotated[int, at.MinLen(1)], at.MinLen(1)], Annotated[int, at.MinLen(1)]),
            (list[Annotated[str, at.MaxLen(3), at.MinLen(1)]], list[Annotated[str, at.MinLen(1), at.MaxLen(3)]]),
        ],
    )
    def test_sorted_and_deduplicated(self, spec, expected):
        assert simplified(spec) == as_validator(expected)

    def test_same_bound_object_stays_once_equal_objects_both_stay(self):
        big = 10**20
        twin = int("1" + "0" * 20)
        assert big == twin and big is not twin
        once = Validator(Annotated[int, GeBound(big), GeBound(big)]).simplify()
        assert once == Validator(Annotated[int, GeBound(big)])
        both = Validator(Annotated[int, GeBound(big), GeBound(twin)])
        assert both.simplify() == both

    def test_bounds_are_not_combined(self):
        v = Validator(Annotated[int, at.Ge(0), at.Ge(5)])
        assert v.simplify() == v


class TestRendering:
    # The annotation text of simplified schemas, kept exact.
    @pytest.mark.parametrize(
        "spec, text",
        [
            (union(str, int), "int | str"),
            (union(tuple[int, ...], list[int]), "list[int] | tuple[int, ...]"),
            (union(5, 3), "Literal[5] | Literal[3]"),
            (union({"b": int}, {"ab": int}, {"a?": int}), "{'a?': int} | {'ab': int} | {'b': int}"),
            (complement(union(int, str)), "intersection(complement(int), complement(str))"),
            (union(int, complement(bool)), "anything"),
            (intersection(Annotated[int, at.Ge(0)], str), "nothing"),
            (intersection(int, bool), "intersection(bool, int)"),
            (union(Any, complement(Any)), "Any | complement(Any)"),
            (
                complement(union(list[int], intersection(Any, set[int]))),
                "intersection(complement(Any) | complement(set[int]), complement(list[int]))",
            ),
            (
                Annotated[Validator(Annotated[int, at.Le(5)]), at.Ge(0)],
                "Annotated[int, Ge(0), Le(5)]",
            ),
            (
                Annotated[int, predicate, at.MultipleOf(3), at.Lt(9), at.Le(8), at.Gt(0), at.Ge(1)],
                "Annotated[int, Ge(1), Gt(0), Le(8), Lt(9), MultipleOf(3), Predicate(...)]",
            ),
            (
                Annotated[str, re.compile("b"), re.compile("ab"), at.MaxLen(4), re.compile("b")],
                'Annotated[str, MaxLen(4), Regex("ab"), Regex("b")]',
            ),
            (
                Annotated[int, GeBound(10**20), GeBound(int("1" + "0" * 20))],
                "Annotated[int, Ge(100000000000000000000), Ge(100000000000000000000)]",
            ),
            (recursive(lambda t: union(list[t], None, None)), "None | list[...]"),
        ],
    )
    def test_text(self, spec, text):
        assert repr(simplified(spec)) == text


class TestDefinitions:
    def test_refs_kept_definition_simplified(self):
        t = recursive(lambda t: union(list[t], None, None))
        assert t.simplify() == recursive(lambda t: union(None, list[t]))
        assert t.simplify().is_valid([[None], None])

    def test_every_definition_simplified_in_place(self):
        inner = recursive(lambda t: union(list[t], str, str))
        outer = recursive(lambda u: {"x": union(u, nothing, None), "y": inner})
        expected = recursive(lambda u: {"x": union(None, u), "y": recursive(lambda t: union(str, list[t]))})
        assert outer.simplify() == expected


class TestLimits:
    def test_negation_normal_form_can_breach_the_node_limit(self):
        v = complement(union(*range(60_000)))
        with pytest.raises(ValueError, match="schema is too large: this validator spans 120001 nodes"):
            v.simplify()

    def test_wide_union_simplifies(self):
        # The same objects twice: pooled once, so every second copy is a duplicate.
        objects = list(range(30_000))
        v = union(*reversed(objects), *objects)
        assert v.simplify() == union(*reversed(objects))


def test_threads_simplify_one_validator():
    v = complement(union(*(list[Literal[i]] for i in range(200)), str, int))
    expected = v.simplify()
    results = []

    def run():
        results.extend(v.simplify() == expected for _ in range(20))

    threads = [threading.Thread(target=run) for _ in range(8)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert results == [True] * 160


# ---- properties ---------------------------------------------------------------

LEAVES = [
    int, bool, float, str, bytes, None, Any, anything, nothing,
    Literal[0], Literal[1], Literal["a"], Literal[True],
    Annotated[int, at.Ge(0)], Annotated[int, at.Lt(1)], Annotated[str, at.MinLen(1)],
    Annotated[str, re.compile("a+")], list[int], dict[str, int],
]  # fmt: skip

# Every object the leaves pool, imported first, so pool indexes agree
# whichever order members come in.
POOLED = Validator(tuple[Literal[0], Literal[1], Literal["a"], Literal[True]])


def extend(children):
    pair = st.tuples(children, children)
    return st.one_of(
        st.lists(children, max_size=3).map(lambda xs: union(*xs)),
        st.lists(children, max_size=3).map(lambda xs: intersection(*xs)),
        children.map(complement),
        children.map(lambda c: list[c]),
        children.map(lambda c: tuple[c, ...]),
        pair.map(lambda p: tuple[p[0], p[1]]),
        pair.map(lambda p: {"a": p[0], "b?": p[1]}),
        pair.map(lambda p: {"a": p[0], str: p[1]}),
        children.map(lambda c: dict[str, c]),
        children.map(lambda c: Annotated[c, at.Ge(0)]),
        children.map(lambda c: Annotated[c, at.MinLen(1)]),
        children.map(lambda c: frozenset[c]),
    )


specs = st.recursive(st.sampled_from(LEAVES), extend, max_leaves=8)
validators = specs.map(as_validator)

values = st.recursive(
    st.none() | st.booleans() | st.integers(-3, 3) | st.floats(allow_nan=False, width=16)
    | st.sampled_from(["", "a", "aa", "b"]) | st.binary(max_size=2),
    lambda c: st.lists(c, max_size=3)
    | st.tuples(c)
    | st.tuples(c, c)
    | st.dictionaries(st.sampled_from(["a", "b", "c"]), c, max_size=3)
    | st.frozensets(st.integers(-2, 2), max_size=3),
    max_leaves=6,
)

FIXED_VALUES = [
    None, True, False, 0, 1, -1, 2.5, "", "a", "aa", b"x", [], [1], [1, "a"], (1,), (1, "a"),
    {"a": 1}, {"a": 1, "b": "a"}, {"a": 1, "c": 2}, {"x": "a"}, frozenset({1}), object(),
]  # fmt: skip

PROPERTY_SETTINGS = settings(
    max_examples=int(os.environ.get("QX_PROPERTY_EXAMPLES", "400")), deadline=None, suppress_health_check=[HealthCheck.too_slow])


class TestProperties:
    @PROPERTY_SETTINGS
    @given(validators, st.lists(values, max_size=6))
    def test_same_members(self, v, drawn):
        s = v.simplify()
        for x in FIXED_VALUES + drawn:
            assert s.is_valid(x) == v.is_valid(x), (v, s, x)
            try:
                document = json.dumps(x)
            except TypeError:
                continue
            assert s.is_valid_json(document) == v.is_valid_json(document), (v, s, document)

    @PROPERTY_SETTINGS
    @given(validators)
    def test_idempotent(self, v):
        s = v.simplify()
        assert s.simplify() == s

    @PROPERTY_SETTINGS
    @given(st.lists(validators, min_size=2, max_size=4), st.randoms(use_true_random=False))
    def test_member_order_is_irrelevant(self, members, rng):
        shuffled = list(members)
        rng.shuffle(shuffled)
        assert union(POOLED, *members).simplify() == union(POOLED, *shuffled).simplify()
        assert intersection(POOLED, *members).simplify() == intersection(POOLED, *shuffled).simplify()

    @PROPERTY_SETTINGS
    @given(validators)
    def test_self_union_and_intersection_collapse(self, v):
        s = v.simplify()
        assert union(v, v).simplify() == s
        assert intersection(v, v).simplify() == s
