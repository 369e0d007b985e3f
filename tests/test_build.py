"""Building validators from specs: which node each spec gives, rejections, depth, pooling and leaks."""

import collections
import collections.abc
import dataclasses
import enum
import subprocess
import sys
import threading
import types
import typing
from types import SimpleNamespace as NS
from typing import Annotated, Any, Literal, NamedTuple, NotRequired, Optional, Required, TypedDict

import pytest

import quendrix
from quendrix import Validator as V
from quendrix import union


class MyInt(int):
    pass


class Color(enum.Enum):
    RED = 1
    BLUE = 2


def message_of(spec):
    with pytest.raises(BaseException) as info:
        V(spec)
    return type(info.value), str(info.value)


def build_error(text):
    return (NotImplementedError, text)


TYPING_CONSTRUCT = (
    " is a typing construct, not a value: a type variable, ParamSpec, TypeVarTuple, or special "
    "form (such as Final or ClassVar) cannot be a schema; use a concrete type"
)
DEPTH_MESSAGE = (
    "schema nesting is too deep to compile: the frontend descended 128 levels without reaching "
    "a leaf. A class whose own type appears in its fields is recursive and never bottoms out; "
    "write it with recursive(...), which ties the fixpoint explicitly."
)
UNSUPPORTED = "; supported: list, set, dict, tuple, Union, Optional, Literal, Callable"


class TestPlainSpecs:
    @pytest.mark.parametrize(
        "spec, member, non_member",
        [
            (None, None, 0),
            (type(None), None, False),
            (bool, True, 1),
            (int, 1, 1.0),
            (float, 1.5, "1.5"),
            (str, "a", b"a"),
            (bytes, b"a", "a"),
            (MyInt, MyInt(3), 3),
            (list, [1, "a"], (1,)),
            (dict, {}, []),
            (tuple, (), []),
            (Color, Color.RED, 1),
            (Color.RED, Color.RED, Color.BLUE),
            (5, 5, 6),
            ("int", "int", 1),
            (b"x", b"x", "x"),
            (frozenset({1, 2}), frozenset({2, 1}), frozenset({1})),
            (collections.abc.Sized, [], 1),
        ],
    )
    def test_member_and_non_member(self, spec, member, non_member):
        v = V(spec)
        assert v.is_valid(member)
        assert not v.is_valid(non_member)

    @pytest.mark.parametrize(
        "left, right, equal",
        [
            (V(None), V(type(None)), True),
            (V(object), quendrix.anything, True),
            (V(Any), quendrix.anything, False),
            (V(typing.Never), quendrix.nothing, True),
            (V(typing.NoReturn), quendrix.nothing, True),
            (V(bool), V(int), False),
            (V(MyInt), V(int), False),
            (V(5), union(5), False),
            (V(Literal[5]), union(5), True),
        ],
    )
    def test_equalities(self, left, right, equal):
        assert (left == right) is equal


class TestRecordLiteral:
    @pytest.mark.parametrize(
        "spec, member, non_member",
        [
            ({"a": int, "b?": str, str: int}, {"a": 1, "z": 2}, {"a": 1, "b": 2}),
            ({"a": int, "b?": str, str: int}, {"a": 1, "b": "x"}, {"b": "x"}),
            ({"a?": int}, {}, {"a": "x"}),
            ({"a??": int}, {"a?": 1}, {"a?": "x"}),
            ({"a??": int}, {}, {"a": 1}),
            ({"?": int}, {"": 1}, {"": "x"}),
            ({"?": int}, {}, {"x": 1}),
            ({"": int}, {"": 1}, {}),
            ({}, {}, {"a": 1}),
        ],
    )
    def test_fields_and_clauses(self, spec, member, non_member):
        v = V(spec)
        assert v.is_valid(member)
        assert not v.is_valid(non_member)

    def test_field_order_counts(self):
        assert V({"a": int, "b": str}) != V({"b": str, "a": int})

    def test_plain_and_optional_key_of_one_name_are_both_kept(self):
        assert V({"a": int, "a?": int}) != V({"a": int})

    def test_clause_matches_dict_form(self):
        assert V({str: int}) == V(dict[str, int])

    def test_lone_surrogate_key(self):
        assert message_of({"\ud800": int}) == (
            ValueError,
            "a record key must be valid Unicode; a field name cannot contain a lone surrogate",
        )

    def test_dict_changed_while_read(self):
        spec = {}

        class Grows:
            def __getattr__(self, name):
                spec["later"] = int
                raise AttributeError(name)

        spec["a"] = Grows()
        spec["b"] = int
        assert message_of(spec) == (RuntimeError, "dictionary changed size during iteration")


