"""Soundness of the decisions against the walk: random schemas, random values, no proof ever contradicted."""

import dataclasses
import os
from typing import Annotated, Any, Literal

from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st

import enum_cases
import quendrix as q
from quendrix import Validator as V

EXAMPLES = int(os.environ.get("QX_PROPERTY_EXAMPLES", "300"))
SETTINGS = settings(
    max_examples=EXAMPLES,
    deadline=None,
    suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
)


@dataclasses.dataclass
class Bound:
    ge: object = None
    le: object = None


HASHABLE = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(-3, 3),
    st.sampled_from([0.0, 1.5, -2.0, 2.5]),
    st.sampled_from(["", "a", "ab"]),
    st.just(b"x"),
)
VALUES = st.recursive(
    HASHABLE,
    lambda inner: st.one_of(
        st.lists(inner, max_size=3),
        st.lists(inner, max_size=3).map(tuple),
        st.dictionaries(st.sampled_from(["a", "b", 1]), inner, max_size=3),
        st.frozensets(HASHABLE, max_size=3),
    ),
    max_leaves=6,
)
LITERALS = [0, 1, 2, True, False, "a", b"x", 1.5]
NUMBERS = [-1, 0, 1, 2, 1.5, 2.5, None]
PLAIN = {
    "int": (int, st.integers(-3, 3) | st.booleans()),
    "bool": (bool, st.booleans()),
    "float": (float, st.sampled_from([0.0, 1.5, -2.0])),
    "str": (str, st.sampled_from(["", "a"])),
    "bytes": (bytes, st.just(b"x")),
    "None": (None, st.none()),
    "Any": (Any, VALUES),
    "object": (object, VALUES),
    "nothing": (q.nothing, VALUES),
}

# A schema is drawn as a printable recipe (nested tuples); `build` turns it
# into a spec and `members` into a strategy for values likely to belong to
# it, so that inclusions are tested on members and not only on strangers.
RECIPES = st.recursive(
    st.one_of(
        st.sampled_from(sorted(PLAIN)).map(lambda name: ("plain", name)),
        st.sampled_from(LITERALS).map(lambda v: ("literal", v)),
        st.tuples(st.just("bounded"), st.sampled_from(["int", "float"]),
                  st.sampled_from(NUMBERS), st.sampled_from(NUMBERS)),
    ),
    lambda inner: st.one_of(
        st.tuples(st.sampled_from(["list", "tuple_of", "dict_of", "complement", "frozenset"]), inner),
        st.tuples(st.sampled_from(["pair", "union", "intersection"]), inner, inner),
        st.tuples(st.just("record"), inner, inner, st.booleans()),
    ),
    max_leaves=8,
)


def build(recipe):
    kind, *args = recipe
    if kind == "plain":
        return PLAIN[args[0]][0]
    if kind == "literal":
        return Literal[args[0]]
    if kind == "bounded":
        return Annotated[int if args[0] == "int" else float, Bound(ge=args[1], le=args[2])]
    parts = [build(a) for a in args if isinstance(a, tuple)]
    if kind == "record":
        return {"a": parts[0], "b?" if args[2] else "b": parts[1]}
    return {
        "list": lambda x: list[x],
        "tuple_of": lambda x: tuple[x, ...],
        "dict_of": lambda x: dict[str, x],
        "complement": q.complement,
        "frozenset": lambda x: frozenset[x],
        "pair": lambda x, y: tuple[x, y],
        "union": q.union,
        "intersection": q.intersection,
    }[kind](*parts)


