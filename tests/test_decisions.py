"""is_empty, is_subtype_of and is_equivalent: proofs, refusals, Python failures and the work budget."""

import dataclasses
import enum
import functools
import os
import subprocess
import sys
import textwrap
import decimal
import fractions
import math
from types import SimpleNamespace as NS
from typing import Annotated, Any, Literal, NotRequired, TypedDict

import pytest

import quendrix as q
from enum_cases import (
    EQUAL_TWINS,
    Bits,
    Color,
    Letter,
    Num,
    Perm,
    Signed,
    is_member,
)
from quendrix import Validator as V
from quendrix import complement, intersection, recursive, union


@dataclasses.dataclass
class Bound:
    ge: object = None
    gt: object = None
    le: object = None
    lt: object = None
    min_length: object = None
    max_length: object = None


def ge(x):
    return Bound(ge=x)


def gt(x):
    return Bound(gt=x)


def le(x):
    return Bound(le=x)


def lt(x):
    return Bound(lt=x)


class Base:
    pass


class Derived(Base):
    pass


class RaisingMeta(type):
    def __subclasscheck__(cls, sub):
        raise ValueError("no answer")


class Guarded(metaclass=RaisingMeta):
    pass


@dataclasses.dataclass
class Shape:
    name: str


@dataclasses.dataclass
class Circle(Shape):
    radius: int


@dataclasses.dataclass
class Square(Shape):
    side: bool


class Point(TypedDict):
    x: int
    y: int


class LoosePoint(TypedDict):
    x: int
    y: NotRequired[int]


class Flags(TypedDict):
    a: bool
    b: bool


class Unordered:
    """A bound that answers False to ==, < and > alike."""

    def __eq__(self, other):
        return False

    __lt__ = __gt__ = __eq__
    __hash__ = object.__hash__


class FloorRaises:
    def __floor__(self):
        raise ArithmeticError("no floor")

    __ceil__ = __floor__

    def __lt__(self, other):
        return True

    def __gt__(self, other):
        return False

    def __eq__(self, other):
        return False

    __hash__ = object.__hash__


def fails_with(exc):
    def predicate(value):
        raise exc

    return predicate


def nested_tree(leaf):
    return recursive(lambda t: union(None, tuple[leaf, t]))


class TestEmptiness:
    @pytest.mark.parametrize(
        "make, expected",
        [
            (lambda: intersection(int, str), True),
            (lambda: intersection(int, bool), False),
            (lambda: intersection(list[int], tuple[int, ...]), True),
            (lambda: intersection(dict[str, int], list[int]), True),
            (lambda: intersection(list[int], complement(list[int])), True),
            (lambda: intersection(Any, complement(Any)), False),
            (lambda: V(Annotated[int, ge(5), le(3)]), True),
            (lambda: V(Annotated[int, gt(3), lt(4)]), True),
            (lambda: V(Annotated[float, gt(3), lt(4)]), False),
            (lambda: V(Annotated[int, ge(3), le(3)]), False),
            (lambda: V(Annotated[int, gt(3), le(3)]), True),
            (lambda: V(Annotated[float, ge(3), lt(3.0)]), True),
            (lambda: V(Annotated[str, Bound(min_length=5, max_length=3)]), True),
            (lambda: V(Annotated[str, Bound(min_length=5)]), False),
            (lambda: intersection(Annotated[int, ge(5)], Annotated[int, le(3)]), True),
            (lambda: intersection(int, Annotated[float, gt(3)], Annotated[float, lt(4)]), True),
            (lambda: union(), True),
            (lambda: intersection(), False),
            (lambda: complement(q.anything), True),
            (lambda: complement(q.nothing), False),
            (lambda: complement(Any), False),
            (lambda: complement(union(int, complement(bool))), True),
            (lambda: V(TypedDict("T", {"a": q.nothing})), True),
            (lambda: V(TypedDict("T", {"a": NotRequired[q.nothing]})), False),
            (lambda: V(tuple[int, q.nothing]), True),
            (lambda: V(list[q.nothing]), False),
            (lambda: V(dict[str, q.nothing]), False),
            (lambda: recursive(lambda t: tuple[t]), True),
            (lambda: recursive(lambda t: union(None, tuple[t])), False),
            (lambda: recursive(lambda t: tuple[int, t]) | None, False),
        ],
    )
    def test_is_empty(self, make, expected):
        assert make().is_empty() is expected

    @pytest.mark.parametrize(
        "bounds, expected",
        [
            ((ge(1.2), le(1.8)), True),
            ((gt(1), lt(2)), True),
            ((gt(1), lt(3)), False),
            ((ge(0.5), le(1)), False),
            ((ge(decimal.Decimal("1.2")), le(decimal.Decimal("1.8"))), True),
            ((gt(fractions.Fraction(1, 3)), lt(fractions.Fraction(2, 3))), True),
            ((ge("a"), le(3)), False),
            ((ge(Unordered()), le(Unordered())), False),
            ((ge(FloorRaises()), le(3)), False),
        ],
    )
    def test_integer_gaps(self, bounds, expected):
        assert V(Annotated[int, *bounds]).is_empty() is expected

    @pytest.mark.parametrize(
        "make",
        [
            lambda a, b: V(Annotated[str, Bound(min_length=5, max_length=3), ge(a), ge(b)]),
            lambda a, b: intersection(
                Annotated[str, ge(a), Bound(min_length=5)], Annotated[str, ge(b), Bound(max_length=3)]
            ),
        ],
        ids=["refinement", "intersection"],
    )
    def test_contradicting_lengths_compare_no_bounds(self, make):
        compared = []

        class Noisy:
            def __eq__(self, other):
                compared.append(self)
                return False

            __lt__ = __gt__ = __eq__
            __hash__ = object.__hash__

        assert make(Noisy(), Noisy()).is_empty() is True
        assert compared == []


