# Tests of recursive(): fixpoints, the contractiveness rule and placeholder binding.
import sys
from typing import Annotated

import pytest

from quendrix import ValidationError, Validator, complement, intersection, recursive, union

NOT_CONTRACTIVE = (
    "recursive schema is not contractive: the recursive reference must occur under a "
    "structural constructor (a list, tuple, set, dict, record, or object)"
)


def error_codes(validator, value):
    with pytest.raises(ValidationError) as info:
        validator.validate(value)
    return [e["code"] for e in info.value.errors]


class TestContractiveness:
    @pytest.mark.parametrize(
        "builder",
        [
            lambda s: s,
            lambda s: s | None,
            lambda s: union(int, s),
            lambda s: complement(s),
            lambda s: intersection(s, object),
            lambda s: Annotated[union(s), lambda x: True],
            lambda s: union(list[int], complement(intersection(s))),
        ],
        ids=["bare", "or-none", "union", "complement", "intersection", "refinement", "mixed"],
    )
    def test_unguarded_reference_is_refused(self, builder):
        with pytest.raises(ValueError) as info:
            recursive(builder)
        assert str(info.value) == NOT_CONTRACTIVE

    @pytest.mark.parametrize(
        "builder, member, outsider",
        [
            (lambda s: list[s], [[], [[]]], [[1]]),
            (lambda s: set[frozenset[s]], set(), {1}),
            (lambda s: frozenset[s], frozenset({frozenset()}), frozenset({1})),
            (lambda s: tuple[s, ...], ((), ((),)), ((), (1,))),
            (lambda s: dict[str, s], {"a": {"b": {}}}, {"a": {"b": 1}}),
            (lambda s: {"value": int, "next": s | None},
             {"value": 1, "next": {"value": 2, "next": None}},
             {"value": 1, "next": {"value": "2", "next": None}}),
            (lambda s: list[s] | int, [1, [2, [3]]], [1, ["x"]]),
            (lambda s: complement(list[complement(s)]), [1], []),
            (lambda s: int, 3, "3"),
        ],
        ids=["list", "set", "frozenset", "tuple", "dict", "linked", "union-outside",
             "complement-outside", "no-reference"],
    )
    def test_guarded_reference_is_accepted(self, builder, member, outsider):
        v = recursive(builder)
        assert v.is_valid(member)
        assert not v.is_valid(outsider)


class TestBuilder:
    @pytest.mark.parametrize("exc", [KeyError("k"), ValueError("v"), KeyboardInterrupt()])
    def test_exception_from_builder_is_raised_unchanged(self, exc):
        def builder(s):
            raise exc

        with pytest.raises(BaseException) as info:
            recursive(builder)
        assert info.value is exc

    def test_builder_is_called_once_with_a_validator(self):
        calls = []
        recursive(lambda s: calls.append(s) or list[s])
        assert len(calls) == 1 and type(calls[0]) is Validator

    def test_placeholder_kept_by_builder_stays_unresolved(self):
        kept = []
        recursive(lambda s: kept.append(s) or list[s])
        (placeholder,) = kept
        for value in (None, [], 0):
            assert not placeholder.is_valid(value)
            assert error_codes(placeholder, value) == ["unresolved_recursion"]

    def test_compile_error_of_the_body_is_raised(self):
        with pytest.raises(NotImplementedError):
            recursive(lambda s: (int, s))

    def test_not_callable(self):
        with pytest.raises(TypeError):
            recursive(3)


class TestBinding:
    def test_nested_calls_bind_only_their_own_placeholder(self):
        inner_results = []

        def outer(o):
            inner = recursive(lambda i: {"a": list[i], "o": list[o]})
            inner_results.append(inner)
            return list[inner]

        v = recursive(outer)
        (inner,) = inner_results
        ok = {"a": [{"a": [], "o": []}], "o": []}
        assert inner.is_valid(ok) and v.is_valid([ok])
        # The outer placeholder reached inside the inner definition is not rebound.
        assert error_codes(v, [{"a": [], "o": [[]]}]) == ["unresolved_recursion"]
        assert repr(v) == "list[{'a': list[...], 'o': list[...]}]"

    def test_recursive_value_used_in_another_schema(self):
        tree = recursive(lambda s: {"name": str, "children": list[s]})
        forest = Validator(dict[str, tree])
        leaf = {"name": "x", "children": []}
        assert forest.is_valid({"t": {"name": "r", "children": [leaf, leaf]}})
        assert not forest.is_valid({"t": {"name": "r", "children": [{"name": 1, "children": []}]}})


class TestLimits:
    def chain(self, n):
        v = recursive(lambda s: list[s])
        for _ in range(n - 1):
            v = recursive(lambda s, inner=v: {"a": inner, "self": list[s]})
        return v

    def test_128_definitions_pass(self):
        # Rendering writes the chain out until its depth limit.
        assert repr(self.chain(128)).startswith("{'a': " * 50)

    def test_129_definitions_are_refused(self):
        with pytest.raises(ValueError, match="this validator has 129 of them, past the limit of 128"):
            self.chain(129)

    def test_depth_limit_applies_to_the_body(self):
        def deep(s):
            spec = s
            for _ in range(64):
                spec = list[spec]
            return spec

        with pytest.raises(ValueError, match="schema nesting is too deep"):
            recursive(deep)


class TestReferences:
    @pytest.mark.parametrize(
        "make, exc",
        [
            (lambda marker: lambda s: union(s, marker), ValueError),
            (lambda marker: lambda s: (marker, s), NotImplementedError),
            (lambda marker: lambda s: marker.missing, AttributeError),
        ],
        ids=["not-contractive", "compile-error", "builder-raises"],
    )
    def test_failed_builds_release_everything(self, make, exc):
        marker = object()
        builder = make(marker)
        before = sys.getrefcount(marker), sys.getrefcount(builder)
        for _ in range(50):
            with pytest.raises(exc):
                recursive(builder)
        assert (sys.getrefcount(marker), sys.getrefcount(builder)) == before

    def test_result_owns_its_constants(self):
        marker = object()
        before = sys.getrefcount(marker)
        v = recursive(lambda s: list[s | marker])
        assert v.is_valid([marker, [[marker]]]) and not v.is_valid([object()])
        del v
        assert sys.getrefcount(marker) == before