def members(recipe):
    kind, *args = recipe
    if kind == "plain":
        return PLAIN[args[0]][1]
    if kind == "literal":
        return st.just(args[0])
    if kind == "bounded":
        return st.integers(-3, 3) if args[0] == "int" else st.sampled_from([-2.0, 0.5, 1.5, 2.0, 3.0])
    inner = [members(a) for a in args if isinstance(a, tuple)]
    if kind == "list":
        return st.lists(inner[0], max_size=3)
    if kind == "tuple_of":
        return st.lists(inner[0], max_size=3).map(tuple)
    if kind == "dict_of":
        return st.dictionaries(st.sampled_from(["a", "b"]), inner[0], max_size=2)
    if kind == "complement":
        return inner[0] | VALUES
    if kind == "frozenset":
        return st.frozensets(HASHABLE, max_size=2)
    if kind == "pair":
        return st.tuples(inner[0], inner[1])
    if kind in ("union", "intersection"):
        return inner[0] | inner[1]
    return st.fixed_dictionaries({"a": inner[0]}, optional={"b": inner[1]}) | st.fixed_dictionaries(
        {"a": inner[0], "b": inner[1]}
    )


def drawn_values(data, *recipes):
    values = data.draw(st.lists(VALUES, max_size=6))
    for recipe in recipes:
        values += data.draw(st.lists(members(recipe), max_size=6))
    return values


class TestSoundness:
    @SETTINGS
    @given(a=RECIPES, b=RECIPES, data=st.data())
    def test_subtype_keeps_members(self, a, b, data):
        left, right = V(build(a)), V(build(b))
        assert left.is_subtype_of(build(a))
        if not left.is_subtype_of(build(b)):
            return
        event("inclusion proven")
        for value in drawn_values(data, a, b):
            if left.is_valid(value):
                assert right.is_valid(value), value

    @SETTINGS
    @given(a=RECIPES, data=st.data())
    def test_empty_has_no_member(self, a, data):
        schema = V(build(a))
        if not schema.is_empty():
            return
        event("emptiness proven")
        for value in drawn_values(data, a):
            assert not schema.is_valid(value), value

    @SETTINGS
    @given(a=RECIPES, b=RECIPES, data=st.data())
    def test_equivalent_agrees_on_every_value(self, a, b, data):
        left, right = V(build(a)), V(build(b))
        assert left.is_equivalent(build(a))
        if not left.is_equivalent(build(b)):
            return
        event("equivalence proven")
        for value in drawn_values(data, a, b):
            assert left.is_valid(value) == right.is_valid(value), value

    @SETTINGS
    @given(a=RECIPES, b=RECIPES, data=st.data())
    def test_combinations_of_one_schema(self, a, b, data):
        # Inclusions that hold by construction, decided over derived trees.
        x, y = build(a), build(b)
        assert V(x).is_subtype_of(q.union(x, y))
        assert q.intersection(x, y).is_subtype_of(x)
        both = q.intersection(x, q.complement(x))
        if both.is_empty():
            event("contradiction proven")
            for value in drawn_values(data, a):
                assert not both.is_valid(value), value


def enum_values():
    """Every object of the test enums: members, aliases, members made on demand, equal twins."""
    values = [m for cls in enum_cases.PLAIN + enum_cases.HOOKED for m in cls.__members__.values()]
    values += enum_cases.MADE_ON_DEMAND + [v for pair in enum_cases.EQUAL_TWINS for v in pair]
    return values


def right_sides(member):
    """Schemas a member literal may be asked to fit, none holding it by its own structure."""
    cls = type(member)
    name = member._name_
    return [
        cls, Any, int, str, float,
        Annotated[cls, enum_cases.is_member(member)],
        Annotated[cls, lambda x: x._name_ == name],
        Annotated[int, lambda x: type(x) is cls],
        q.complement(Literal[enum_cases.Color.BLUE]),
    ]


class TestEnumLiterals:
    def test_every_proof_holds_for_every_equal_object(self):
        values = enum_values()
        proven = set()
        for member in values:
            left = V(Literal[member])
            for b in right_sides(member):
                if not left.is_subtype_of(b):
                    continue
                proven.add(type(member))
                right = V(b)
                for value in values + [0, 1, 8, "a", 0.0, -0.0, 0.5]:
                    if left.is_valid(value):
                        assert right.is_valid(value), (member, b, value)
        # Not vacuous: each plain class has proofs to check.
        assert set(enum_cases.PLAIN) <= proven
