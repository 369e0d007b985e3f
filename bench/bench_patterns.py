"""Pattern benchmark: what spelling out case-folded letters costs to build and to match.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_patterns.py
The engine merges single-character arms of an alternation into one class, and
adds every Unicode fold of a case-folded letter it merges ("[Kk]|a" would match
the Kelvin sign); on some releases it also drops the capital of a folded letter
merged after an arm holding the lower case alone ("x|[Xx]" refusing "X"). Such
letters are spelled out before the pattern is compiled (a build configured
with QUENDRIX_KEEP_FOLDED_ARMS_APART=ON does so for the second fault on any
release); every other pattern is compiled as written.

Cases: each pattern stands beside a companion that means much the same and
needs nothing spelled out: the folded arm first, or the folded letters written
in lower case or renamed. Prints, for each, the best time to build a validator
and to check its strings (all of them, once each), each pair's ratio (pattern
over companion), and whether the pattern reaches Python's re's verdict on every
string. A pattern over the engine's size limit is shown as refused.
"""

from __future__ import annotations

import argparse
import random
import re
import sys
from types import SimpleNamespace
from typing import Annotated

import quendrix
from bench_walk import best_time, format_time


def words(count: int, folded: bool) -> str:
    """`count` distinct words in order, each written "[Ww]ord" when `folded`."""
    rng = random.Random(7)
    letters = "abcdefghijklmnopqrstuvwxyz"
    chosen: set[str] = set()
    while len(chosen) < count:
        chosen.add("".join(rng.choice(letters) for _ in range(rng.randint(5, 9))))
    ordered = sorted(chosen)
    return "|".join(f"[{w[0].upper()}{w[0]}]{w[1:]}" if folded else w for w in ordered)


def word_texts(count: int) -> list[str]:
    first = words(count, False).split("|", 1)[0]
    return [first, first.capitalize(), first + "x", "-"]


SHARED = "x|(?i:x)\\w{200}a|(?i:x)\\w{200}b|(?i:x)\\w{200}c"
SHARED_64 = "x|" + "|".join(f"(?i:x).{{1000}}{c}" for c in "abcdefgh" * 8)

# (name, pattern, companion needing nothing spelled out, strings)
CASES = [
    ("one letter", r"x|[Xx]", r"[Xx]|x", ["x", "X", "y", "xx"]),
    ("Kelvin sign", r"[Kk]|a", r"a|[Jj]", ["k", "K", "\u212a", "a"]),
    ("after a common start", r"ab|a[Bb]", r"a[Bb]|ab", ["ab", "aB", "AB", "a"]),
    ("repeated", r"(?:x|[Xx])+", r"(?:[Xx]|x)+", ["xXxX" * 8, "xXy"]),
    ("100 groups", r"(?:ab|a[Bb])" * 100, r"(?:a[Bb]|ab)" * 100, ["aB" * 100, "ab" * 99 + "Ab"]),
    ("10,000 groups", r"(?:x|[Xx])" * 10_000, r"(?:[Xx]|x)" * 10_000, ["xX" * 5_000]),
    (
        "words",
        r"(?:[a-z]+|(?i:id))-\d{3}|[a-z]+@(?:com|[Oo]rg)",
        r"(?:(?i:id)|[a-z]+)-\d{3}|[a-z]+@(?:[Oo]rg|com)",
        ["abc-123", "ID-007", "name@Org", "name@ORG", "x-12"],
    ),
    ("100 [Ww]ords", words(100, True), words(100, False), word_texts(100)),
    ("1,000 [Ww]ords", words(1_000, True), words(1_000, False), word_texts(1_000)),
    ("92,000 [Ww]ords", words(92_000, True), words(92_000, False), word_texts(92_000)),
    ("shared \\w{200}", SHARED, "y" + SHARED[1:], ["X" + "é" * 200 + "c", "X"]),
    ("shared .{1000} x 64", SHARED_64, "y" + SHARED_64[1:], ["X" + "-" * 1000 + "h", "X"]),
]


def validator(pattern: str) -> quendrix.Validator:
    return quendrix.Validator(Annotated[str, SimpleNamespace(pattern=pattern)])


def timings(pattern: str, texts: list[str], budget: float) -> tuple[float, float] | None:
    """Best build and check times, or None when the pattern is refused."""
    try:
        built = validator(pattern)
    except ValueError:
        return None
    build = best_time(lambda: validator(pattern), budget)
    return build, best_time(lambda: [built.is_valid(t) for t in texts], budget)


def same_as_re(pattern: str, texts: list[str]) -> str:
    try:
        built = validator(pattern)
        expected = re.compile(pattern)
    except (ValueError, re.error):
        return "-"
    agree = all(built.is_valid(t) == bool(expected.fullmatch(t)) for t in texts)
    return "yes" if agree else "NO"


def cells(figures: tuple[float, float] | None) -> tuple[str, str]:
    if figures is None:
        return "refused", "refused"
    return format_time(figures[0]), format_time(figures[1])


def ratio(a: tuple[float, float] | None, b: tuple[float, float] | None, k: int) -> str:
    return f"{a[k] / b[k]:6.2f}" if a is not None and b is not None else "     -"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=0.5,
                        help="seconds per timing (default 0.5)")
    args = parser.parse_args(argv)
    print(f"{'case':22} {'build':>11} {'companion':>11} {'ratio':>6}"
          f" {'check':>11} {'companion':>11} {'ratio':>6}  same as re")
    for name, pattern, companion, texts in CASES:
        mine = timings(pattern, texts, args.budget)
        other = timings(companion, texts, args.budget)
        (build_p, check_p), (build_c, check_c) = cells(mine), cells(other)
        print(f"{name:22} {build_p:>11} {build_c:>11} {ratio(mine, other, 0)}"
              f" {check_p:>11} {check_c:>11} {ratio(mine, other, 1)}  {same_as_re(pattern, texts)}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
