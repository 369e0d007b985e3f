"""Parsed JSON values in the checks: integers of any size, literals and bounds over parsed values."""

import dataclasses
import json
import random
import sys
import tracemalloc
from decimal import Decimal
from typing import Annotated, Literal

import pytest
from annotated_types import Ge, Gt, Le, Lt, MaxLen, MinLen

from quendrix import Validator, anything

Pattern = dataclasses.make_dataclass("Pattern", ["pattern"], frozen=True)


@pytest.fixture
def no_digit_limit():
    old = sys.get_int_max_str_digits()
    sys.set_int_max_str_digits(0)
    yield
    sys.set_int_max_str_digits(old)


def digits_of(length, rng):
    return str(rng.randint(1, 9)) + "".join(rng.choice("0123456789") for _ in range(length - 1))


class TestBigIntegers:
    # Around the 64-bit boundary, the 128-bit one, and limb boundaries of the wide road.
    @pytest.mark.parametrize(
        "value",
        [2**63 - 1, 2**63, 2**63 + 1, 2**64 - 1, 2**64, 2**127, 2**128 - 1, 2**128, 10**38 - 1,
         10**38, 10**39, 2**192 - 1, 2**192, 2**256 + 12345, 10**100, 10**1000 - 1, 7**5000],
    )
    def test_values_at_size_boundaries(self, value, no_digit_limit):
        for signed in (value, -value):
            text = str(signed)
            assert anything.load(text) == signed
            assert anything.load(f"[{text}, {text}]") == [signed, signed]

    @pytest.mark.parametrize("length", [19, 20, 37, 38, 39, 40, 57, 58, 77, 78, 97, 155, 156, 4301, 100_003])
    def test_random_digits_match_int_of_str(self, length, no_digit_limit):
        rng = random.Random(length)
        for _ in range(3):
            text = digits_of(length, rng)
            for signed in (text, "-" + text):
                value = anything.load(signed)
                assert type(value) is int and value == int(signed)

    def test_all_nines_and_powers_of_ten(self, no_digit_limit):
        for length in (19, 38, 39, 1000, 50_000):
            assert anything.load("9" * length) == 10**length - 1
            assert anything.load("-1" + "0" * length) == -(10**length)

    def test_huge_integer_on_both_json_roads(self, no_digit_limit):
        text = digits_of(300_000, random.Random(7))
        value = anything.load(text.encode())
        assert value == int(text)
        assert anything.is_valid_json(text) is True


def traced_peak(fn):
    """The most memory Python's allocators held at once while `fn` ran, and its result."""
    tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        result = fn()
        return tracemalloc.get_traced_memory()[1], result
    finally:
        tracemalloc.stop()


def both_roads(schema, document):
    """is_valid_json's answer, after checking that the Python road agrees."""
    validator = Validator(schema)
    answer = validator.is_valid_json(document)
    assert answer is validator.is_valid(json.loads(document))
    return answer


class Spy:
    """Remembers each object it is asked about and answers True."""

    def __init__(self):
        self.seen = []

    def __call__(self, value):
        self.seen.append(value)
        return True


STRS = Literal[tuple(f"v{i}" for i in range(1000))]
INTS = Literal[tuple(range(1000))]
WIDE = 10**40


