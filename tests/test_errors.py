"""ValidationError: message lines, attributes, the errors tuple and the texts that stand for values."""

import json
import subprocess
import sys
from typing import Annotated

import pytest
from hypothesis import HealthCheck, assume, given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator, recursive, union


def error_of(schema, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        Validator(schema).validate(value, **kwargs)
    return info.value


class Shown:
    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


class Unrepresentable:
    def __repr__(self):
        raise RuntimeError("no repr")


class NamelessMeta(type):
    @property
    def __name__(cls):
        raise AttributeError("hidden")

    def __repr__(cls):
        return "<class with a hidden name>"


class TestSingleRecord:
    def test_attributes(self):
        e = error_of(int, "x")
        assert (e.code, e.expected, e.value, e.path) == ("int_type", "int", "'x'", ())
        assert e.message == "expected int, got 'x' [int_type]"
        assert str(e) == e.message
        assert e.args == (e.message,)

    def test_errors_dict_in_key_order(self):
        e = error_of(list[int], [0, None])
        [entry] = e.errors
        assert list(entry) == ["code", "path", "message", "expected", "value"]
        assert entry == {
            "code": "int_type",
            "path": (1,),
            "message": "at [1]: expected int, got None [int_type]",
            "expected": "int",
            "value": "None",
        }
        assert e.message == entry["message"]
        assert type(entry["path"][0]) is int


class TestSeveralRecords:
    def test_message_lists_every_line(self):
        e = error_of(list[int], ["a", 1, "b", "c"])
        lines = str(e).split("\n")
        assert lines == [
            "3 validation errors:",
            "at [0]: expected int, got 'a' [int_type]",
            "at [2]: expected int, got 'b' [int_type]",
            "at [3]: expected int, got 'c' [int_type]",
        ]
        assert e.message == lines[1]
        assert [entry["message"] for entry in e.errors] == lines[1:]
        assert e.path == (0,)

    def test_fail_fast_keeps_first(self):
        e = error_of(list[int], ["a", "b"], fail_fast=True)
        assert [entry["path"] for entry in e.errors] == [(0,)]
        assert str(e) == "at [0]: expected int, got 'a' [int_type]"

    @pytest.mark.parametrize(
        ("schema", "value", "where"),
        [
            ({"a": [{"b": int}]}, {"a": [{"b": "x"}]}, "a[0].b"),
            ({"a.b": int}, {"a.b": "x"}, "a.b"),
            ({"a": {"b": int}}, {"a": {"b": "x"}}, "a.b"),
            ([{"a": int}], [{"a": "x"}], "[0].a"),
            ({"": {"": int}}, {"": {"": "x"}}, "."),
        ],
    )
    def test_path_text(self, schema, value, where):
        assert error_of(schema, value).message == f"at {where}: expected int, got 'x' [int_type]"

    def test_single_empty_key_has_no_location(self):
        e = error_of({"": int}, {"": "x"})
        assert (e.path, e.message) == (("",), "expected int, got 'x' [int_type]")

    def test_every_dict_matches_its_own_line(self):
        # Records share their codes, expected texts, keys and indexes; each
        # keeps its own line, values outside ASCII and indexes past 256 too.
        rows = [{"id": f"é{i}", "name": i} for i in range(300)]
        e = error_of([{"id": int, "name": str}], rows)
        lines = str(e).split("\n")
        assert lines[0] == "600 validation errors:"
        assert [entry["message"] for entry in e.errors] == lines[1:]
        assert e.message == lines[1] == "at [0].id: expected int, got 'é0' [int_type]"
        assert [entry["path"] for entry in e.errors] == [
            (i, key) for i in range(300) for key in ("id", "name")
        ]
        assert [(x["code"], x["expected"], x["value"]) for x in e.errors[-2:]] == [
            ("int_type", "int", "'é299'"),
            ("string_type", "str", "299"),
        ]

    def test_indexes_read_as_brackets(self):
        e = error_of(list[list[int]], [[], [1, "x"]])
        assert e.message == "at [1][1]: expected int, got 'x' [int_type]"
        assert e.path == (1, 1)


class TestValueText:
    @pytest.mark.parametrize(
        ("text", "shown"),
        [
            ("r" * 80, "r" * 80),
            ("r" * 81, "r" * 80 + "..."),
            ("é" * 81, "é" * 80 + "..."),
            ("é" * 40, "é" * 40),
        ],
    )
    def test_repr_is_cut_to_80_characters(self, text, shown):
        assert error_of(int, Shown(text)).value == shown

    # None, bools, small ints and plain ASCII strs are written without
    # calling repr; the text must be repr's own, cut the same way.
    @given(
        st.one_of(
            st.none(),
            st.booleans(),
            st.integers(),
            st.sampled_from([2**62, -(2**62), 2**63 - 1, -(2**63), 2**64]),
            st.text(),
            st.text(alphabet=st.characters(max_codepoint=127)),
        )
    )
    def test_plain_values_read_as_their_repr(self, value):
        text = repr(value)
        shown = text if len(text) <= 80 else text[:80] + "..."
        assert error_of(bytes, value).value == shown

    @pytest.mark.parametrize(
        "value",
        ["", " ", "a\\b", "\x7f", "\t", "it's", 'say "hi"', "both ' and \"", "é", "~" * 81, -1, 0],
    )
    def test_edge_values_read_as_their_repr(self, value):
        text = repr(value)
        assert error_of(bytes, value).value == (text if len(text) <= 80 else text[:80] + "...")

    def test_raising_repr(self):
        e = error_of(int, Unrepresentable())
        assert e.value == "<unrepresentable>"
        assert e.message == "expected int, got <unrepresentable> [int_type]"

    def test_class_without_usable_name(self):
        hidden = NamelessMeta("Hidden", (), {})
        assert error_of(hidden, 1).expected == "<class with a hidden name>"

    def test_long_class_name_is_whole(self):
        long_named = type("C" * 100, (), {})
        assert error_of(long_named, 1).expected == "C" * 100


# ---- Texts of values held until the exception ---------------------------------

# A union's error pass in which no user code can run makes its records hold
# their values, and the texts only of the records it keeps, written
# natively up to the cut. The same schema with a predicate that always
# passes may run user code, so its texts are made with the records, by
# CPython's repr: the two must agree, and both must read as repr's own.


def always(_):
    return True


def cut_repr(value):
    try:
        text = repr(value)
    except (RecursionError, ValueError):  # too deep, or an int too long to write
        return "<unrepresentable>"
    return text if len(text) <= 80 else text[:80] + "..."


def failure(validator, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        validator.validate(value, **kwargs)
    e = info.value
    return str(e), e.code, e.path, e.expected, e.value, e.message, e.errors


scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.sampled_from([2**64, -(10**40), 7**900, 0.0, -0.0, 1e16, float("inf"), float("nan")]),
    st.floats(),
    st.text(max_size=30),
    st.sampled_from(["it's", 'say "hi"', "\\", "\ud800", "\x7f\n", "é" * 90, "\U0001f600" * 45]),
    st.binary(max_size=12),
)
hashables = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=3).map(tuple) | st.frozensets(inner, max_size=3),
    max_leaves=6,
)
values = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=4),
        st.lists(inner, max_size=4).map(tuple),
        st.dictionaries(hashables, inner, max_size=3),
        st.sets(hashables, max_size=3),
        st.frozensets(hashables, max_size=3),
    ),
    max_leaves=24,
)