class TestTypingForms:
    @pytest.mark.parametrize(
        "left, right, equal",
        [
            (Optional[int], union(int, None), True),
            (int | None, union(int, None), True),
            (typing.Union[int, str], union(str, int), False),
            (Literal[1, 2], union(1, 2), True),
            (Literal[None], union(None), True),
            (list[int], V([int]), True),
            (typing.List[int], V(list[int]), True),
            (tuple[int, ...], V([int]), False),
            (set[int], V(frozenset[int]), False),
            (dict[str, int], V({str: int}), True),
            (Required[int], V(int), True),
            (NotRequired[int], V(int), True),
            (typing.Callable[[int], str], V(collections.abc.Callable), True),
            (collections.abc.Callable[..., Any], V(collections.abc.Callable), True),
        ],
    )
    def test_equalities(self, left, right, equal):
        assert (V(left) == right) is equal

    @pytest.mark.parametrize(
        "spec, members, non_members",
        [
            (tuple[()], [()], [(1,)]),
            (tuple[int], [(1,)], [(), (1, 2), [1]]),
            (tuple[int, ...], [(), (1, 2, 3)], [(1, "a"), [1]]),
            (tuple[int, str, ...], [(1,), (1, "a", "b")], [(), ("a",), (1, 2)]),
            (tuple[int, str, bytes, ...], [(1, "a"), (1, "a", b"", b"")], [(1,), (1, "a", 2)]),
            (tuple[int, str], [(1, "a")], [(1,), (1, "a", "b")]),
            ([], [[]], [[1], ()]),
            ([int], [[], [1, 2, 3]], [[1, "a"], (1,)]),
            ([int, ...], [[], [1, 2]], [["a"]]),
            ([int, str], [[1, "a"]], [[1], [1, "a", "b"]]),
            ([int, str, ...], [[1], [1, "a", "b"]], [[], [1, 2]]),
            (set[int], [{1, 2}], [frozenset({1}), {"a"}]),
            (frozenset[int], [frozenset({1})], [{1}]),
        ],
    )
    def test_sequence_shapes(self, spec, members, non_members):
        v = V(spec)
        assert all(v.is_valid(m) for m in members)
        assert not any(v.is_valid(m) for m in non_members)

    @pytest.mark.parametrize(
        "left, right",
        [(Optional[int], union(int, None)), (list[int], V([int])), (dict[str, int], V({str: int}))],
    )
    def test_equal_spellings_hash_alike(self, left, right):
        assert hash(V(left)) == hash(right)

    def test_literal_of_a_class_is_that_class(self):
        assert V(Literal[int]) == union(int)

    @pytest.mark.parametrize(
        "spec, error",
        [
            (list[int, str], build_error("expected exactly one type argument")),
            (typing.List, build_error("expected exactly one type argument")),
            (set[int, str], build_error("expected exactly one type argument")),
            (typing.FrozenSet, build_error("expected exactly one type argument")),
            (dict[str], build_error("dict[...] needs a key type and a value type")),
            (typing.Dict, build_error("dict[...] needs a key type and a value type")),
            (tuple[...], build_error("`...` may appear only as the last element of a tuple schema")),
            (
                tuple[int, ..., str],
                build_error("`...` may appear only as the last element of a tuple schema"),
            ),
            ([...], build_error("`...` may appear only as the last element of a list schema")),
            (
                [int, ..., str],
                build_error("`...` may appear only as the last element of a list schema"),
            ),
            (
                typing.Sequence[int],
                build_error(
                    "unsupported typing form with origin <class 'collections.abc.Sequence'>"
                    + UNSUPPORTED
                ),
            ),
            (type[int], build_error("unsupported typing form with origin <class 'type'>" + UNSUPPORTED)),
        ],
    )
    def test_rejections(self, spec, error):
        assert message_of(spec) == error

    def test_argument_error_wins_over_misplaced_ellipsis(self):
        assert message_of(tuple[(1, 2), ..., int]) == message_of((1, 2))

    def test_required_with_two_arguments(self):
        form = typing.Required[int]
        bad = form.copy_with((int, str))
        assert message_of(bad) == build_error("expected exactly one type argument")


