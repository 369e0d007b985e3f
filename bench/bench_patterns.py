"""Pattern benchmark: what keeping case-folded alternation arms apart costs to build and to match.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_patterns.py
On an engine that merges a case-folded arm into an earlier arm holding the
same letter in lower case only ("x|[Xx]" refusing "X"), such arms are wrapped
before the pattern is compiled; a build configured with
QUENDRIX_KEEP_FOLDED_ARMS_APART=ON wraps them on any engine.

Cases: each pattern with arms that need keeping apart stands beside a pattern
that means the same with the folded arm first, which needs nothing. Prints, for
each, the best time to build a validator and to check its strings (all of
them, once each), each pair's ratio (wrapped over in order: what the wrapping
and the merges it stops cost), and whether both reach Python's re's verdict on
every string (an engine with the fault and no wrapping does not).
"""

from __future__ import annotations

import argparse
import re
import sys
from types import SimpleNamespace
from typing import Annotated

import quendrix
from bench_walk import best_time, format_time

# (name, pattern needing its arms kept apart, the same pattern with the folded arm first, strings)
CASES = [
    ("one letter", r"x|[Xx]", r"[Xx]|x", ["x", "X", "y", "xx"]),
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
]


def validator(pattern: str) -> quendrix.Validator:
    return quendrix.Validator(Annotated[str, SimpleNamespace(pattern=pattern)])


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=0.5, help="seconds per timing (default 0.5)")
    args = parser.parse_args(argv)
    print(f"{'case':22} {'build wrapped':>14} {'in order':>11} {'ratio':>6}"
          f" {'check wrapped':>14} {'in order':>11} {'ratio':>6}  same as re")
    for name, wrapped, in_order, texts in CASES:
        figures = []
        agree = True
        for pattern in (wrapped, in_order):
            built = validator(pattern)
            expected = [bool(re.fullmatch(pattern, t)) for t in texts]
            agree = agree and [built.is_valid(t) for t in texts] == expected
            figures.append(best_time(lambda: validator(pattern), args.budget))
            figures.append(best_time(lambda: [built.is_valid(t) for t in texts], args.budget))
        build_w, check_w, build_o, check_o = figures
        print(f"{name:22} {format_time(build_w):>14} {format_time(build_o):>11}"
              f" {build_w / build_o:6.2f} {format_time(check_w):>14} {format_time(check_o):>11}"
              f" {check_w / check_o:6.2f}  {'yes' if agree else 'NO'}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