class TestSubtype:
    @pytest.mark.parametrize(
        "a, b, expected",
        [
            (bool, int, True),
            (int, bool, False),
            (int, Any, False),
            (int, object, True),
            (Any, object, True),
            (q.nothing, list[int], True),
            (dict[str, int], q.anything, True),
            (Literal[3], int, True),
            (Literal[3], Any, True),
            (Literal[1], Literal[True], False),
            (Literal[1, 2], Literal[2, 1, 3], True),
            (Literal[1, 4], Literal[2, 1, 3], False),
            (Point, LoosePoint, True),
            (LoosePoint, Point, False),
            (Flags, dict[str, int], True),
            (dict[Any, Any], dict[str, int], False),
            (dict[str, bool], dict[str, int], True),
            (Point, dict[str, bool], False),
            (list[bool], list[int], True),
            (list[int], tuple[int, ...], False),
            (tuple[int, int], tuple[int, ...], True),
            (tuple[int, ...], tuple[int, int], False),
            (tuple[bool, int], tuple[int, int], True),
            (tuple[int], tuple[int, int], False),
            (set[bool], set[int], True),
            (frozenset[bool], set[int], False),
            (Derived, Base, True),
            (Base, Derived, False),
            (Derived, Guarded, False),
            (Circle, Shape, True),
            (Circle, Base, False),
            (Square, Circle, False),
            (Annotated[int, gt(5)], Annotated[int, ge(5)], True),
            (Annotated[int, ge(5)], Annotated[int, gt(5)], False),
            (Annotated[int, ge(5), le(9)], Annotated[int, ge(1)], True),
            (Annotated[bool, le(1)], Annotated[int, lt(2)], True),
            (Annotated[int, ge(1)], int, True),
            (int, Annotated[int, ge(1)], False),
            (Annotated[str, Bound(min_length=3)], Annotated[str, Bound(min_length=2)], True),
            (Annotated[str, Bound(min_length=2)], Annotated[str, Bound(min_length=3)], False),
            (int, complement(str), True),
            (complement(int), complement(bool), True),
            (complement(bool), complement(int), False),
            (complement(list[int]), complement(list[bool]), True),
            (complement(list[bool]), complement(list[int]), False),
            (list[int], complement(tuple[int, ...]), True),
            (list[int], complement(list[bool]), False),
            (union(int, str), union(str, int, None), True),
            (union(int, str), union(str, float), False),
            (intersection(int, complement(bool)), complement(bool), True),
            (intersection(list[int], str), bool, True),
        ],
    )
    def test_is_subtype_of(self, a, b, expected):
        assert V(a).is_subtype_of(b) is expected

    def test_equal_divisors_that_are_distinct_objects_imply_nothing(self):
        three, other_three = Bound(), Bound()
        three.multiple_of, other_three.multiple_of = 3, 3.0
        assert V(Annotated[int, three]).is_subtype_of(Annotated[int, three])
        assert not V(Annotated[int, three]).is_subtype_of(Annotated[int, other_three])

    def test_recursive_schema_within_wider_one(self):
        narrow, wide = nested_tree(bool), nested_tree(int)
        assert narrow.is_subtype_of(wide)
        assert not wide.is_subtype_of(narrow)

    def test_literal_against_predicate_runs_it(self):
        seen = []

        def positive(value):
            seen.append(value)
            return value > 0

        assert V(Literal[3]).is_subtype_of(Annotated[int, positive])
        assert not V(Literal[-3]).is_subtype_of(Annotated[int, positive])
        assert seen == [3, -3]

    def test_literal_against_bound_refinement(self):
        assert V(Literal[3]).is_subtype_of(Annotated[int, ge(1)])
        assert not V(Literal[0]).is_subtype_of(Annotated[int, ge(1)])