class TestRejections:
    T = typing.TypeVar("T")
    P = typing.ParamSpec("P")
    Ts = typing.TypeVarTuple("Ts")

    @pytest.mark.parametrize(
        "spec, error",
        [
            (
                (int, str),
                build_error(
                    "a tuple literal is not a schema; write a fixed-length tuple as tuple[A, B] "
                    "(the list literal [A, B] is the fixed-length list)"
                ),
            ),
            ({1, 2}, build_error("a set literal is not a schema; write a set as set[T]")),
            (typing.Union, build_error("typing.Union" + TYPING_CONSTRUCT)),
            (typing.Optional, build_error("typing.Optional" + TYPING_CONSTRUCT)),
            (typing.Final, build_error("typing.Final" + TYPING_CONSTRUCT)),
            (typing.ClassVar, build_error("typing.ClassVar" + TYPING_CONSTRUCT)),
            (T, build_error("~T" + TYPING_CONSTRUCT)),
            (P, build_error("~P" + TYPING_CONSTRUCT)),
            (Ts, build_error("Ts" + TYPING_CONSTRUCT)),
        ],
    )
    def test_messages(self, spec, error):
        assert message_of(spec) == error

    def test_construct_text_is_cut_to_80_characters(self):
        T = typing.TypeVar("T" * 100)
        _, text = message_of(T)
        assert text == "~" + "T" * 79 + "..." + TYPING_CONSTRUCT


