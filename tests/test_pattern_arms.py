"""Alternations whose arms hold one letter both as written and case-folded, against Python's re."""

import itertools
import os
import re
from types import SimpleNamespace as NS
from typing import Annotated

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import Validator as V

EXAMPLES = int(os.environ.get("QX_PROPERTY_EXAMPLES", "300"))

# Every verdict is checked on every string of up to three of these.
ALPHABET = "aAbBxXy0"
TEXTS = ["".join(t) for n in range(4) for t in itertools.product(ALPHABET, repeat=n)]


def matcher(pattern):
    return V(Annotated[str, NS(pattern=pattern)])


def disagreements(pattern):
    compiled = re.compile(pattern)
    validator = matcher(pattern)
    return [s for s in TEXTS if validator.is_valid(s) != bool(compiled.fullmatch(s))]


class TestFoldedArms:
    @pytest.mark.parametrize(
        "pattern",
        [
            r"x|[Xx]",
            r"ab|a[Bb]",
            r"a|(?i:A)",
            # Within a run of single letters and classes.
            r"x|y|[Xx]",
            r"[a-z]|[Bb]",
            r"[a-z]|(?i:b)",
            r"[^A-Z]|[Xx]",
            # Inner alternations, merged before the outer one or taken into it.
            r"(?:x|y)|[Xx]",
            r"x|(?:[Xx]|yb)",
            r"(?:yb|x)|[Xx]",
            r"a(?:x|y)|a[Xx]",
            # Inside repetitions.
            r"(?:x|[Xx])*",
            r"(?:x|[Xx]){2}",
            r"(?:ab|a[Bb])+",
            # Empty arms.
            r"x|[Xx]|",
            r"|x|[Xx]",
            # What is left once the beginning the arms share is factored out.
            r"(?i:a)b|(?i:ab)",
            r"[0-9]a|[0-9][Aa]",
            r"0x|0[Xx]|0y",
            # Written with escapes, or as the complement of every other character.
            r"x|[\x58x]",
            r"x|(?i:\x78)",
            r"x|[^\x00-\x57\x59-\x77\x79-\U0010ffff]",
            # Inside groups of every kind.
            r"(x|[Xx])",
            r"(?P<n>x|[Xx])b",
            r"(?i:(?-i:x)|X)",
        ],
    )
    def test_same_verdict_as_re(self, pattern):
        assert disagreements(pattern) == []

    def test_pattern_text_is_kept_as_written(self):
        validator = matcher("x|[Xx]")
        assert validator.is_valid("X")
        assert repr(validator) == 'Annotated[str, Regex("x|[Xx]")]'

    def test_flags_set_in_an_arm_still_reach_the_arms_after_it(self):
        # The engine reads a flag group in mid-pattern (which Python refuses)
        # as setting the flag up to the end of the group around it, later arms
        # included; keeping the second arm apart must not cut that short.
        validator = matcher("x|[Xx](?i)|b")
        assert [s for s in "xXbBy" if validator.is_valid(s)] == ["x", "X", "b", "B"]

    def test_long_pattern_still_builds(self):
        validator = matcher(r"(?:x|[Xx])" * 20000)
        assert validator.is_valid("xX" * 10000)
        assert not validator.is_valid("xY" * 10000)


# Arms mixing letters as written, case-folded (by the flag i or as a class of
# both cases) and in classes, in groups that may repeat.
ATOMS = [
    "a", "b", "x", "A", "X", "0",
    "[Aa]", "[Xx]", "[xX]", "[ax]", "[a-z]", "[A-Z]", "[^A]", "[^x]",
    "(?i:a)", "(?i:x)", "(?i:ab)", "(?i:[x])", r"\x78", r"[\x41a]", ".",
]


def alternations(pieces, fewest=0):
    arm = st.lists(pieces, min_size=fewest, max_size=3).map("".join)
    return st.lists(arm, min_size=1, max_size=4).map("|".join)


def group(opening, inner, count):
    return st.tuples(opening, inner, count).map(lambda t: f"{t[0]}{t[1]}){t[2]}")


OPENINGS = st.sampled_from(["(?:", "(?i:", "(?-i:", "("])
# Unbounded counts only over arms that take a character each, and never one
# inside another: Python's re backtracks exponentially through nested loops
# that may match nothing.
LOOPS = group(OPENINGS, alternations(st.sampled_from(ATOMS), 1), st.sampled_from(["*", "+"]))
PIECES = st.one_of(st.sampled_from(ATOMS), LOOPS)


def grouped(inner):
    return alternations(st.one_of(PIECES, group(OPENINGS, inner, st.sampled_from(["", "?", "{2}"]))))


PATTERNS = st.tuples(
    st.sampled_from(["", "(?i)"]),
    st.recursive(alternations(PIECES), grouped, max_leaves=4),
).map("".join)


class TestFoldedArmsGenerated:
    @settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(pattern=PATTERNS)
    def test_same_verdict_as_re(self, pattern):
        assert disagreements(pattern) == []