class TestLiterals:
    @pytest.mark.parametrize(
        "schema, document, valid",
        [
            (STRS, '"v999"', True),
            (STRS, '"v1000"', False),
            (STRS, '"\\u0076\\u0031"', True),
            (STRS, "1", False),
            (INTS, "999", True),
            (INTS, "-1", False),
            (INTS, "1.0", False),
            (INTS, "true", False),
            (INTS, '"1"', False),
            (INTS, "[1]", False),
            (INTS, '{"1": 1}', False),
            (Literal[1, "a", True, None, 2.5], "true", True),
            (Literal[1, "a", True, None, 2.5], "false", False),
            (Literal[1, "a", True, None, 2.5], "null", True),
            (Literal[1, "a", True, None, 2.5], "2.5", True),
            (Literal[1, "a", True, None, 2.5], "1.0", False),
            (Literal[1, "a", True, None, 2.5], '"a"', True),
            (Literal[0.0], "-0.0", True),
            (Literal[-(2**63)], "-9223372036854775808", True),
            (Literal[2**63], "9223372036854775808", True),
            (Literal[2**63, 5], "9223372036854775809", False),
            (Literal[WIDE, -WIDE], str(WIDE), True),
            (Literal[WIDE, -WIDE], str(-WIDE), True),
            (Literal[WIDE, -WIDE], str(WIDE + 1), False),
            (Literal[WIDE, -WIDE], "1" + "0" * 60, False),
            (Literal["\udc80", "é"], '"\\u00e9"', True),
            (Literal["\udc80"], '"\\u00e9"', False),
            (Literal[[1], "x"], "[1]", True),
            (Literal[[1], "x"], "[true]", False),
            (Literal[[1], "x"], "[]", True),
            (Literal[{"a": 1}], '{"a": 2, "a": 1}', True),
            (list[Literal["a", "b"]], '["a", "b", "a"]', True),
            (list[Literal["a", "b"]], '["a", "c"]', False),
            (dict[str, Literal[1, 2]], '{"k": 2, "j": 1}', True),
        ],
    )
    def test_both_roads_agree(self, schema, document, valid, no_digit_limit):
        assert both_roads(schema, document) is valid

    @pytest.mark.parametrize("schema", [STRS, INTS, Literal["a"], Literal[5]])
    def test_a_container_is_not_converted_for_scalar_literals(self, schema):
        validator = Validator(schema)
        for document in ("[" + ",".join(["1"] * 100_000) + "]", "{" + ",".join(f'"k{i}": 1' for i in range(20_000)) + "}"):
            peak, valid = traced_peak(lambda: validator.is_valid_json(document))
            assert valid is False and peak < 100_000

    def test_a_huge_integer_is_not_converted_for_64_bit_literals(self):
        validator = Validator(INTS)
        document = "7" * 500_000
        peak, valid = traced_peak(lambda: validator.is_valid_json(document))
        assert valid is False and peak < 100_000

    def test_each_parsed_value_is_converted_once_per_check(self):
        first, second, third = Spy(), Spy(), Spy()
        validator = Validator(
            Annotated[list, first, MaxLen(0)] | Annotated[list, second, MaxLen(1)] | Annotated[object, third]
        )
        assert validator.is_valid_json("[[1, 2], 3]") is True
        assert len(first.seen) == len(second.seen) == len(third.seen) == 1
        assert first.seen[0] is second.seen[0] is third.seen[0] == [[1, 2], 3]

    def test_unions_of_list_schemas(self):
        validator = Validator(Literal[tuple([i] for i in range(50))])
        assert validator.is_valid_json("[49]") is True
        assert validator.is_valid_json("[50]") is False
        assert validator.is_valid_json("[49.0]") is False


HUGE = "9" * 400
NAN = float("nan")
INF = float("inf")


class TestBounds:
    @pytest.mark.parametrize(
        "schema, documents",
        [
            (Annotated[int, Ge(0)], ["0", "-1", HUGE, "-" + HUGE, "true", "false"]),
            (Annotated[int, Gt(-5)], ["-5", "-4", "-" + HUGE, "9223372036854775808"]),
            (Annotated[int, Le(10**100)], [str(10**100), str(10**100 + 1), str(10**100 - 1), "1" + "0" * 99, HUGE, "-" + HUGE]),
            (Annotated[int, Lt(-(10**30))], [str(-(10**30)), str(-(10**30) - 1), "-" + HUGE, "0", HUGE]),
            (Annotated[int, Ge(2**64)], [str(2**64), str(2**64 - 1), "18446744073709551617", "9223372036854775807"]),
            (Annotated[int, Ge(2**2000)], [str(2**2000), str(2**2000 - 1), HUGE, "1" + "0" * 700]),
            (Annotated[int, Le(-(2**2000))], [str(-(2**2000)), "-" + HUGE, "-1" + "0" * 700]),
            (Annotated[int, Ge(True)], ["0", "1", "true", "false", HUGE]),
            (Annotated[int, Ge(2.5)], ["2", "3", "9007199254740993", "-9223372036854775808", HUGE, "-" + HUGE]),
            (Annotated[int, Le(1e300)], [HUGE[:300], HUGE[:301], "1" + "0" * 300, "1" + "0" * 299]),
            (Annotated[int, Lt(INF)], [HUGE, "-" + HUGE, "5", "9" * 1000]),
            (Annotated[int, Gt(-INF)], [HUGE, "-" + HUGE]),
            (Annotated[int, Ge(NAN)], ["1", HUGE, "true"]),
            (Annotated[float, Ge(0.5)], ["0.5", "0.25", "1e300", "-1e300"]),
            (Annotated[float, Le(3)], ["3.0", "3.0000000000000004", "-1.5"]),
            (Annotated[float, Le(2**63 + 1)], ["9.2233720368547758e18", "1e19"]),
            (Annotated[float, Le(2**70)], ["1e25", "1e20", "-1e30"]),
            (Annotated[int, Ge(1e19)], ["10000000000000000000", "9999999999999999999", "10000000000000000001"]),
            (Annotated[object, Ge(0)], ["null", '"a"', "[1]", '{"a": 1}', "1.5", "-1", HUGE]),
            (Annotated[object, Ge("b")], ['"a"', '"b"', '"ba"', '"é"', '"\\ud83d\\ude00"', '"\\uffff"', "1", "null"]),
            (Annotated[str, Lt("\U0001F600")], ['"\\uffff"', '"\\ud83d\\ude00"', '"\\ud83d\\ude01"']),
            (Annotated[object, Ge(Decimal(5))], ["5", "4", HUGE, "5.5"]),
        ],
    )
    def test_both_roads_agree(self, schema, documents, no_digit_limit):
        for document in documents:
            both_roads(schema, document)

    @pytest.mark.parametrize(
        "bound, valid",
        [(Ge(0), True), (Gt(-1), True), (Le(10**100), False), (Lt(1e308), False), (Ge(-(2**70)), True),
         (Le(-5.5), False)],
    )
    def test_a_huge_integer_is_placed_by_sign_and_digit_count(self, bound, valid):
        validator = Validator(Annotated[int, bound])
        positive, negative = "7" * 500_000, "-" + "7" * 500_000
        peak, answer = traced_peak(lambda: validator.is_valid_json(positive))
        assert answer is valid and peak < 100_000
        peak, answer = traced_peak(lambda: validator.is_valid_json(negative))
        assert answer is (not valid) and peak < 100_000

    def test_a_bound_near_the_value_still_compares_exactly(self, no_digit_limit):
        value = 10**5000 + 3
        for bound, valid in ((value, True), (value + 1, False), (value - 1, True)):
            assert Validator(Annotated[int, Ge(bound)]).is_valid_json(str(value)) is valid

    def test_the_converted_value_is_shared_by_the_constraints_that_need_it(self):
        first, second = Spy(), Spy()
        validator = Validator(Annotated[int, first, Ge(0), second])
        assert validator.is_valid_json("1" + "0" * 50) is True
        assert first.seen == second.seen == [10**50] and first.seen[0] is second.seen[0]


