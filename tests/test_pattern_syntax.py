"""Pattern syntax Python users write (\\u escapes, verbose and Unicode flags) and long patterns."""

import itertools
import os
import re
import subprocess
import sys
from types import SimpleNamespace as NS
from typing import Annotated

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import Validator as V

SIZE_ERROR = "Compiled regex exceeds size limit of 8388608 bytes."


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
    # A backslash and what follows it are one item, in a comment too: an
    # escaped backslash ends the comment at the line feed, a lone one before
    # the line feed carries the comment on.
    ("(?x)a # c \\\\\n b # d \\\n c", "abc"),
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
    # A count with no lower bound starts at zero.
    (r"a{,2}", "a{,2}"),
    (r"(?:ab){,}c", "abc"),
    (r"a{,2}?b", "ab"),
    (r"[a{,2}]+", "a{,2}b"),
    (r"(?x) a {,2} b", "ab{,2} "),
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
            # A comment cannot hide a backslash that ends the pattern.
            ("(?x)a # c \\", "trailing \\"),
        ],
    )
    def test_description(self, pattern, description):
        with pytest.raises(re.error):
            re.compile(pattern)
        expected = f"invalid regular expression {quoted(pattern)}: {description}"
        assert pattern_error(pattern) == expected

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

class TestLongPatterns:
    @pytest.mark.parametrize("letter", "wDs")
    def test_estimate_agrees_with_engine_at_the_limit(self, letter):
        # Counted classes with few escapes compile in full; the same count
        # written out is judged before its classes are rewritten. Both must
        # draw the line at the same count.
        def accepted(pattern):
            try:
                matcher(pattern)
                return True
            except ValueError as e:
                assert str(e).endswith(SIZE_ERROR)
                return False

        def counted(n):
            return rf"\{letter}{{1000}}" * (n // 1000) + rf"\{letter}{{{n % 1000}}}"

        low, high = 1, 40000
        assert not accepted(counted(high))
        while high - low > 1:
            mid = (low + high) // 2
            low, high = (mid, high) if accepted(counted(mid)) else (low, mid)
        assert accepted(rf"\{letter}" * low)
        assert not accepted(rf"\{letter}" * high)

    @pytest.mark.parametrize(
        "pattern, text, expected",
        [
            # The engine merges alternatives of classes into one class.
            (r"(?:\w|\W)" * 600, "a-" * 300, True),
            (r"(?:\d|\D)" * 3000, "1" * 3000, True),
            (r"(?:\w\d|\w\D)" * 350, "a1" * 350, True),
            # Neighbouring repetitions of one class become one.
            (r"\w*" * 500, "abc", True),
            (r"(?:\w*\w)" * 300, "a" * 299, False),
            (r"\w{0}" * 1000, "", True),
            # Not classes at all.
            (r"\Q\w\E" * 1000, r"\w" * 1000, True),
            (r"\\w" * 1000, "\\w" * 1000, True),
            (r"\s" * 2000, " " * 2000, True),
        ],
    )
    def test_large_but_within_the_limit(self, pattern, text, expected):
        assert matcher(pattern).is_valid(text) is expected

    # AddressSanitizer reserves terabytes of address space up front, so an
    # address-space limit cannot measure memory under it.
    @pytest.mark.skipif(
        "asan" in os.environ.get("LD_PRELOAD", ""), reason="address-space limit under ASan"
    )
    @pytest.mark.parametrize(
        "pattern",
        [
            r"\w" * 20000,
            r"\W" * 20000,
            r"(?:\w\w\w\w)" * 5000,
            r"\w{1000}" * 50,
            # Optional copies are compiled too, unless an unbounded repetition
            # could absorb them.
            r"\w?" * 20000,
            r"(?:\d{0,2}\s?)" * 5000,
        ],
    )
    def test_refused_within_bounded_memory(self, pattern):
        # Run under an address-space limit: rewriting each class of these in
        # full took gigabytes before the engine reported the size.
        script = (
            "import resource, sys\n"
            "from typing import Annotated\n"
            "from types import SimpleNamespace as NS\n"
            "import quendrix\n"
            "limit = 1 << 29\n"
            "resource.setrlimit(resource.RLIMIT_AS, (limit, limit))\n"
            "try:\n"
            "    quendrix.Validator(Annotated[str, NS(pattern=sys.argv[1])])\n"
            "except ValueError as e:\n"
            "    print(str(e)[-60:])\n"
        )
        done = subprocess.run(
            [sys.executable, "-c", script, pattern],
            capture_output=True,
            text=True,
            env={**os.environ, "PYTHONPATH": os.pathsep.join(sys.path)},
        )
        assert done.stdout.strip().endswith(SIZE_ERROR), done.stderr[-400:]
