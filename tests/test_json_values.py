"""Parsed JSON values in the checks: integers of any size, literals and bounds over parsed values."""

import random
import sys

import pytest

from quendrix import anything


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
