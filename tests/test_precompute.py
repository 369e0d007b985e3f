"""The per-validator index: its fast answers must agree with the ordinary walk everywhere."""

import copy
import enum
from typing import Annotated, Literal

import pytest

from quendrix import ValidationError, Validator, recursive, union


class IntSub(int):
    pass


class StrSub(str):
    pass


class Color(enum.IntEnum):
    RED = 1


BIG = 2**70


class TestLiteralUnions:
    @pytest.mark.parametrize(
        ("schema", "value", "member"),
        [
            (Literal[1, 2, 3], 2, True),
            (Literal[1, 2, 3], 4, False),
            (Literal[1, 2, 3], 2.0, False),
            (Literal[1, 2, 3], True, False),
            (Literal[1, 2, 3], IntSub(2), False),
            (Literal[1, 2, 3], "2", False),
            (Literal["a", 1, True, None], True, True),
            (Literal["a", 1, True, None], None, True),
            (Literal["a", 1, True, None], "a", True),
            (Literal["a", 1, True, None], StrSub("a"), False),
            (Literal["a", 1, True, None], 0, False),
            (Literal[True, None], 1, False),
            (Literal[True, None], "x", False),
            (Literal[True, None], True, True),
            (Literal[BIG, 5], BIG, True),
            (Literal[BIG, 5], 5, True),
            (Literal[BIG, 5], BIG + 1, False),
            (Literal[-1], -1, True),
            (Literal[-1], -2, False),
            (Literal[Color.RED, 2], 1, False),
            (Literal[Color.RED, 2], Color.RED, True),
            (Literal["\ud800", "b"], "\ud800", True),
            (Literal["\ud800", "b"], "\udfff", False),
            (Literal["é", "b"], "é", True),
            (Literal[""], "", True),
        ],
    )
    def test_membership(self, schema, value, member):
        validator = Validator(schema)
        assert validator.is_valid(value) is member
        # The collecting road never uses the index: both roads must agree.
        if member:
            validator.validate(value)
        else:
            with pytest.raises(ValidationError):
                validator.validate(value)

    def test_not_all_literals(self):
        mixed = union(int, Literal[1])
        assert mixed.is_valid(7)
        assert not mixed.is_valid("1")


class TestRecordKeys:
    def test_name_declared_twice_must_satisfy_both(self):
        both = Validator({"a": int, "a?": object})
        assert both.is_valid({"a": 1})
        assert not both.is_valid({})
        clash = Validator({"a": int, "a?": str})
        assert not clash.is_valid({"a": 1})
        assert not clash.is_valid({"a": "x"})

    def test_required_count(self):
        v = Validator({"a": int, "b?": int, "c": int})
        assert v.is_valid({"a": 1, "c": 2})
        assert not v.is_valid({"a": 1, "b": 2})
        assert not v.is_valid({"a": 1, "b": "x", "c": 2})


class Pattern:
    def __init__(self, pattern):
        self.pattern = pattern


class TestPatterns:
    def test_one_text_in_several_places(self):
        text = Pattern("a+")
        schema = Validator({"x": Annotated[str, text], "y": list[Annotated[str, Pattern("a+")]]})
        assert schema.is_valid({"x": "aa", "y": ["a", "aaa"]})
        assert not schema.is_valid({"x": "aa", "y": ["a", "ab"]})
        assert not schema.is_valid({"x": "baa", "y": []})

    def test_pattern_under_recursion(self):
        words = recursive(lambda t: Annotated[str, Pattern("[a-z]+")] | list[t])
        assert words.is_valid(["ab", ["cd", []]])
        assert not words.is_valid(["ab", ["c1"]])


class TestLifecycle:
    def test_copies_build_their_own_index(self):
        original = Validator(Literal[1, 2] | list[Literal["x", "y"]])
        assert original.is_valid(["x"])
        for duplicate in (copy.copy(original), copy.deepcopy(original)):
            assert duplicate.is_valid(2)
            assert duplicate.is_valid(["y", "x"])
            assert not duplicate.is_valid(["z"])