class TestEquivalence:
    @pytest.mark.parametrize(
        "a, b, expected",
        [
            (union(bool, int), int, True),
            (Any, object, False),
            (intersection(int), int, True),
            (complement(complement(int)), int, True),
            (complement(int), complement(bool), False),
            (union(list[int], str), union(str, list[int]), True),
            (Point, LoosePoint, False),
        ],
    )
    def test_is_equivalent(self, a, b, expected):
        assert V(a).is_equivalent(b) is expected

    def test_recursive_definitions_compared_structurally(self):
        assert nested_tree(int).is_equivalent(nested_tree(int))


def positive_sign(x):
    return math.copysign(1, x) > 0


class EqualsAnything:
    def __eq__(self, other):
        return True

    __hash__ = object.__hash__


ANY_EQUAL = EqualsAnything()


class TestLiteralsStandForTheirEquals:
    """A literal holds every value of its exact type equal to it, not only the pooled one."""

    @pytest.mark.parametrize(
        "a, b",
        [
            (frozenset({1.0}), frozenset[float]),  # frozenset({1}) is in the left only
            (0.0, Annotated[float, positive_sign]),  # -0.0 is in the left only
            (Literal[-0.0], Annotated[float, lambda x: not positive_sign(x)]),
            (Literal[ANY_EQUAL], Annotated[EqualsAnything, lambda x: x is ANY_EQUAL]),
        ],
    )
    def test_no_inclusion_from_the_pooled_value_alone(self, a, b):
        assert V(a).is_subtype_of(b) is False
        assert V(a).is_equivalent(intersection(a, b)) is False

    def test_frozenset_intersection_is_not_the_literal(self):
        both = intersection(frozenset({1.0}), frozenset[float])
        assert V(frozenset({1.0})).is_valid(frozenset({1})) and not both.is_valid(frozenset({1}))
        assert both.is_equivalent(frozenset({1.0})) is False

    @pytest.mark.parametrize(
        "a, b",
        [
            (Literal[3], int),
            (Literal[True], int),
            (Literal["a"], str),
            (Literal[b"a"], bytes),
            (Literal[None], None),
            (1.5, float),
            (1.5, Annotated[float, positive_sign]),
            (Literal[float("inf")], Annotated[float, positive_sign]),
        ],
    )
    def test_interchangeable_equals_keep_their_proofs(self, a, b):
        assert V(a).is_subtype_of(b) is True


