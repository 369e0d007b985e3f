"""JSON values benchmark: unions of many literals and huge integers, quendrix against msgspec, pydantic and json.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_json_values.py
Needs `msgspec` and `pydantic` (benchmark peers only; the module never uses
them). Prints the best CPU time per call of each entry and, per case, each
peer's time divided by quendrix's (above 1: quendrix is faster). The huge
integer cases also print quendrix's time for a 10-million-digit integer
divided by its time for a 10 MB document of small integers.
"""

from __future__ import annotations

import argparse
import json
import sys
import time
from typing import Annotated, Callable, Literal

import msgspec
import pydantic
from annotated_types import Ge, Le

import quendrix


def best_time(fn: Callable[[], object], budget: float) -> float:
    """Best CPU seconds per call over about `budget` seconds (at least three calls)."""
    best = float("inf")
    spent = 0.0
    calls = 0
    while calls < 3 or spent < budget:
        start = time.process_time()
        fn()
        elapsed = time.process_time() - start
        best = min(best, elapsed)
        spent += elapsed
        calls += 1
    return best


def report(label: str, entries: dict[str, Callable[[], object]], ours: str, budget: float) -> dict[str, float]:
    times = {name: best_time(fn, budget) for name, fn in entries.items()}
    print(f"\n{label}")
    for name, seconds in times.items():
        print(f"  {name:44s} {seconds * 1e3:11.3f} ms")
    for name, seconds in times.items():
        if name != ours and not name.startswith("quendrix"):
            print(f"  {name + ' / ' + ours:72s} {seconds / times[ours]:8.2f}")
    return times


def refused(fn: Callable[[], object]) -> Callable[[], None]:
    """A peer call that is expected to raise its validation error."""

    def call() -> None:
        try:
            fn()
        except (msgspec.ValidationError, pydantic.ValidationError):
            return
        raise AssertionError("the peer accepted a document that is not a member")

    return call


def literal_cases(budget: float) -> None:
    strs = tuple(f"v{i}" for i in range(1000))
    ints = tuple(range(10_000))
    array = ("[" + ",".join(["1"] * 100_000) + "]").encode()
    for label, members in (("1000 str literals", strs), ("10000 int literals", ints)):
        schema = Literal[members]
        ours = quendrix.Validator(schema)
        adapter = pydantic.TypeAdapter(schema)
        assert ours.is_valid_json(array) is False
        report(
            f"{label} against an array of 100000 ints ({len(array):,} bytes)",
            {
                "quendrix is_valid_json": lambda: ours.is_valid_json(array),
                "quendrix is_valid(json.loads)": lambda: ours.is_valid(json.loads(array)),
                "msgspec decode(type=Literal)": refused(lambda: msgspec.json.decode(array, type=schema)),
                "pydantic validate_json": refused(lambda: adapter.validate_json(array)),
            },
            "quendrix is_valid_json",
            budget,
        )
    members = list(range(10_000))
    listed = list[Literal[tuple(members)]]
    document = json.dumps([members[(i * 7919) % len(members)] for i in range(100_000)]).encode()
    ours = quendrix.Validator(listed)
    adapter = pydantic.TypeAdapter(listed)
    assert ours.is_valid_json(document)
    report(
        f"list of Literal[10000 ints], 100000 members ({len(document):,} bytes)",
        {
            "quendrix is_valid_json": lambda: ours.is_valid_json(document),
            "msgspec decode(type=list[Literal])": lambda: msgspec.json.decode(document, type=listed),
            "pydantic validate_json": lambda: adapter.validate_json(document),
        },
        "quendrix is_valid_json",
        budget,
    )


def integer_cases(budget: float) -> None:
    sys.set_int_max_str_digits(0)
    small = ("[" + ",".join(["12345678"] * (10**7 // 9)) + "]").encode()
    huge = b"1" * 10**7
    million = b"1" * 10**6
    anything = quendrix.anything
    times = report(
        "huge integers: load",
        {
            "quendrix anything.load 10 MB of small ints": lambda: anything.load(small),
            "quendrix anything.load 10^7 digits": lambda: anything.load(huge),
            "quendrix anything.load 10^6 digits": lambda: anything.load(million),
            "json.loads 10^6 digits": lambda: json.loads(million),
        },
        "quendrix anything.load 10^6 digits",
        budget,
    )
    ratio = times["quendrix anything.load 10^7 digits"] / times["quendrix anything.load 10 MB of small ints"]
    print(f"  {'10^7 digits / 10 MB of small ints (quendrix)':72s} {ratio:8.2f}")
    checks = {
        "Ge(0)": quendrix.Validator(Annotated[int, Ge(0)]),
        "Le(10**100)": quendrix.Validator(Annotated[int, Le(10**100)]),
        "Literal[1000 ints]": quendrix.Validator(Literal[tuple(range(1000))]),
    }
    assert checks["Ge(0)"].is_valid_json(huge) and not checks["Le(10**100)"].is_valid_json(huge)
    entries = {f"quendrix is_valid_json {name}": (lambda v=v: v.is_valid_json(huge)) for name, v in checks.items()}
    entries["quendrix anything.load 10 MB of small ints"] = lambda: anything.load(small)
    times = report("huge integers: is_valid_json of 10^7 digits", entries, "quendrix anything.load 10 MB of small ints", budget)
    for name in checks:
        ratio = times[f"quendrix is_valid_json {name}"] / times["quendrix anything.load 10 MB of small ints"]
        print(f"  {name + ' / 10 MB of small ints (quendrix)':72s} {ratio:8.2f}")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=1.0, help="seconds of timing per entry")
    args = parser.parse_args()
    print(f"Python {sys.version.split()[0]}, quendrix from {quendrix.__file__}")
    literal_cases(args.budget)
    integer_cases(args.budget)


if __name__ == "__main__":
    main()
