"""complement(), intersection() and the | operator: membership, the exact node built, errors and limits."""

import pytest

import quendrix as q
from quendrix import Validator as V
from quendrix import complement, intersection, union


class Marker:
    pass


class TestMembership:
    @pytest.mark.parametrize(
        "make, value, expected",
        [
            (lambda: intersection(), object(), True),
            (lambda: intersection(), None, True),
            (lambda: union(), None, False),
            (lambda: complement(int), "s", True),
            (lambda: complement(int), 5, False),
            (lambda: complement(int), True, False),  # a bool is an int
            (lambda: complement(complement(int)), 5, True),
            (lambda: complement(complement(int)), "s", False),
            (lambda: intersection(int, complement(bool)), 5, True),
            (lambda: intersection(int, complement(bool)), True, False),
            (lambda: intersection(int), 5, True),
            (lambda: intersection(int), 5.0, False),
            (lambda: V(int) | None, None, True),
            (lambda: V(int) | None, "s", False),
            (lambda: None | V(int), 3, True),
            (lambda: V(list[int]) | str, [1], True),
            (lambda: V(list[int]) | str, ["s"], False),
            (lambda: complement(q.anything), 0, False),
            (lambda: complement(q.nothing), 0, True),
        ],
    )
    def test_membership(self, make, value, expected):
        assert make().is_valid(value) is expected


class TestExactNode:
    @pytest.mark.parametrize(
        "left, right, equal",
        [
            (lambda: intersection(int), lambda: V(int), False),
            (lambda: complement(complement(int)), lambda: V(int), False),
            (lambda: complement(complement(int)), lambda: complement(complement(int)), True),
            (lambda: intersection(), lambda: q.anything, True),
            (lambda: V(int) | None, lambda: union(int, None), True),
            (lambda: None | V(int), lambda: union(None, int), True),
            (lambda: None | V(int), lambda: union(int, None), False),
            (lambda: (V(int) | str) | bytes, lambda: union(union(int, str), bytes), True),
            (lambda: (V(int) | str) | bytes, lambda: union(int, str, bytes), False),
            (lambda: intersection(int, str), lambda: intersection(str, int), False),
            (lambda: intersection(int, int), lambda: intersection(int), False),
        ],
    )
    def test_structure(self, left, right, equal):
        assert (left() == right()) is equal

    def test_self_union_is_a_two_member_union(self):
        v = V(list[int])
        assert v | v == union(v, v)

    def test_self_union_of_recursive_keeps_both_copies_working(self):
        tree = q.recursive(lambda t: union(int, list[t]))
        doubled = tree | tree
        assert doubled.is_valid([1, [2, [3]]])
        assert not doubled.is_valid([1, ["x"]])

    def test_pooled_objects_shared_between_operands(self):
        left = V(Marker)
        combined = left | list[Marker]
        assert combined.is_valid(Marker())
        assert combined.is_valid([Marker(), Marker()])
        assert not combined.is_valid([1])


class TestErrors:
    @pytest.mark.parametrize(
        "call, error, text",
        [
            (lambda: intersection(int, (1, 2)), NotImplementedError, "a tuple literal is not a schema"),
            (lambda: intersection(int, x=1), TypeError, "intersection() got an unexpected keyword argument 'x'"),
            (lambda: complement(), TypeError, "complement() missing 1 required positional argument: 'schema'"),
            (lambda: complement(int, str), TypeError, "complement()"),
            (lambda: complement((1,)), NotImplementedError, "a tuple literal is not a schema"),
            (lambda: V(int) | (1, 2), NotImplementedError, "a tuple literal is not a schema"),
            (lambda: (1, 2) | V(int), NotImplementedError, "a tuple literal is not a schema"),
        ],
    )
    def test_raises(self, call, error, text):
        with pytest.raises(error) as info:
            call()
        assert text in str(info.value)

    def test_keyword_schema_accepted(self):
        assert complement(schema=int).is_valid("s")


@pytest.fixture(scope="module")
def at_limit():
    return union(*range(q.MAX_SCHEMA_NODES - 1))  # the union node and its members


class TestLimits:
    @pytest.mark.parametrize(
        "combine, nodes",
        [
            (lambda v: complement(v), q.MAX_SCHEMA_NODES + 1),
            (lambda v: intersection(v), q.MAX_SCHEMA_NODES + 1),
            (lambda v: v | None, q.MAX_SCHEMA_NODES + 2),
        ],
    )
    def test_node_limit(self, at_limit, combine, nodes):
        with pytest.raises(ValueError, match=f"spans {nodes} nodes, past the limit of 100000"):
            combine(at_limit)

    def test_depth_limit_through_complement(self):
        v = V(int)
        for _ in range(q.MAX_SCHEMA_DEPTH - 1):
            v = complement(v)
        with pytest.raises(ValueError, match="schema nesting is too deep"):
            complement(v)