class TestAnnotated:
    @pytest.mark.parametrize(
        "left, right, equal",
        [
            (Annotated[int, "doc"], int, True),
            (Annotated[int, int], int, True),
            (Annotated[str, NS(pattern="a+", min_length=3)], Annotated[str, NS(pattern="a+")], True),
            (Annotated[str, NS(pattern=None, min_length=3)], Annotated[str, NS(min_length=3)], True),
            (Annotated[str, NS(pattern=b"a", min_length=3)], Annotated[str, NS(min_length=3)], True),
            (Annotated[str, NS(pattern="\ud800")], str, True),
            (Annotated[int, NS(ge=0, lt=10)], Annotated[int, NS(ge=0), NS(lt=10)], True),
            (Annotated[int, NS(ge=0, lt=10)], Annotated[int, NS(lt=10), NS(ge=0)], False),
            (Annotated[int, NS(le=5), NS(ge=0)], Annotated[int, NS(ge=0), NS(le=5)], False),
            (Annotated[int, NS(gt=None, ge=1)], Annotated[int, NS(ge=1)], True),
            (Annotated[int, NS(ge=0, gt=1, le=2, lt=3)], Annotated[int, NS(ge=0), NS(gt=1), NS(le=2), NS(lt=3)], True),
            (Annotated[str, NS(min_length=-1)], str, True),
            (Annotated[str, NS(min_length=2.0)], str, True),
            (Annotated[str, NS(min_length=2**64)], str, True),
            (Annotated[str, NS(max_length=None)], str, True),
            (Annotated[str, NS(min_length=True)], Annotated[str, NS(min_length=1)], True),
            (Annotated[str, NS(min_length=2**64 - 1)], str, False),
            (Annotated[str, NS(min_length=1, max_length=3)], Annotated[str, NS(min_length=1), NS(max_length=3)], True),
            (Annotated[str, NS(min_length=1)], Annotated[str, NS(max_length=1)], False),
            (Annotated[int, NS(multiple_of=None)], int, True),
        ],
    )
    def test_equalities(self, left, right, equal):
        assert (V(left) == V(right)) is equal

    def test_a_class_item_is_skipped_whatever_it_carries(self):
        class Marker:
            pattern = "a("
            multiple_of = 0

        assert V(Annotated[int, Marker]) == V(int)

    def test_compiled_pattern_gives_its_text(self):
        import re

        assert V(Annotated[str, re.compile("a+", re.I)]) == V(Annotated[str, NS(pattern="a+")])
        assert V(Annotated[str, re.compile("a+")]) != V(Annotated[str, NS(pattern="a*")])

    def test_raising_attribute_counts_as_missing(self):
        class Hostile:
            def __getattr__(self, name):
                if name == "ge":
                    return 1
                raise RuntimeError(name)

        assert V(Annotated[int, Hostile()]) == V(Annotated[int, NS(ge=1)])

    @pytest.mark.parametrize("zero", [0, 0.0, False])
    def test_multiple_of_zero(self, zero):
        assert message_of(Annotated[int, NS(multiple_of=zero)]) == (
            ValueError,
            "MultipleOf(0) is not a valid constraint: no value is a multiple of zero. Use a "
            "nonzero divisor.",
        )

    def test_divisor_whose_eq_raises_is_kept(self):
        class Odd:
            def __eq__(self, other):
                raise RuntimeError("no")

            __hash__ = object.__hash__

        odd = Odd()
        v = V(Annotated[int, NS(multiple_of=odd)])
        assert v != V(int)
        assert v == V(Annotated[int, NS(multiple_of=odd)])

    def test_predicates(self):
        def positive(x):
            return x > 0

        class Both:
            def __init__(self):
                self.func = positive

            def __call__(self, x):
                return True

        both = Both()
        assert V(Annotated[int, positive]) == V(Annotated[int, NS(func=positive)])
        # A callable item is its own predicate; its `func` is then not read.
        assert V(Annotated[int, both]) == V(Annotated[int, NS(func=both)])
        assert V(Annotated[int, NS(func=42)]) == V(int)

    def test_base_error_comes_before_metadata(self):
        assert message_of(Annotated[typing.Sequence[int], NS(multiple_of=0)])[0] is NotImplementedError


@dataclasses.dataclass
class Point:
    x: int
    y: str = "a"
    z: int = dataclasses.field(default=0, init=False)


@dataclasses.dataclass
class WithClassVar:
    x: int
    limit: typing.ClassVar[int] = 3


@dataclasses.dataclass
class Loop:
    child: "Loop"


class Pair(NamedTuple):
    left: int
    right: "str"


Plain = collections.namedtuple("Plain", "a b")


class Movie(TypedDict):
    title: str
    year: NotRequired[int]


class Partial(TypedDict, total=False):
    title: Required[str]
    year: int


class Sequel(Movie):
    prequel: str


class LoopDict(TypedDict):
    child: "LoopDict"


class Bounded(TypedDict, total=False):
    low: Required[Annotated[int, NS(ge=0)]]
    name: Annotated[str, NS(min_length=1)]


@dataclasses.dataclass
class BoundedPair:
    low: Annotated[int, NS(ge=0)]
    point: "Point"