class TestEnumMembersStandAlone:
    """A member is its class's only value equal to it, unless a hook of the class's own says otherwise."""

    @pytest.mark.parametrize(
        "member, b",
        [
            (Color.RED, Color),
            (Color.RED, Any),
            (Num.ONE, int),
            (Num.ONE, Annotated[Num, is_member(Num.UNO)]),  # UNO is an alias of ONE
            (Color.CRIMSON, Annotated[Color, is_member(Color.RED)]),  # the same object
            (Letter.A, str),
            (Letter.A, Annotated[Letter, is_member(Letter.A)]),
            (Perm.R | Perm.W, Annotated[Perm, is_member(Perm(3))]),
            (Bits.R | Bits.W, int),
            (Bits(8), Annotated[Bits, is_member(Bits(8))]),
            (Signed.ZERO, Annotated[float, positive_sign]),  # -0.0 is the same member
            (Signed.HALF, float),
        ],
    )
    def test_member_proves_its_literal(self, member, b):
        assert V(Literal[member]).is_subtype_of(b) is True
        assert V(Literal[member]).is_equivalent(intersection(Literal[member], b)) is True

    @pytest.mark.parametrize("twin, other", EQUAL_TWINS)
    def test_equal_twin_leaves_the_literal_unproven(self, twin, other):
        only_twin = Annotated[object, is_member(twin)]
        assert V(Literal[twin]).is_valid(other) and not V(only_twin).is_valid(other)
        assert V(Literal[twin]).is_subtype_of(only_twin) is False
        # The same question of a plain member with the same base is proven.
        plain = Num.ONE if isinstance(twin, int) else Color.RED
        assert V(Literal[plain]).is_subtype_of(Annotated[object, is_member(plain)]) is True

    @pytest.mark.parametrize(
        "stranger, member, b",
        [
            (0.0, Signed.ZERO, Annotated[float, positive_sign]),
            (-0.0, Signed.ZERO, Annotated[float, lambda x: repr(x) != "0.0"]),
            (ANY_EQUAL, Color.RED, Annotated[object, lambda x: x is ANY_EQUAL or x is Color.RED]),
        ],
    )
    def test_strangers_stay_unproven_beside_a_member(self, stranger, member, b):
        assert V(Literal[stranger]).is_subtype_of(b) is False
        assert V(Literal[member]).is_subtype_of(b) is True

    @pytest.mark.parametrize(
        "member, plain", [(Num.ONE, 1), (Letter.A, "a"), (Bits(8), 8), (Signed.HALF, 0.5)]
    )
    def test_member_and_its_plain_value_stay_apart(self, member, plain):
        assert V(Literal[member]).is_subtype_of(type(plain)) is True
        assert V(Literal[plain]).is_subtype_of(Literal[member]) is False
        assert V(Literal[member]).is_subtype_of(Literal[plain]) is False


# Values of many kinds, with equal ones that are distinct objects: a literal
# of each is asked against a literal of each other.
LITERAL_VALUES = [
    1, 10**20, int("1" + "0" * 20), True, False, 0, "a", "".join(["a", "b"]), "ab", b"a", None,
    1.5, float("1.5"), 0.0, -0.0, Color.RED, Color.BLUE, Num.ONE, Num.TWO, Letter.A,
    Perm.R | Perm.W, Bits(8), Signed.ZERO, Signed.HALF, *EQUAL_TWINS[0], *EQUAL_TWINS[1],
    ANY_EQUAL,
]


def is_sole(value):
    """Whether a literal of `value` speaks for every value equal to it."""
    if isinstance(value, enum.Enum):
        return value not in (*EQUAL_TWINS[0], *EQUAL_TWINS[1])
    return type(value) in (int, bool, str, bytes) or (type(value) is float and value != 0)


class TestLiteralAgainstLiteral:
    """A literal asked against another literal answers as the walk of its value against that
    literal does, which a refinement with a predicate that holds makes the decision take."""

    @pytest.mark.parametrize("x", LITERAL_VALUES, ids=repr)
    def test_answers_as_the_walk(self, x):
        # union() of one value pools that very object (typing's Literal would
        # keep one object of equal values).
        proven = 0
        for y in LITERAL_VALUES:
            if y is x:
                continue  # one pooled object: the nodes themselves are equal
            calls = []
            walked = Annotated[union(y), lambda value: calls.append(value) or True]
            direct = V(union(x)).is_subtype_of(union(y))
            assert direct is V(union(x)).is_subtype_of(walked), (x, y)
            # The predicate met the literal only where the walk found it equal.
            assert calls == ([x] if direct else [])
            proven += direct
        assert proven == sum(y is not x and type(y) is type(x) and y == x and is_sole(x)
                             for y in LITERAL_VALUES)

    def test_an_enum_class_changed_by_a_predicate_is_read_again(self):
        mood = enum.IntEnum("Mood", ["CALM", "GLAD"])

        def holds(value):
            return True

        def adds_an_eq(value):
            mood.__eq__ = lambda self, other: int.__eq__(self, other)
            return True

        def right(first_predicate):
            return union(Annotated[Literal[mood.CALM], first_predicate],
                         Annotated[Literal[mood.GLAD], holds])

        left = V(Literal[mood.CALM, mood.GLAD])
        assert left.is_subtype_of(right(holds)) is True
        # The predicate runs at CALM's question; from then on the class compares
        # by an __eq__ of its own, so GLAD's literal speaks for no set of values.
        assert left.is_subtype_of(right(adds_an_eq)) is False
        assert left.is_subtype_of(right(holds)) is False


