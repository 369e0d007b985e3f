"""Pattern constraints at build time and the quoted text that names a pattern in messages."""

import re
import time
from types import SimpleNamespace as NS
from typing import Annotated

import pytest

from quendrix import Validator as V


def pattern_error(pattern):
    with pytest.raises(ValueError) as info:
        V(Annotated[str, NS(pattern=pattern)])
    return str(info.value)


class TestQuotedText:
    # Each pattern ends in an unclosed group, so the engine's text after the
    # quoted pattern is always "missing ): " and the pattern itself.
    @pytest.mark.parametrize(
        "text, quoted",
        [
            ("a", '"a"'),
            ('a"b', r'"a\"b"'),
            ("a\\\\b", r'"a\\\\b"'),
            ("'", '"\'"'),
            ("\t\r\n\x00", r'"\t\r\n\0"'),
            ("a b", '"a b"'),
            ("\x01\x1f\x7f\x85", r'"\u{1}\u{1f}\u{7f}\u{85}"'),
            ("\u00a0\u2003\u3000", r'"\u{a0}\u{2003}\u{3000}"'),
            ("\u2028\u2029", r'"\u{2028}\u{2029}"'),
            ("\u00ad\u200b\u200d\ufeff", r'"\u{ad}\u{200b}\u{200d}\u{feff}"'),
            ("\ue000\U000f0000", r'"\u{e000}\u{f0000}"'),
            ("\u0378\U000e0000", r'"\u{378}\u{e0000}"'),
            ("e\u0301\u20dd", r'"e\u{301}\u{20dd}"'),
            ("\u09be\u0d57\uff9e\U0001d165\U000e0041", r'"\u{9be}\u{d57}\u{ff9e}\u{1d165}\u{e0041}"'),
            ("\u0903", '"\u0903"'),
            ("é€ß\u4e2d\U0001f600", '"é€ß\u4e2d\U0001f600"'),
        ],
    )
    def test_quoting(self, text, quoted):
        pattern = text + "("
        assert pattern_error(pattern) == (
            f"invalid regular expression {quoted[:-1]}(\": missing ): {pattern}"
        )


class TestPatternErrors:
    @pytest.mark.parametrize(
        "pattern, description",
        [
            ("a(", "missing ): a("),
            ("a)", "unexpected ): a)"),
            # Would parse once wrapped in the anchoring group, and then match
            # any text starting with a or ending with b: refused instead.
            ("a)|(b", "unexpected ): a)|(b"),
            ("a**", "bad repetition operator: **"),
            (r"\8", r"invalid escape sequence: \8"),
            ("[z-a]", "invalid character class range: z-a"),
            ("x{1001}", "invalid repetition size: {1001}"),
            (r"\pL{1000}", "Compiled regex exceeds size limit of 8388608 bytes."),
        ],
    )
    def test_engine_description(self, pattern, description):
        quoted = '"' + pattern.replace("\\", "\\\\") + '"'
        assert pattern_error(pattern) == f"invalid regular expression {quoted}: {description}"

    @pytest.mark.parametrize(
        "pattern",
        [
            r"\Qab",
            r"\Qa(\E",
            r"[[:alpha:]\d]+",
            r"[\d-z]",
            r"[^\W\d_]",
            r"[]a]",
            r"\\d",
            r"(?i)\w+\s\S",
            r"(?P<name>\d+)",
            r"\x{41}\p{Greek}\PL",
            "",
        ],
    )
    def test_accepted(self, pattern):
        assert V(Annotated[str, NS(pattern=pattern)]) != V(str)

    def test_engine_syntax_not_python_syntax(self):
        # Possessive quantifiers exist in Python's re but not in the engine.
        assert re.compile("a*+")
        assert pattern_error("a*+").endswith("bad repetition operator: *+")


def matcher(pattern):
    return V(Annotated[str, NS(pattern=pattern)])


def class_edges():
    """Code points on both sides of every edge of Python's \\d, \\w and \\s classes."""
    tests = (str.isdecimal, lambda c: c.isalnum() or c == "_", str.isspace)
    edges = set()
    previous = [t("\0") for t in tests]
    for cp in range(1, 0x110000):
        if 0xD800 <= cp <= 0xDFFF:
            continue
        ch = chr(cp)
        for i, t in enumerate(tests):
            now = t(ch)
            if now != previous[i]:
                edges.update((cp - 1, cp))
                previous[i] = now
    return sorted(cp for cp in edges if not 0xD800 <= cp <= 0xDFFF)


class TestPerlClassesAreUnicode:
    EDGES = class_edges()

    @pytest.mark.parametrize(
        "pattern",
        [r"\d", r"\w", r"\s", r"\D", r"\W", r"\S", r"[\d]", r"[^\d]", r"[\W]", r"[^\W\d_]",
         r"[\s\d]", r"[^\S]", r"(?i)\w", r"(?i)\W", r"(?i)[^\D]"],
    )
    def test_same_verdict_as_python_re(self, pattern):
        v = matcher(pattern)
        compiled = re.compile(pattern)
        wrong = [
            hex(cp) for cp in self.EDGES
            if v.is_valid(chr(cp)) != bool(compiled.fullmatch(chr(cp)))
        ]
        assert wrong == []


class TestWholeStringMatch:
    @pytest.mark.parametrize(
        "pattern, text",
        [
            ("a|b", "ab"),
            ("a|b", "b"),
            ("a", "ba"),
            ("a", "ab"),
            ("a*", ""),
            ("(?i)abc", "ABC"),
            (r"\\d", "\\d"),
            (r"\\d", "1"),
            (r"[]a]+", "]a]"),
            (r"\d+", "١٢٣"),
            (r"\w+", "héllo_ñ"),
            (r"\s", "\u2003"),
            ("a$", "a\n"),
            ("", ""),
            ("", "a"),
        ],
    )
    def test_same_verdict_as_python_re(self, pattern, text):
        assert matcher(pattern).is_valid(text) == bool(re.fullmatch(pattern, text))

    @pytest.mark.parametrize(
        "pattern, text, expected",
        [
            # Between \Q and \E every character is literal, \d included.
            (r"\Qa.b", "a.b", True),
            (r"\Qa.b", "axb", False),
            (r"\Q\d\E\d", "\\d5", True),
            (r"\Qa(\E", "a(", True),
            # Bracket syntax Python's re lacks: named classes, a class before "-".
            (r"[[:alpha:]\d]+", "ab12", True),
            (r"[[:alpha:]\d]+", "ab-12", False),
            (r"[\d-z]+", "1-z9", True),
            (r"[\d-z]+", "a", False),
        ],
    )
    def test_engine_only_syntax(self, pattern, text, expected):
        assert matcher(pattern).is_valid(text) is expected

    def test_nested_repetition_runs_in_linear_time(self):
        v = matcher(r"(a+)+$")
        text = "a" * 200_000 + "b"
        start = time.perf_counter()
        assert not v.is_valid(text)
        assert v.is_valid("a" * 200_000)
        assert time.perf_counter() - start < 1.0
