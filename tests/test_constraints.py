"""Refinement constraints: each kind's verdict, code and expected text, and exception folding."""

import copy
import dataclasses
import math
import operator
from typing import Annotated, Any, Literal

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator


# Constraint metadata is duck-typed: any object with the right attribute works.
def metadata(name, attribute):
    return dataclasses.make_dataclass(name, [attribute], frozen=True)


Ge = metadata("Ge", "ge")
Gt = metadata("Gt", "gt")
Le = metadata("Le", "le")
Lt = metadata("Lt", "lt")
MinLen = metadata("MinLen", "min_length")
MaxLen = metadata("MaxLen", "max_length")
MultipleOf = metadata("MultipleOf", "multiple_of")
Pattern = metadata("Pattern", "pattern")


def failures(schema, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        Validator(schema).validate(value, **kwargs)
    return [(e["code"], e["path"], e["expected"], e["value"]) for e in info.value.errors]


def raising(exc):
    def predicate(value):
        raise exc

    return predicate


class Outer:
    class Boom(Exception):
        pass


class StrRaises(Exception):
    def __str__(self):
        raise RuntimeError("no text")


class BadTruth:
    def __bool__(self):
        raise ValueError("no truth")


class LongRepr:
    def __repr__(self):
        return "r" * 100

    def __le__(self, other):
        return False

    def __ge__(self, other):
        return False


class TestExpectedTexts:
    @pytest.mark.parametrize(
        ("schema", "value", "code", "expected"),
        [
            (Annotated[int, Ge(0)], -1, "greater_than_equal", ">= 0"),
            (Annotated[str, Ge("b")], "a", "greater_than_equal", ">= 'b'"),
            (Annotated[int, Gt(1)], 1, "greater_than", "> 1"),
            (Annotated[float, Le(2.5)], 3.0, "less_than_equal", "<= 2.5"),
            (Annotated[int, Lt(5)], 5, "less_than", "< 5"),
            (Annotated[list[int], MinLen(3)], [1], "too_short", "length >= 3"),
            (Annotated[str, MaxLen(2)], "abc", "too_long", "length <= 2"),
            (Annotated[int, MultipleOf(3)], 10, "multiple_of", "a multiple of 3"),
            (Annotated[str, Pattern("a+")], "b", "string_pattern_mismatch", 'a string matching "a+"'),
            (
                Annotated[str, Pattern('say "hi"\\n\t')],
                "x",
                "string_pattern_mismatch",
                'a string matching "say \\"hi\\"\\\\n\\t"',
            ),
            (
                Annotated[int, raising(ValueError("bad"))],
                1,
                "predicate_error",
                "a predicate that does not raise (raised ValueError: bad)",
            ),
            (
                Annotated[int, raising(ValueError())],
                1,
                "predicate_error",
                "a predicate that does not raise (raised ValueError: )",
            ),
            (
                Annotated[int, raising(Outer.Boom("x"))],
                1,
                "predicate_error",
                "a predicate that does not raise (raised Outer.Boom: x)",
            ),
            (
                Annotated[int, raising(StrRaises())],
                1,
                "predicate_error",
                "a predicate that does not raise (raised StrRaises: <exception str() failed>)",
            ),
            (
                Annotated[int, lambda v: BadTruth()],
                1,
                "predicate_error",
                "a predicate that does not raise (raised ValueError: no truth)",
            ),
            (Annotated[int, lambda v: 0], 1, "predicate_failed", "a passing predicate"),
            (Annotated[int, lambda v: ""], 1, "predicate_failed", "a passing predicate"),
            (Annotated[Any, Ge(LongRepr())], 1, "greater_than_equal", ">= " + "r" * 80 + "..."),
        ],
    )
    def test_failure_record(self, schema, value, code, expected):
        assert failures(schema, value) == [(code, (), expected, repr(value))]

    def test_record_sits_at_the_value_path(self):
        assert failures({"a": [Annotated[int, Ge(0)]]}, {"a": [1, -2]}) == [
            ("greater_than_equal", ("a", 1), ">= 0", "-2")
        ]

    def test_collect_reports_every_constraint_fail_fast_the_first(self):
        schema = Annotated[int, Ge(10), MultipleOf(3)]
        assert [f[0] for f in failures(schema, 4)] == ["greater_than_equal", "multiple_of"]
        assert [f[0] for f in failures(schema, 4, fail_fast=True)] == ["greater_than_equal"]


class TestVerdicts:
    @pytest.mark.parametrize(
        ("schema", "value", "verdict"),
        [
            (Annotated[int, Ge(0)], 0, True),
            (Annotated[int, Ge(0)], -1, False),
            (Annotated[str, Ge("b")], "c", True),
            (Annotated[str, Ge("b")], "a", False),
            # Python refuses the comparison (TypeError): a failure, not an error.
            (Annotated[Any, Gt(1)], "x", False),
            (Annotated[Any, MinLen(2)], 5, False),
            (Annotated[Any, MinLen(2)], (1, 2), True),
            (Annotated[list[int], MaxLen(0)], [], True),
            (Annotated[list[int], MaxLen(0)], [1], False),
            (Annotated[int, MultipleOf(3)], 9, True),
            (Annotated[int, MultipleOf(3)], 10, False),
            (Annotated[float, MultipleOf(0.5)], 1.5, True),
            # int.__mod__(0.5) answers NotImplemented, which is truthy.
            (Annotated[int, MultipleOf(0.5)], 2, False),
            (Annotated[int, lambda v: [v]], 1, True),
            (Annotated[int, lambda v: 0], 1, False),
            (Annotated[str, Pattern("a+")], "aaa", True),
            (Annotated[str, Pattern("a+")], "aab", False),
            (Annotated[str, Pattern("a+")], "baaa", False),
            (Annotated[str, Pattern("a+")], "", False),
            (Annotated[Any, Pattern("a+")], 5, False),
            (Annotated[str, Pattern("a+")], "\ud800", False),
            (Annotated[str, Pattern(".")], "\ud800", False),
            (Annotated[str, Pattern("a|ab")], "ab", True),
        ],
    )
    def test_membership(self, schema, value, verdict):
        validator = Validator(schema)
        assert validator.is_valid(value) is verdict
        assert (value in validator) is verdict

    def test_non_str_value_for_pattern_is_a_mismatch(self):
        assert failures(Annotated[Any, Pattern("a+")], 5) == [
            ("string_pattern_mismatch", (), 'a string matching "a+"', "5")
        ]

    def test_surrogate_value_for_pattern_is_a_mismatch(self):
        assert [f[0] for f in failures(Annotated[str, Pattern("a+")], "a\ud800")] == [
            "string_pattern_mismatch"
        ]

    def test_shared_pattern_text_checks_alike(self):
        validator = Validator([Annotated[str, Pattern("x+")], Annotated[str, Pattern("x+")]])
        assert validator.is_valid(["xx", "x"])
        assert not validator.is_valid(["xx", "y"])


# Numbers where a native comparison could go wrong: the edges of 64 bits and
# of a double's 53-bit mantissa, signed zeros, infinities and NaN.
EDGE_NUMBERS = [
    0, 1, -1, 2**30, -(2**30), 2**53, 2**53 + 1, -(2**53) - 1, 2**62, 2**63 - 1, 2**63,
    -(2**63), -(2**63) - 1, 2**64, 2**1000, -(2**1000), 0.0, -0.0, 0.5, -0.5, 2.0**53,
    2.0**63, -(2.0**63), 2.0**64, 2.0**1000, 1e308, math.inf, -math.inf, math.nan, True, False,
]


def beside(x):
    """x and its neighbours as int and as float, where they exist."""
    out = [x]
    if not isinstance(x, float) or math.isfinite(x):
        out += [x + 1, x - 1]
    try:
        f = float(x)
    except OverflowError:
        return out
    return out + [f, math.nextafter(f, math.inf), math.nextafter(f, -math.inf)]


NUMBERS = st.one_of(
    st.sampled_from(EDGE_NUMBERS),
    st.integers(),
    st.integers(min_value=-(2**70), max_value=2**70),
    st.floats(),
    st.booleans(),
)
PAIRS = st.one_of(
    st.tuples(NUMBERS, NUMBERS),
    NUMBERS.flatmap(lambda x: st.tuples(st.just(x), st.sampled_from(beside(x)))),
)
# Compared by identity: typing caches Annotated forms by equal metadata, and
# Ge(True) == Ge(1) would hand later tests a bound they never wrote.
BOUNDS = [
    (dataclasses.make_dataclass(name, [attribute], frozen=True, eq=False), op)
    for name, attribute, op in [
        ("Ge", "ge", operator.ge),
        ("Gt", "gt", operator.gt),
        ("Le", "le", operator.le),
        ("Lt", "lt", operator.lt),
    ]
]


class TestNumberBounds:
    # Exact ints and floats are compared without calling Python; the verdict
    # must be Python's own, whatever the sizes and kinds of the two numbers.
    @settings(max_examples=300, deadline=None)
    @given(PAIRS)
    def test_agrees_with_python(self, pair):
        value, bound = pair
        for meta, op in BOUNDS:
            expected = op(value, bound)
            assert Validator(Annotated[Any, meta(bound)]).is_valid(value) is expected
            assert Validator(list[Annotated[Any, meta(bound)]]).is_valid([value]) is expected

    @pytest.mark.parametrize(("meta", "op"), BOUNDS)
    def test_edges_agree_with_python(self, meta, op):
        values = [v for x in EDGE_NUMBERS for v in beside(x)]
        for bound in EDGE_NUMBERS:
            scalar = Validator(Annotated[Any, meta(bound)])
            in_list = Validator(list[Annotated[Any, meta(bound)]])
            for value in values:
                expected = op(value, bound)
                assert scalar.is_valid(value) is expected, (value, bound)
                assert in_list.is_valid([value]) is expected, (value, bound)

    @pytest.mark.parametrize("value", [-1, -1.0, -(2**64), -math.inf, math.nan])
    def test_failures_keep_their_record(self, value):
        assert failures(list[Annotated[Any, BOUNDS[0][0](0)]], [value]) == [
            ("greater_than_equal", (0,), ">= 0", repr(value))
        ]

    def test_subclasses_still_compare_through_python(self):
        calls = []

        class Loud(int):
            def __ge__(self, other):
                calls.append(("value", other))
                return True

        class LoudBound(float):
            def __le__(self, other):
                calls.append(("bound", other))
                return False

        ge = BOUNDS[0][0]
        assert Validator(list[Annotated[int, ge(100)]]).is_valid([Loud(1)])
        assert not Validator(Annotated[Any, ge(LoudBound(0.0))]).is_valid(5)
        assert calls == [("value", 100), ("bound", 5)]


class TestItemRuns:
    # Items of a list and values of a dict are tested against bounds read
    # once for the whole run; every constraint must still count.
    @pytest.mark.parametrize(
        ("value", "verdict"), [([1, 5, 10], True), ([0], False), ([11], False), ([1, -3], False)]
    )
    def test_every_bound_counts_past_four(self, value, verdict):
        ge, gt, le, lt = (meta for meta, _ in BOUNDS)
        schema = list[Annotated[int, ge(0), le(10), gt(-1), lt(11), ge(1)]]
        assert Validator(schema).is_valid(value) is verdict

    def test_other_constraints_still_run_per_item(self):
        seen = []

        def note(value):
            seen.append(value)
            return value != 3

        validator = Validator(list[Annotated[int, BOUNDS[0][0](0), note]])
        assert not validator.is_valid([1, 2, 3, 4])
        assert seen == [1, 2, 3]

    @pytest.mark.parametrize(
        ("value", "verdict"),
        [({"a": 1, "b": 2**70}, True), ({"a": -1}, False), ({"a": 1.5}, False), ({"a": True}, True)],
    )
    def test_dict_values(self, value, verdict):
        assert Validator(dict[str, Annotated[int, BOUNDS[0][0](0)]]).is_valid(value) is verdict

    def test_dict_value_records(self):
        assert failures(dict[str, Annotated[int, BOUNDS[0][0](0)]], {"a": 1, "b": -2}) == [
            ("greater_than_equal", ("b",), ">= 0", "-2")
        ]


class TestPatternsPerConstraint:
    PATTERNS = [f"{chr(ord('a') + i)}+" for i in range(20)]

    def test_each_constraint_uses_its_own_pattern(self):
        items = tuple(Annotated[str, Pattern(p)] for p in self.PATTERNS)
        validator = Validator(tuple[items])
        good = tuple(p[0] * 3 for p in self.PATTERNS)
        assert validator.is_valid(good)
        for i in range(len(good) - 1):
            swapped = good[:i] + (good[i + 1], good[i]) + good[i + 2 :]
            assert not validator.is_valid(swapped)

    def test_two_patterns_on_one_value(self):
        validator = Validator(list[Annotated[str, Pattern("[ab]+"), Pattern("a.*")]])
        assert validator.is_valid(["ab", "a"])
        assert not validator.is_valid(["ba"])
        assert failures(list[Annotated[str, Pattern("[ab]+"), Pattern("a.*")]], ["ba", "c"]) == [
            ("string_pattern_mismatch", (0,), 'a string matching "a.*"', "'ba'"),
            ("string_pattern_mismatch", (1,), 'a string matching "[ab]+"', "'c'"),
            ("string_pattern_mismatch", (1,), 'a string matching "a.*"', "'c'"),
        ]

    def test_copy_outlives_its_original(self):
        original = Validator(list[Annotated[str, Pattern("x+")]])
        assert original.is_valid(["x"])
        duplicate = copy.deepcopy(original)
        del original
        assert duplicate.is_valid(["xx"])
        assert not duplicate.is_valid(["xy"])


class TestPatternWithoutIndex:
    # The decisions test literals with a walk that has no built pattern index,
    # so the pattern is compiled on the spot.
    @pytest.mark.parametrize(
        ("literals", "pattern", "verdict"),
        [(("aaa",), "a+", True), (("aaa",), "b+", False), (("aaa", "ab"), "a+", False)],
    )
    def test_literal_inclusion(self, literals, pattern, verdict):
        validator = Validator(Literal[literals])
        assert validator.is_subtype_of(Annotated[str, Pattern(pattern)]) is verdict


class TestMultipleOfByName:
    def test_reflected_modulo_of_divisor_never_runs(self):
        calls = []

        class Divisor:
            def __rmod__(self, other):
                calls.append(other)
                return 0

        assert not Validator(Annotated[int, MultipleOf(Divisor())]).is_valid(4)
        assert calls == []

    def test_value_method_decides(self):
        class Remainder:
            def __init__(self, remainder):
                self.remainder = remainder

            def __mod__(self, divisor):
                return self.remainder

        validator = Validator(Annotated[Any, MultipleOf(7)])
        assert validator.is_valid(Remainder(0))
        assert not validator.is_valid(Remainder(1))

    def test_raising_modulo_is_a_failure(self):
        assert failures(Annotated[Any, MultipleOf(3)], "text") == [
            ("multiple_of", (), "a multiple of 3", "'text'")
        ]


FATAL = [KeyboardInterrupt, SystemExit, MemoryError, RecursionError]


class TestFatalExceptions:
    @pytest.mark.parametrize("exc", FATAL)
    @pytest.mark.parametrize(
        "entry",
        [
            lambda v, x: v.validate(x),
            lambda v, x: v.validate(x, fail_fast=True),
            lambda v, x: v.is_valid(x),
            lambda v, x: x in v,
            lambda v, x: v.ensure(x),
        ],
    )
    def test_predicate_fatal_exception_propagates(self, exc, entry):
        validator = Validator(Annotated[int, raising(exc("stop"))])
        with pytest.raises(exc):
            entry(validator, 1)

    @pytest.mark.parametrize("exc", FATAL)
    def test_fatal_comparison_propagates(self, exc):
        class Bound:
            def __le__(self, other):
                raise exc("stop")

        with pytest.raises(exc):
            Validator(Annotated[Any, Ge(Bound())]).is_valid(1)

    def test_first_fatal_exception_wins(self):
        validator = Validator(Annotated[int, raising(KeyboardInterrupt()), raising(SystemExit())])
        with pytest.raises(KeyboardInterrupt):
            validator.validate(1)

    def test_fatal_exception_stops_later_items(self):
        seen = []

        def predicate(v):
            seen.append(v)
            if v == 2:
                raise KeyboardInterrupt
            return False

        with pytest.raises(KeyboardInterrupt):
            Validator([Annotated[int, predicate]]).validate([1, 2, 3, 4])
        assert seen == [1, 2]

    def test_ordinary_exception_leaves_nothing_pending(self):
        validator = Validator(Annotated[int, raising(ValueError("bad"))])
        for _ in range(3):
            assert validator.is_valid(1) is False
        assert Validator(int).is_valid(1)