def is_member(value):
    return value is None or isinstance(value, int)


ROOT = Validator(union(int, None))
ROOT_WITH_USER_CODE = Validator(union(Annotated[int, always], None))
ITEMS = Validator(list[int | None])
ITEMS_WITH_USER_CODE = Validator(list[union(Annotated[int, always], None)])
trees = st.recursive(
    scalars,
    lambda inner: st.lists(inner, max_size=3) | st.dictionaries(st.text(max_size=2), inner, max_size=3),
    max_leaves=30,
)
TREE = recursive(lambda s: union(list[s], dict[str, s], int))
TREE_WITH_USER_CODE = recursive(lambda s: union(list[s], dict[str, s], Annotated[int, always]))


def self_holding_list():
    items = [1, "a"]
    items.append(items)
    return items


def self_holding_dict():
    d = {"k": 1}
    d["me"] = d
    return d


def tuple_through_list():
    inner = []
    outer = (inner, 2)
    inner.append(outer)
    return outer


def nested(depth, leaf):
    for _ in range(depth):
        leaf = [leaf]
    return leaf


class TestHeldValueTexts:
    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(values.filter(lambda v: not is_member(v)))
    def test_value_of_the_union(self, value):
        held = failure(ROOT, value)
        assert held == failure(ROOT_WITH_USER_CODE, value)
        assert held[4] == cut_repr(value)

    @settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(st.lists(values, min_size=1, max_size=6).filter(lambda v: not all(map(is_member, v))))
    def test_values_of_items(self, items):
        held = failure(ITEMS, items)
        assert held == failure(ITEMS_WITH_USER_CODE, items)
        assert [(r["path"], r["value"]) for r in held[6]] == [
            ((i,), cut_repr(item)) for i, item in enumerate(items) if not is_member(item)
        ]

    @settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(trees, st.booleans())
    def test_records_a_union_keeps_of_many(self, tree, fail_fast):
        assume(not TREE.is_valid(tree))
        assert failure(TREE, tree, fail_fast=fail_fast) == failure(
            TREE_WITH_USER_CODE, tree, fail_fast=fail_fast
        )

    @pytest.mark.parametrize(
        "value, shown",
        [
            (self_holding_list(), "[1, 'a', [...]]"),
            (self_holding_dict(), "{'k': 1, 'me': {...}}"),
            (tuple_through_list(), "([(...)], 2)"),
            (((),), "((),)"),
            ([set(), frozenset(), {}, (), []], "[set(), frozenset(), {}, (), []]"),
            ([frozenset([frozenset([1])])], "[frozenset({frozenset({1})})]"),
            ({(1, "a"): {b"x": None}}, "{(1, 'a'): {b'x': None}}"),
            (["é" * 76], "['" + "é" * 76 + "']"),
            (["é" * 77], "['" + "é" * 77 + "'..."),
            ([10**5000], "<unrepresentable>"),
            # An int too long to write, far past the cut, still makes repr raise.
            (list(range(100)) + [10**5000], "<unrepresentable>"),
            (nested(5_000, "leaf"), "[" * 80 + "..."),
            (nested(20_000, 0), "<unrepresentable>"),
        ],
    )
    def test_edge_values(self, value, shown):
        held = failure(ROOT, value)
        assert held == failure(ROOT_WITH_USER_CODE, value)
        assert held[4] == shown


# Every item of a long list fails a union, whose explanation is added to the list's records:
# the records cost what the items cost, four times the items about four times the time. Reserving
# the exact size at each addition copied the whole list each time (sixteen times the time).
MANY_UNIONS_SCRIPT = r"""
import json, time
from typing import Union
import quendrix as q

V = q.Validator(list[Union[list[int], tuple[int]]])

def best(n):
    value = [["x"] for _ in range(n)]
    times = []
    for _ in range(3):
        start = time.perf_counter()
        try:
            V.validate(value)
        except q.ValidationError as e:
            assert len(e.errors) == n
        times.append(time.perf_counter() - start)
    return min(times)

print(json.dumps(best(40000) / best(10000)))
"""


def test_records_of_many_failed_unions_cost_what_the_items_cost():
    done = subprocess.run(
        [sys.executable, "-c", MANY_UNIONS_SCRIPT], capture_output=True, text=True, timeout=600
    )
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) < 8

