"""Pattern syntax Python users write: \\u escapes, the verbose and Unicode flags."""

import itertools
import re
from types import SimpleNamespace as NS
from typing import Annotated

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import Validator as V

def matcher(pattern):
    return V(Annotated[str, NS(pattern=pattern)])


def pattern_error(pattern):
    with pytest.raises(ValueError) as info:
        matcher(pattern)
    return str(info.value)


def quoted(pattern):
    return '"' + pattern.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n") + '"'


# Each pattern comes with the small alphabet its strings are drawn from.
AGREEMENT = [
    # \u and \U escapes, outside and inside brackets, in ranges, beyond the BMP.
    (r"\u00e9+", "eé\u00c9x"),
    (r"[a-z\u00e9]+", "aeézZ\u00e8"),
    (r"[\u00e0-\u00ff]*", "\u00df\u00e0\u00f0\u00ff\u0100a"),
    (r"\U0001F600|\U0001f601", "\U0001F600\U0001F601\U0001F602a"),
    (r"[\U0001F600-\U0001F64F]{2}", "\U0001F5FF\U0001F600\U0001F620\U0001F64Fa"),
    (r"\u0041\u0062", "AaBb"),
    (r"(?i)\u00e9", "\u00e9\u00c9e"),
    (r"[\u005d\u002d]+", "]-a\\"),
    (r"[a\u002dz]+", "az-by"),
    (r"\u002a\u005c", "*\\a"),
    (r"\\u0041", "\\uA0041"),
    (r"\x41\u0042", "AB\\x"),
    # The verbose flag: white space and comments between items are dropped.
    (r"(?x) a b c ", "abc "),
    ("(?x)a # a comment\n b", "ab #\n"),
    ("(?x)a#to the end", "a#t"),
    (r"(?x) a \ b", "ab "),
    ("(?x)a\\\tb", "ab\t"),
    (r"(?x)[ a]+", "a b"),
    (r"(?x)[#a]+", "a#b"),
    (r"(?x)\#a", "#a "),
    (r"(?x) a * b + c ?", "abc"),
    (r"(?x) a *? b", "ab"),
    (r"(?x)a {2} b{1, 2}", "ab{}1, 2"),
    (r"(?x)a{ 1}", "a{} 1"),
    (r"(?x) (?: a | b ) + c", "abc"),
    (r"(?x) (?P<name> a b ) +", "ab"),
    (r"(?x)\d 5", "15 a"),
    (r"(?x)\x41 1", "A1 "),
    (r"(?x)\u0041 B", "AB "),
    (r"(?x)[\u0061-\u0063 ]+", "abcd "),
    ("(?x)a\x0bb\x0c\r", "ab\x0b\x0c\r"),
    ("(?x)a\x1cb\u00a0", "ab\x1c\u00a0"),
    (r"(?x)(?-x: a ) b", "ab "),
    (r"(?x: a b ) c d", "abcd "),
    (r"(?ix) A B", "aAbB "),
    (r"(?xi) a b", "aAbB "),
    (r"(?i)(?x) a b", "aAbB "),
    (r"(?x)(?i) a b", "aAbB "),
    (r"(?x)(?s) a . b", "ab\n "),
    (r"(?imsx) ^ a . b $", "ab\n"),
    (r"(?x) \w+ \s \d", "a1 \u0661\u00e9"),
    ("(?x)", "a "),
    # The Unicode flag: matching is Unicode already.
    (r"(?u)\w+", "a\u00e9_1-"),
    (r"(?u:a)b", "ab"),
    (r"(?iu)\u00e9", "\u00e9\u00c9"),
    (r"(?ux) a b", "ab "),
]


class TestAgreesWithPythonRe:
    @pytest.mark.parametrize("pattern, alphabet", AGREEMENT)
    @settings(max_examples=60, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(data=st.data())
    def test_same_verdict(self, pattern, alphabet, data):
        compiled = re.compile(pattern)
        validator = matcher(pattern)
        text = data.draw(st.text(alphabet=alphabet, max_size=6))
        assert validator.is_valid(text) == bool(compiled.fullmatch(text))

    @pytest.mark.parametrize("pattern, alphabet", AGREEMENT)
    def test_same_verdict_on_matches(self, pattern, alphabet):
        # Random strings seldom match: check strings the pattern does match too.
        compiled = re.compile(pattern)
        validator = matcher(pattern)
        texts = [s for s in all_strings(alphabet, 3) if compiled.fullmatch(s)]
        assert [s for s in texts if not validator.is_valid(s)] == []

    def test_pattern_text_is_kept_as_written(self):
        pattern = "(?x) a  # letter a\n \\u0062"
        validator = matcher(pattern)
        assert validator.is_valid("ab")
        assert repr(validator) == f"Annotated[str, Regex({quoted(pattern)})]"


def all_strings(alphabet, longest):
    return ["".join(t) for n in range(longest + 1) for t in itertools.product(alphabet, repeat=n)]


class TestStillRefused:
    @pytest.mark.parametrize(
        "pattern, description",
        [
            (r"\u12", r"invalid escape sequence: \u12"),
            (r"a\u", r"invalid escape sequence: \u"),
            (r"[\u00e]", r"invalid escape sequence: \u00e"),
            (r"\U0001F60", r"invalid escape sequence: \U0001F60"),
            (r"\U00110000", r"invalid escape sequence: \U00110000"),
            (r"[a-\U00110000]", r"invalid escape sequence: \U00110000"),
            # Joining what white space separates would make a different pattern.
            (r"(?x)a * ?", "bad repetition operator: * ?"),
            (r"(?x)a{2} ?", "bad repetition operator: {2} ?"),
            (r"(?x)( ?:a)", "missing argument to repetition operator: ?"),
            (r"(?x) * a", "missing argument to repetition operator: *"),
            (r"(?x)a | * b", "missing argument to repetition operator: *"),
        ],
    )
    def test_description(self, pattern, description):
        with pytest.raises(re.error):
            re.compile(pattern)
        assert pattern_error(pattern) == f"invalid regular expression {quoted(pattern)}: {description}"

    @pytest.mark.parametrize(
        "pattern",
        [
            # Global flags stand only at the start, as in Python's re.
            r"a(?x) b",
            r" (?x)a",
            r"a|(?x)b",
            r"a(?u)",
            r"(?a)a",
            r"(?au)a",
            r"(?-x)a",
            # Verbose mode does not reach inside a token.
            r"(?x)\x4 1",
            r"(?x)\x 41",
            r"(?x)(? :a)",
            r"(?x)(?P <n>a)",
            r"(?x)(?i :a)",
            r"(?x)\1 2",
            # Nested counts whose product is over the engine's limit.
            r"(a{1,100}){1,100}b",
        ],
    )
    def test_refused(self, pattern):
        assert pattern_error(pattern).startswith(f"invalid regular expression {quoted(pattern)}: ")
