"""Recursion benchmark: chains of recursive definitions, walked through every entry.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_recursion.py

Cases: a chain of six definitions, each a union of the one below, a list of itself and a
literal (`recursive(lambda s: union(below, list[s], Literal[i]))`), against arrays nested
`depth` levels deep around a string that no literal holds: a non-member that every member of
every union must try at every level. No peer expresses such a schema, so the figures are
quendrix's own times; they show how time grows with depth (linear: twice the depth, about
twice the time).

A walk that named each value by the whole chain of definitions that led to it walked each
level once per chain: depth^6 growth, seconds at depth 30. Pass --max-seconds to skip the
larger depths once one call takes longer than that.
"""

from __future__ import annotations

import argparse
import json
import sys
import time
import timeit
from typing import Any, Callable, Literal

import quendrix
from bench_walk import format_time


def chain(links: int) -> Any:
    v = quendrix.recursive(lambda s: quendrix.union(list[s], Literal[1]))
    for i in range(2, links + 1):
        v = quendrix.recursive(lambda s, below=v, i=i: quendrix.union(below, list[s], Literal[i]))
    return v


def quietly(fn: Callable[[], Any]) -> Callable[[], None]:
    def call() -> None:
        try:
            fn()
        except quendrix.ValidationError:
            pass

    return call


def best_time(fn: Callable[[], None], budget: float) -> float:
    start = time.perf_counter()
    fn()
    once = time.perf_counter() - start
    if once >= budget:
        return once
    timer = timeit.Timer(fn)
    number = max(1, int(budget / 5 / max(once, 1e-9)))
    return min(timer.repeat(repeat=5, number=number)) / number


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=0.5, help="seconds per timing")
    parser.add_argument("--max-seconds", type=float, default=5.0, help="skip deeper cases after")
    args = parser.parse_args(argv)
    v = chain(6)
    entries = {
        "is_valid": lambda value, text: quietly(lambda: v.is_valid(value)),
        "validate": lambda value, text: quietly(lambda: v.validate(value)),
        "is_valid_json": lambda value, text: quietly(lambda: v.is_valid_json(text)),
        "validate_json": lambda value, text: quietly(lambda: v.validate_json(text)),
        "load": lambda value, text: quietly(lambda: v.load(text)),
    }
    depths = [10, 20, 30, 60, 120]
    print("chain of 6 definitions, arrays nested `depth` deep around a non-member string")
    print(f"{'entry':<14}" + "".join(f"{'depth ' + str(d):>14}" for d in depths))
    for name, make in entries.items():
        row = f"{name:<14}"
        slow = False
        for depth in depths:
            text = "[" * depth + '"x"' + "]" * depth
            if slow:
                row += f"{'-':>14}"
                continue
            seconds = best_time(make(json.loads(text), text), args.budget)
            slow = seconds > args.max_seconds
            row += f"{format_time(seconds):>14}"
        print(row)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