class TestPythonFailuresStayInside:
    @pytest.mark.parametrize(
        "exc",
        [ValueError("bad"), MemoryError(), RecursionError(), KeyboardInterrupt()],
        ids=["ordinary", "memory", "recursion", "interrupt"],
    )
    @pytest.mark.parametrize("wrap", [lambda s: s, complement], ids=["plain", "complement"])
    def test_predicate_failure_answers_false(self, exc, wrap):
        other = wrap(V(Annotated[bool, fails_with(exc)]))
        assert V(Literal[True]).is_subtype_of(other) is False
        assert V(Literal[True]).is_equivalent(other) is False

    def test_raising_subclass_hook(self):
        assert V(Derived).is_subtype_of(Guarded) is False

    def test_equality_that_raises_on_the_literal(self):
        class Touchy:
            def __eq__(self, other):
                raise MemoryError

            __hash__ = object.__hash__

        value = Touchy()
        assert V(Literal[value]).is_subtype_of(Literal[value]) is True  # the same node
        assert V(Literal[value]).is_subtype_of(union(int, Literal[value])) is True
        assert V(Literal[value]).is_subtype_of(Literal[Touchy()]) is False


class TestPreparation:
    @pytest.mark.parametrize("method", ["is_subtype_of", "is_equivalent"])
    def test_compile_error_raises_unchanged(self, method):
        with pytest.raises(NotImplementedError, match="a tuple literal is not a schema"):
            getattr(V(int), method)((1, 2))

    @pytest.mark.parametrize(
        "call, text",
        [
            (lambda v: v.is_subtype_of(), "Validator.is_subtype_of() missing 1 required positional argument: 'other'"),
            (lambda v: v.is_equivalent(int, str), "Validator.is_equivalent() takes 1 positional"),
            (lambda v: v.is_empty(int), "is_empty() takes no arguments (1 given)"),
        ],
    )
    def test_argument_errors(self, call, text):
        with pytest.raises(TypeError) as info:
            call(V(int))
        assert text in str(info.value)

    def test_other_by_keyword_and_as_validator(self):
        assert V(bool).is_subtype_of(other=V(int))

    def test_other_is_not_held_to_the_node_limit(self):
        huge = Literal[tuple(range(q.MAX_SCHEMA_NODES + 10))]
        with pytest.raises(ValueError):
            V(huge)
        assert V(Literal[5]).is_subtype_of(huge)

    def test_other_sees_pooled_objects_and_definitions_of_self(self):
        tree = nested_tree(Derived)
        assert tree.is_subtype_of(tree | int)
        assert tree.is_subtype_of(nested_tree(Base))


class TestBudget:
    @pytest.mark.parametrize("size, expected", [(300, True), (1500, False)])
    def test_literal_unions_within_and_past_the_budget(self, size, expected):
        # Distinct int objects: the two unions are never structurally equal,
        # so each member is searched for among the other side's members.
        values = [10**6 + i for i in range(size)]
        left = union(*[Literal[v] for v in values])
        right = union(*[Literal[int(str(v))] for v in values])
        assert left.is_equivalent(right) is expected

    def test_both_directions_of_equivalence_share_one_budget(self):
        values = [10**6 + i for i in range(450)]
        left = union(*[Literal[v] for v in values])
        right = union(*[Literal[int(str(v))] for v in values])
        # Each inclusion fits the budget alone; the two together do not.
        assert left.is_subtype_of(right) and right.is_subtype_of(left)
        assert left.is_equivalent(right) is False

    def test_large_equal_schema_is_cheap(self):
        v = union(*range(q.MAX_SCHEMA_NODES - 1))
        assert v.is_subtype_of(v)
        assert v.is_equivalent(v)


def complements_of(values):
    return [complement(Literal[v]) for v in values]