class TestLengths:
    @pytest.mark.parametrize(
        "schema, documents",
        [
            (Annotated[object, MinLen(2)], ['"é中"', '"é"', '"\\ud83d\\ude00x"', "[1]", "[1, 2]", "1", "null", "true", "1.5", HUGE]),
            (Annotated[object, MaxLen(1)], ['"é"', '"ab"', "[]", "[[1, 2]]", "[1, 2]", "{}", '{"a": 1}', "5"]),
            (Annotated[object, MaxLen(1)], ['{"a": 1, "a": 2}', '{"a": 1, "b": 2}', '{"a": 1, "a": 2, "a": 3}']),
            (Annotated[object, MinLen(2)], ['{"a": 1, "a": 2}', '{"a": 1, "b": 2}', '{"a": 1}']),
            (Annotated[object, MinLen(3)], ['{"a": 1, "a": 2, "b": 3}', '{"a": 1, "b": 2, "c": 3}']),
        ],
    )
    def test_both_roads_agree(self, schema, documents, no_digit_limit):
        for document in documents:
            both_roads(schema, document)

    def test_an_array_is_not_converted_for_its_length(self):
        document = "[" + ",".join(["1"] * 100_000) + "]"
        for bound, valid in ((MaxLen(100_000), True), (MinLen(100_001), False)):
            peak, answer = traced_peak(lambda: Validator(Annotated[list[int], bound]).is_valid_json(document))
            assert answer is valid and peak < 100_000

    @pytest.mark.parametrize("document", ["1", "null", "[1]", HUGE])
    def test_a_pattern_refuses_what_is_not_a_string(self, document):
        assert Validator(Annotated[object, Pattern("1")]).is_valid_json(document) is False
        assert Validator(Annotated[object, Pattern("1")]).is_valid_json('"1"') is True


class TestConversions:
    def test_a_container_takes_the_items_already_made(self):
        spy = Spy()
        validator = Validator(Annotated[list[Annotated[list[int], spy]], spy])
        assert validator.is_valid_json("[[1], [2, 3]]") is True
        first, second, outer = spy.seen
        assert outer == [[1], [2, 3]] and outer[0] is first and outer[1] is second

    def test_members_with_repeated_keys_take_the_last_value_made(self):
        spy = Spy()
        validator = Validator(Annotated[dict[str, Annotated[list, spy]], spy])
        assert validator.is_valid_json('{"a": [1], "b": [2], "a": [3]}') is True
        outer = spy.seen[-1]
        assert outer == {"a": [3], "b": [2]}
        assert any(outer["a"] is seen for seen in spy.seen[:-1])

    def test_values_without_a_key_are_remade(self):
        spy = Spy()
        validator = Validator(Annotated[list, spy] | Annotated[list, MinLen(1)])
        assert validator.is_valid_json("[]") is True
        assert spy.seen == [[]]

    def test_records_keys_and_values_check_independently(self):
        # The walk hands a record's keys to catch-all clauses as temporary values.
        spy = Spy()
        validator = Validator(dict[Annotated[str, spy], Annotated[str, spy]])
        assert validator.is_valid_json('{"ab": "ab", "cd": "ef"}') is True
        assert sorted(spy.seen) == ["ab", "ab", "cd", "ef"]