class TestClassRecords:
    @pytest.mark.parametrize(
        "cls, literal",
        [
            (Movie, {"title": str, "year?": int}),
            (Partial, {"title": str, "year?": int}),
            (Sequel, {"title": str, "year?": int, "prequel": str}),
        ],
    )
    def test_typeddict_as_record_literal(self, cls, literal):
        assert V(cls) == V(literal)

    @pytest.mark.parametrize(
        "cls, members, non_members",
        [
            (Point, [Point(1), Point(1, "b")], [Point(1, 2), Point("1"), (1, "a")]),
            (Pair, [Pair(1, "a")], [Pair("1", "a"), Pair(1, 2), (1, "a")]),
            (Plain, [Plain(1, 2), Plain("a", None)], [(1, 2)]),
        ],
    )
    def test_objects(self, cls, members, non_members):
        v = V(cls)
        assert all(v.is_valid(m) for m in members)
        assert not any(v.is_valid(m) for m in non_members)

    def test_field_without_init_is_still_an_attribute(self):
        p = Point(1)
        assert V(Point).is_valid(p)
        p.z = "not an int"
        assert not V(Point).is_valid(p)
        del p.z
        assert V(Point).is_valid(p)  # the class attribute default still answers
        object.__setattr__(p, "y", 3)
        assert not V(Point).is_valid(p)

    def test_typeddict_admits_no_other_key(self):
        assert not V(Movie).is_valid({"title": "x", "extra": 1})

    @pytest.mark.parametrize(
        "cls, error",
        [
            (
                WithClassVar,
                build_error("unsupported typing form with origin typing.ClassVar" + UNSUPPORTED),
            ),
            (Loop, build_error(DEPTH_MESSAGE)),
            (LoopDict, build_error(DEPTH_MESSAGE)),
        ],
    )
    def test_rejections(self, cls, error):
        assert message_of(cls) == error

    def test_unresolvable_annotation_raises_name_error(self):
        @dataclasses.dataclass
        class Broken:
            x: "Nowhere"  # noqa: F821

        with pytest.raises(NameError):
            V(Broken)

    def test_objects_are_of_their_own_class(self):
        assert V(Point) != V(Pair)
        assert V(Plain) != V(tuple)
        assert V(Pair) != V(tuple)

    def test_typeddict_fields_keep_their_metadata(self):
        assert repr(V(Bounded)) == "{'low': Annotated[int, Ge(0)], 'name?': Annotated[str, MinLen(1)]}"

    @pytest.mark.parametrize(
        "value, member",
        [
            (BoundedPair(0, Point(1)), True),
            (BoundedPair(-1, Point(1)), False),
            (BoundedPair(0, (1, "a")), False),
        ],
    )
    def test_object_fields_keep_metadata_and_resolve_names(self, value, member):
        assert V(BoundedPair).is_valid(value) is member

    def test_hints_that_are_not_a_dict(self, monkeypatch):
        # typing.get_type_hints is looked up afresh on every build.
        monkeypatch.setattr(typing, "get_type_hints", lambda cls, include_extras: [("x", int)])
        with pytest.raises(TypeError, match="'list' object cannot be converted to 'dict'"):
            V(Point)


class TestProtocolsAliasesNewTypes:
    def test_protocol_needs_runtime_checkable(self):
        class Closer(typing.Protocol):
            def close(self) -> None: ...

        assert message_of(Closer) == build_error(
            "a Protocol must be @runtime_checkable to be used as a schema"
        )
        checkable = typing.runtime_checkable(Closer)
        assert V(checkable).is_valid(open(__file__))
        assert not V(checkable).is_valid(1)

    def test_type_alias_compiles_to_its_value(self):
        Alias = typing.TypeAliasType("Alias", list[int])
        assert V(Alias) == V(list[int])

    def test_new_type_leaves_no_trace(self):
        UserId = typing.NewType("UserId", int)
        assert V(UserId) == V(int)
        assert V(list[UserId]) == V(list[int])


def new_type_chain(links):
    spec = int
    for i in range(links):
        spec = typing.NewType(f"N{i}", spec)
    return spec