def wide_with(first, second, count, placed):
    """complement(Literal[i]) for `count` values of i, with `first` and `second` inserted:
    both first, at either end, in the middle, or `second` first."""
    members = complements_of(range(count))
    at_first, at_second = {
        "adjacent": (0, 1),
        "apart": (0, count + 1),
        "middle": (count // 2, count // 2 + 1),
        "reversed": (count, 0),
    }[placed]
    members.insert(at_first, first)
    members.insert(at_second, second)
    return intersection(*members)


class TestWideIntersections:
    """Among many members, a member beside its complement or two members of disjoint base kinds
    decide emptiness wherever they stand; the answers are those of testing every pair."""

    @pytest.mark.parametrize("placed", ["adjacent", "apart", "middle", "reversed"])
    @pytest.mark.parametrize("count", [6, 7, 40])
    @pytest.mark.parametrize(
        "first, second, expected",
        [
            (int, str, True),
            (int, bool, False),
            (int, Literal[3], True),  # beside complement(Literal[3])
            (int, Literal[40], False),  # no member complements it
            (int, Literal["3"], False),
            (list[tuple[int, str]], complement(list[tuple[int, str]]), True),
            (list[tuple[int, str]], complement(list[tuple[int, bytes]]), False),
            (Any, complement(Any), False),
            (list[int], tuple[int, ...], True),
            (set[int], frozenset[int], True),
            (Annotated[int, ge(1)], str, True),
            (Annotated[bool, ge(0)], int, False),
            (float, q.nothing, True),
            (dict[str, int], complement(Literal[3]), False),
        ],
    )
    def test_is_empty(self, first, second, count, placed, expected):
        assert wide_with(first, second, count, placed).is_empty() is expected

    # Literals are told apart by their pooled objects, so `extra` takes its
    # value from the list itself.
    @pytest.mark.parametrize(
        "values, extra, expected",
        [
            ([i % 5 for i in range(60)], lambda vs: Literal[vs[3]], True),
            ([i % 5 for i in range(60)], lambda vs: Literal[5], False),
            ([str(i) for i in range(60)], lambda vs: Literal[vs[59]], True),
            ([str(i) for i in range(60)], lambda vs: Literal[59], False),
        ],
    )
    def test_repeated_and_string_complements(self, values, extra, expected):
        assert intersection(*complements_of(values), extra(values)).is_empty() is expected
        assert intersection(extra(values), *complements_of(values)).is_empty() is expected

    @pytest.mark.parametrize("n", [1, 2, 50])
    @pytest.mark.parametrize(
        "method, other, expected",
        [
            ("is_subtype_of", int, True),
            ("is_subtype_of", str, False),
            ("is_subtype_of", complement(str), True),
            ("is_subtype_of", complement(Literal[0]), True),  # a member is that complement
            ("is_subtype_of", complement(Literal[-1]), False),  # not shown
            ("is_subtype_of", complement(Literal["0"]), False),
            ("is_equivalent", int, False),
            ("is_subtype_of", q.nothing, False),
        ],
    )
    def test_inclusions(self, n, method, other, expected):
        v = intersection(*complements_of(range(n)), int)
        assert getattr(v, method)(other) is expected

    @pytest.mark.parametrize("n", [1, 2, 50])
    def test_equivalent_to_itself_and_its_rebuild(self, n):
        v = intersection(*complements_of(range(n)), int)
        assert v.is_equivalent(v) is True
        assert v.is_equivalent(intersection(*complements_of(range(n)), int)) is True
        # Each side within every member of the other, member by member.
        assert v.is_equivalent(intersection(int, *complements_of(range(n)))) is True
        assert v.is_equivalent(intersection(*complements_of(range(n + 1)), int)) is False


def named(n):
    """n str literals, and the same with the last or the first replaced: equal literals share
    their pooled objects, so the three differ exactly where the replacement stands."""
    names = [f"s{i}" for i in range(n)]
    return (Literal[tuple(names)], Literal[tuple(names[:-1] + ["other"])],
            Literal[tuple(["other"] + names[1:])])


def optional_fields(n, total):
    return TypedDict("Fields", {f"f{i}": int for i in range(n)} | {"x": int}, total=total)


@functools.cache
def many_attributes(n):
    return dataclasses.make_dataclass(f"Many{n}", [(f"a{i}", int) for i in range(n)])


@functools.cache
def one_attribute(n):
    return dataclasses.make_dataclass(f"One{n}", [("a0", bool)])


def every_other_required(n):
    return TypedDict("Half", {f"f{i}": (int if i % 2 else NotRequired[int]) for i in range(n)})


def lists_against(n, which):
    """Literals in a list beside the complement of a list whose literals differ from them at the
    end, at the start, or nowhere."""
    first = named(n)[0]
    other = {"end": named(n)[1], "start": named(n)[2], "nowhere": first}[which]
    return [list[first], complement(list[other])]


def third_fields(n, total=True):
    return TypedDict("Third", {f"f{i}": bool for i in range(0, n, 3)}, total=total)


def emptied_fields(n, total):
    return TypedDict("Emptied", {f"f{i}": int for i in range(n)} | {"x": q.nothing}, total=total)


def small_records(n):
    return union(*[{"x": Literal[i]} for i in range(n)])


# (left, method, right) at a width n, with the answer at every width: each
# shape meets one large tree again at many steps of one decision.
LARGE_TREES_MET_AGAIN = [
    pytest.param(
        lambda n: (Literal[tuple(range(n))], "is_subtype_of",
                   intersection(*lists_against(n, "end")) | int),
        True, id="literals-against-lists-differing-at-the-end"),
    pytest.param(
        lambda n: (Literal[tuple(range(n))], "is_subtype_of",
                   intersection(*lists_against(n, "nowhere")) | int),
        True, id="literals-against-a-list-and-its-complement"),
    pytest.param(
        lambda n: (intersection(*complements_of(range(9)), *lists_against(n, "start")),
                   "is_empty", None),
        False, id="wide-intersection-of-lists-differing-at-the-start"),
    pytest.param(
        lambda n: (intersection(*complements_of(range(9)), *lists_against(n, "nowhere")),
                   "is_empty", None),
        True, id="wide-intersection-of-a-list-and-its-complement"),
    pytest.param(lambda n: (list[named(n)[0]], "is_equivalent", list[named(n)[0]]),
                 True, id="equal-lists"),
    pytest.param(lambda n: (list[named(n)[0]], "is_equivalent", list[named(n)[1]]),
                 False, id="lists-differing-at-the-end"),
    pytest.param(
        lambda n: (union(*[intersection(Literal[i], q.nothing) for i in range(n)], Literal[0]),
                   "is_subtype_of", union(*[intersection(int)] * n, list[int])),
        True, id="empty-members-against-a-long-prefix-of-masks"),
    pytest.param(
        lambda n: (union(*[intersection(int)] * n), "is_equivalent",
                   union(*[complement(str)] * n)),
        False, id="masks-read-through-many-members"),
    pytest.param(
        lambda n: (union(*[tuple[Literal[i]] for i in range(n)]), "is_subtype_of",
                   union(tuple[(q.nothing,) + (int,) * n], tuple[int])),
        True, id="short-tuples-against-a-long-empty-one"),
    pytest.param(
        lambda n: (tuple[(int,) * n], "is_subtype_of",
                   union(*[tuple[Literal[i]] for i in range(n)], tuple[int, ...])),
        True, id="a-long-tuple-against-short-ones"),
    pytest.param(lambda n: (tuple[int, ...], "is_subtype_of", tuple[(int,) * n]),
                 False, id="an-open-tuple-against-a-long-one"),
    pytest.param(lambda n: (small_records(n), "is_subtype_of", optional_fields(n, False)),
                 True, id="small-records-against-many-optional-fields"),
    pytest.param(lambda n: (small_records(n), "is_subtype_of", optional_fields(n, True)),
                 False, id="small-records-against-many-required-fields"),
    pytest.param(lambda n: (optional_fields(n, False), "is_subtype_of", small_records(n)),
                 False, id="many-optional-fields-against-small-records"),
    pytest.param(lambda n: (every_other_required(n), "is_subtype_of", optional_fields(n, False)),
                 True, id="every-other-field-required-against-optional-ones"),
    pytest.param(lambda n: (optional_fields(n, False), "is_subtype_of", every_other_required(n)),
                 False, id="optional-fields-against-every-other-required"),
    pytest.param(
        lambda n: (every_other_required(n), "is_subtype_of",
                   union(dict[Literal["f0"], bool], dict[str, int])),
        True, id="every-other-field-required-against-dicts"),
    pytest.param(lambda n: (dict[str, int], "is_subtype_of", optional_fields(n, False)),
                 False, id="a-dict-against-many-optional-fields"),
    pytest.param(lambda n: (dict[str, bool], "is_subtype_of", third_fields(n, False)),
                 False, id="a-dict-against-every-third-field"),
    pytest.param(lambda n: (third_fields(n), "is_subtype_of", optional_fields(n, False)),
                 True, id="every-third-field-against-many-optional-fields"),
    pytest.param(lambda n: (emptied_fields(n, True), "is_empty", None),
                 True, id="many-required-fields-one-empty"),
    pytest.param(lambda n: (emptied_fields(n, False), "is_empty", None),
                 False, id="many-optional-fields-one-empty"),
    pytest.param(
        lambda n: (many_attributes(n), "is_subtype_of",
                   union(one_attribute(n), many_attributes(n))),
        True, id="many-attributes-against-one-and-themselves"),
    pytest.param(lambda n: (one_attribute(n), "is_subtype_of", many_attributes(n)),
                 False, id="one-attribute-against-many"),
    pytest.param(lambda n: (many_attributes(n), "is_subtype_of", one_attribute(n)),
                 False, id="many-attributes-against-one"),
]


class TestLargeTreesMetAgain:
    """A decision that meets the same large trees at many of its steps: each step costs the same
    however large they are, and the answers are those of comparing the trees in full."""

    @pytest.mark.parametrize("n", [1, 3, 9, 30])
    @pytest.mark.parametrize("build, expected", LARGE_TREES_MET_AGAIN)
    def test_answers(self, build, expected, n):
        left, method, right = build(n)
        decide = getattr(V(left), method)
        assert (decide() if right is None else decide(right)) is expected


def walked_again(n, predicate):
    """Literals on the left, each walked against one tree on the right, as (left, right) by name."""
    ints = Literal[tuple(range(n))]
    texts = Literal[tuple(f"a{i}" for i in range(n))]
    every = "|".join(f"a{i}" for i in range(n))
    all_but_last = every.rsplit("|", 1)[0] if n > 1 else "b"
    return {
        "ints-in-a-refined-union": (ints, Annotated[ints, predicate]),
        "ints-in-a-refined-union-lacking-the-last":
            (ints, Annotated[Literal[tuple(range(n - 1)) or (-1,)], predicate]),
        "ints-in-a-refined-union-lacking-the-first":
            (ints, Annotated[Literal[tuple(range(1, n)) or (-1,)], predicate]),
        "ints-in-a-refined-union-of-texts-and-int": (ints, Annotated[union(texts, int), predicate]),
        "texts-in-a-refined-union": (texts, Annotated[texts, predicate]),
        "texts-in-a-pattern": (texts, Annotated[str, NS(pattern=every), predicate]),
        "texts-in-a-pattern-lacking-the-last":
            (texts, Annotated[str, NS(pattern=all_but_last), predicate]),
        "ints-in-a-refined-recursive-union":
            (ints, Annotated[recursive(lambda s: union(list[s], ints)), predicate]),
    }


class TestLiteralsWalkedAgainstOneTree:
    """Each literal on the left is walked against the same tree on the right: a wide union of
    literals or a long pattern is looked up, not scanned or compiled again, and the walks give
    the answers and run the predicates they ran before, in the same order."""

    @pytest.mark.parametrize("n", [1, 3, 9, 30])
    @pytest.mark.parametrize(
        "name, expected, passing",
        [
            ("ints-in-a-refined-union", True, "all"),
            ("ints-in-a-refined-union-lacking-the-last", False, "all but the last"),
            ("ints-in-a-refined-union-lacking-the-first", False, "none"),
            ("ints-in-a-refined-union-of-texts-and-int", True, "all"),
            ("texts-in-a-refined-union", True, "all"),
            ("texts-in-a-pattern", True, "all"),
            ("texts-in-a-pattern-lacking-the-last", False, "all but the last"),
            ("ints-in-a-refined-recursive-union", True, "all"),
        ],
    )
    def test_answers_and_predicate_calls(self, name, expected, passing, n):
        calls = []

        def predicate(x):
            calls.append(x)
            return True

        left, right = walked_again(n, predicate)[name]
        assert V(left).is_subtype_of(right) is expected
        # The predicate meets the literals, in order, up to the first the base refuses.
        values = list(left.__args__)
        assert calls == {"all": values, "all but the last": values[:-1], "none": []}[passing]


class TestNativeStack:
    def test_deep_coinductive_proof_on_a_small_thread_stack(self):
        # Two recursive lists whose cycles differ by one level drive the proof
        # thousands of steps deep; on a 256 KiB thread it must answer, not crash.
        code = textwrap.dedent(
            """
            import threading
            import quendrix as q

            def nest(s, k):
                for _ in range(k):
                    s = list[s]
                return s

            e = q.recursive(lambda s: nest(s, 63) | None)
            d = q.recursive(lambda s: nest(s, 62) | None)
            answers = []
            threading.stack_size({stack_kib} * 1024)
            t = threading.Thread(target=lambda: answers.extend([e.is_subtype_of(d), d.is_equivalent(e)]))
            t.start()
            t.join()
            print(answers)
            """
        )
        # Sanitizer builds grow every native frame several times over.
        stack_kib = 4096 if "asan" in os.environ.get("LD_PRELOAD", "") else 256
        code = code.replace("{stack_kib}", str(stack_kib))
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
        assert done.returncode == 0, done.stderr
        assert done.stdout.strip() == "[False, False]"
