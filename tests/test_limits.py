"""The limit check every constructor ends in, and structural equality and hashing of compiled schemas."""

import os
import subprocess
import sys
from typing import Annotated

import pytest

import quendrix as q
from siphash_reference import python_hash_of, siphash, u64

DEPTH = (
    "schema nesting is too deep: this validator reaches {} levels of nesting, past the limit of 128. "
    "A validator this deep comes from building in an unbounded loop; checking it would risk a native "
    "stack overflow. Express structural recursion with recursive(...) instead of nesting schemas."
)
NODES = (
    "schema is too large: this validator spans {} nodes, past the limit of 100000. A schema this large "
    "comes from combining a validator with itself in an unbounded loop, which doubles its size each "
    "step; building it would exhaust memory."
)


def nested_lists(levels):
    spec = int
    for _ in range(levels):
        spec = list[spec]
    return spec


class Bound:
    def __init__(self, **kw):
        self.__dict__.update(kw)


class TestLimits:
    def test_depth_at_and_past_the_limit(self):
        v = q.Validator(nested_lists(63))  # depth 127
        assert v.is_valid([[[]]])
        with pytest.raises(ValueError) as info:
            q.Validator(nested_lists(64))  # depth 129
        assert str(info.value) == DEPTH.format(129)

    def test_depth_is_refused_before_the_node_count(self):
        deep = q.Validator(nested_lists(63))
        with pytest.raises(ValueError) as info:
            q.union(*[deep] * 1700, list[deep])
        assert str(info.value).startswith("schema nesting is too deep: this validator reaches 130 levels")

    @pytest.mark.parametrize("members, ok", [(99999, True), (100000, False)])
    def test_node_limit_is_inclusive(self, members, ok):
        if ok:
            assert q.union(*[int] * members).is_valid(1)
        else:
            with pytest.raises(ValueError) as info:
                q.union(*[int] * members)
            assert str(info.value) == NODES.format(members + 1)

    def test_self_union_doubles_until_refused(self):
        v = q.Validator(int)
        sizes = []
        with pytest.raises(ValueError) as info:
            while True:
                v = v | v
                sizes.append(v)
        assert len(sizes) == 15  # 2**16 - 1 nodes still pass, 2**17 - 1 do not
        assert str(info.value) == NODES.format(2**17 - 1)

    def test_refinement_counts_its_constraints(self):
        three = Annotated[int, Bound(ge=0, le=9, multiple_of=3)]  # 1 + 3 constraints, 1 for int
        assert q.union(*[three] * 19999, *[int] * 4)  # 19999 * 5 + 4 + 1 = 100000 nodes
        with pytest.raises(ValueError) as info:
            q.union(*[three] * 19999, *[int] * 5)
        assert str(info.value) == NODES.format(100001)

    def test_failed_limit_check_releases_pooled_objects(self):
        token = object()
        before = sys.getrefcount(token)
        with pytest.raises(ValueError):
            q.union(token, *[int] * 100000)
        assert sys.getrefcount(token) == before


class TestStructuralIdentity:
    @pytest.mark.parametrize(
        "a, b",
        [
            (list[int], list[int]),
            (1, True),  # pooled constants compare with Python equality
            ({"a": int, "b?": str}, {"a": int, "b?": str}),
            (tuple[int, str, ...], tuple[int, str, ...]),
        ],
    )
    def test_equal_specs_give_equal_validators(self, a, b):
        va, vb = q.Validator(a), q.Validator(b)
        assert va == vb and hash(va) == hash(vb)

    @pytest.mark.parametrize(
        "a, b",
        [
            (q.union(int, str), q.union(str, int)),
            (q.Validator({"a": int, "b": int}), q.Validator({"b": int, "a": int})),
            (q.Validator({"a": int}), q.Validator({"a?": int})),
            (q.union(int), q.Validator(int)),
            (q.Validator(1), q.Validator(2)),
        ],
    )
    def test_order_and_requiredness_count(self, a, b):
        assert a != b

    def test_list_of_int_hashes_to_the_reference_stream(self):
        sequence, star, one, int_kind = 10, 4, 1, 5
        stream = u64(sequence) + u64(0) + u64(star) + u64(one) + u64(int_kind) + u64(0)
        assert hash(q.Validator(list[int])) == python_hash_of(siphash(stream, 1, 3))

    def test_hash_is_the_same_in_every_process(self):
        code = "import quendrix as q; print(hash(q.Validator({'a': list[int], 'b?': str | None})))"
        seen = {
            subprocess.run(
                [sys.executable, "-c", code],
                capture_output=True,
                text=True,
                check=True,
                env={**os.environ, "PYTHONHASHSEED": seed},
            ).stdout.strip()
            for seed in ("0", "1", "12345")
        }
        assert len(seen) == 1
        assert seen == {str(hash(q.Validator({"a": list[int], "b?": str | None})))}