class TestDepthGuard:
    # Each NewType is one nested compilation and no node, so the chain
    # exercises the guard alone, apart from the depth limit of finished trees.
    def test_128_nested_compilations_pass_and_129_do_not(self):
        assert V(new_type_chain(127)) == V(int)
        assert message_of(new_type_chain(128)) == build_error(DEPTH_MESSAGE)
        assert V(new_type_chain(127)) == V(int)

    def test_alias_chain_counts_too(self):
        spec = int
        for i in range(128):
            spec = typing.TypeAliasType(f"A{i}", spec)
        assert message_of(spec) == build_error(DEPTH_MESSAGE)

    @pytest.mark.parametrize("kind", ["list", "dict", "dataclass", "typeddict"])
    def test_self_reference_stops_at_the_guard(self, kind):
        if kind == "list":
            spec = []
            spec.append(spec)
        elif kind == "dict":
            spec = {}
            spec["a"] = spec
        elif kind == "dataclass":
            spec = Loop
        else:
            spec = LoopDict
        assert message_of(spec) == build_error(DEPTH_MESSAGE)
        assert V(int).is_valid(1)

    def test_guard_on_a_small_stack(self):
        results = []

        def run():
            for spec in (Loop, LoopDict):
                try:
                    V(spec)
                except NotImplementedError as e:
                    results.append(str(e))

        old = threading.stack_size(2 * 1024 * 1024)
        try:
            t = threading.Thread(target=run)
            t.start()
            t.join()
        finally:
            threading.stack_size(old)
        assert results == [DEPTH_MESSAGE, DEPTH_MESSAGE]

    def test_each_thread_has_its_own_count(self):
        failures = []
        barrier = threading.Barrier(8)

        def run():
            barrier.wait()
            for _ in range(30):
                try:
                    V(new_type_chain(127))
                except Exception as e:  # pragma: no cover - reported below
                    failures.append(e)

        threads = [threading.Thread(target=run) for _ in range(8)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert failures == []


class Token:
    """A fresh, non-immortal object whose reference count the tests watch."""


class TestPoolingAndLeaks:
    @pytest.mark.parametrize(
        "make_spec",
        [
            lambda s: [s, (1, 2)],
            lambda s: {"a": s, "b": {1}},
            lambda s: {s: int, "b": (1,)},
            lambda s: Annotated[int, NS(ge=s), NS(multiple_of=0)],
            lambda s: Annotated[int, NS(le=s, lt=s), NS(pattern="(")],
            lambda s: [int, s, ..., int],
            lambda s: {"a": s, "b": new_type_chain(130)},
        ],
    )
    def test_failed_build_releases_everything(self, make_spec):
        token = Token()
        spec = make_spec(token)
        before = sys.getrefcount(token)
        for _ in range(3):
            with pytest.raises((NotImplementedError, ValueError)):
                V(spec)
        assert sys.getrefcount(token) == before

    def test_failed_union_releases_everything(self):
        token = Token()
        before = sys.getrefcount(token)
        with pytest.raises(NotImplementedError):
            union(token, {1})
        assert sys.getrefcount(token) == before

    def test_failed_class_record_releases_the_class(self):
        before = sys.getrefcount(WithClassVar)
        with pytest.raises(NotImplementedError):
            V(WithClassVar)
        assert sys.getrefcount(WithClassVar) == before

    def test_validator_holds_one_reference_per_object(self):
        token = Token()
        before = sys.getrefcount(token)
        v = V([token, token, {"a": token}])
        assert sys.getrefcount(token) == before + 1
        del v
        assert sys.getrefcount(token) == before

    def test_importing_a_validator_shares_its_objects(self):
        token = Token()
        v = V(token)
        before = sys.getrefcount(token)
        u = union(v, v)
        assert sys.getrefcount(token) == before + 1
        assert u == union(token, token)
        assert V(v) == v
        del u
        assert sys.getrefcount(token) == before


class TestImportedValidators:
    def test_definitions_of_each_import_keep_pointing_at_their_own_copies(self):
        nested = quendrix.recursive(lambda s: [s])
        tree = quendrix.recursive(lambda t: {"v": int, "kids": [t]})
        u = union(nested, tree, nested)
        assert u.is_valid([[[]]])
        assert u.is_valid({"v": 1, "kids": [{"v": 2, "kids": []}]})
        assert not u.is_valid({"v": 1, "kids": [{"v": "x", "kids": []}]})
        assert not u.is_valid([1])
        d = V({"a": tree, "b": nested})
        assert d.is_valid({"a": {"v": 1, "kids": []}, "b": [[]]})
        assert not d.is_valid({"a": [[]], "b": {"v": 1, "kids": []}})

    def test_pool_indexes_are_remapped(self):
        first = V(Annotated[int, NS(ge=10)])
        second = V([Literal["x"], first])
        assert second.is_valid(["x", 10])
        assert not second.is_valid(["x", 9])
        assert union("y", second) == union("y", V([Literal["x"], Annotated[int, NS(ge=10)]]))


class ProbeRecorder(type):
    """A metaclass that records every attribute lookup its classes cannot answer."""

    probes: list = []

    def __getattr__(cls, name):
        ProbeRecorder.probes.append(name)
        raise AttributeError(name)


class Box(metaclass=ProbeRecorder):
    __class_getitem__ = classmethod(types.GenericAlias)


class TestTypingProbes:
    @pytest.mark.parametrize(
        "spec",
        [list[int], dict[str, int], tuple[int, ...], int | None, Optional[int], Literal[1, 2],
         typing.List[int], typing.Union[int, str]],
    )
    def test_patched_get_origin_and_get_args_are_called(self, monkeypatch, spec):
        calls = []

        def recording(name):
            original = getattr(typing, name)

            def call(tp):
                calls.append((name, tp))
                return original(tp)

            return call

        monkeypatch.setattr(typing, "get_origin", recording("get_origin"))
        monkeypatch.setattr(typing, "get_args", recording("get_args"))
        V(spec)
        assert calls == [("get_origin", spec), ("get_args", spec)]

    @pytest.mark.parametrize(
        "spec", [list[int], int | None, Optional[str], Literal["a"], typing.List[int]]
    )
    def test_reading_an_alias_keeps_no_reference(self, spec):
        V(spec)
        before = (sys.getrefcount(spec), sys.getrefcount(typing.get_origin(spec)))
        for _ in range(100):
            V(spec)
        assert (sys.getrefcount(spec), sys.getrefcount(typing.get_origin(spec))) == before

    def test_alias_carrying_its_own_metadata_is_annotated(self):
        alias = typing.List[int].copy_with((int,))
        alias.__metadata__ = (NS(min_length=2),)
        v = V(alias)
        assert v == V(Annotated[list, NS(min_length=2)])
        assert v.is_valid(["a", "b"]) and not v.is_valid([1])

    def test_origin_of_a_user_generic_is_probed(self):
        ProbeRecorder.probes.clear()
        assert message_of(Box[int]) == build_error(
            f"unsupported typing form with origin {Box!r}" + UNSUPPORTED
        )
        assert ProbeRecorder.probes == ["__metadata__"]


class TestTypingCache:
    def test_first_fill_from_many_threads(self):
        code = (
            "import threading\n"
            "from quendrix import Validator as V\n"
            "barrier = threading.Barrier(16)\n"
            "done = []\n"
            "def run():\n"
            "    barrier.wait()\n"
            "    done.append(V(int | None) == V(int | None))\n"
            "threads = [threading.Thread(target=run) for _ in range(16)]\n"
            "[t.start() for t in threads]\n"
            "[t.join() for t in threads]\n"
            "print(done.count(True))\n"
        )
        result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
        assert result.stdout.strip() == "16", result.stderr

    def test_missing_names_are_skipped(self):
        code = (
            "import typing\n"
            "never = typing.Never\n"
            "alias = typing.TypeAliasType('Alias', int)\n"
            "del typing.Never, typing.NoReturn, typing.TypeAliasType\n"
            "from quendrix import Validator as V\n"
            "assert V(int).is_valid(1)\n"
            "try:\n"
            "    V(never)\n"
            "except NotImplementedError as e:\n"
            "    assert str(e).startswith('typing.Never is a typing construct'), e\n"
            "assert V(alias).is_valid(alias) and not V(alias).is_valid(1)\n"
            "print('ok')\n"
        )
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        assert done.stdout.strip() == "ok", done.stderr
