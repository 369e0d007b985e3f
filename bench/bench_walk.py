"""Walk benchmark: quendrix is_valid/validate against msgspec and pydantic in strict mode.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_walk.py
Needs `msgspec` and `pydantic` (benchmark peers only; the module never uses them).
Prints, for each case, the best time per call of each validator and the ratio
of each peer's time to quendrix's (above 1 means quendrix is faster).
"""

from __future__ import annotations

import argparse
import random
import string
import sys
import timeit
from typing import Annotated, Any, Callable, Literal, TypedDict

import annotated_types
import msgspec
import pydantic

import quendrix


# pydantic takes strictness from the TypedDict itself, not from its TypeAdapter.
@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Record(TypedDict):
    id: int
    name: str
    score: float
    active: bool
    tags: list[str]
    parent: int | None
    kind: Literal["a", "b", "c"]
    counts: dict[str, int]
    note: str
    ratio: float


# Anchored so that every library matches the whole string, whatever its default.
PATTERN = r"^[a-z]+-[0-9]{3}$"
WORDS = tuple(f"word{i:02d}" for i in range(50))
Words = Literal[WORDS]  # type: ignore[valid-type]


def make_record(rng: random.Random, i: int) -> dict[str, Any]:
    return {
        "id": i,
        "name": "".join(rng.choices(string.ascii_lowercase, k=8)),
        "score": rng.random() * 100,
        "active": rng.random() < 0.5,
        "tags": [rng.choice(WORDS) for _ in range(3)],
        "parent": None if i % 3 == 0 else i - 1,
        "kind": rng.choice("abc"),
        "counts": {"x": i, "y": i * 2},
        "note": "ok",
        "ratio": i / 7,
    }


class Case:
    """One schema in each library's spelling, and one value that belongs to it."""

    def __init__(self, name: str, spec: Any, value: Any, msgspec_spec: Any = None):
        self.name = name
        self.spec = spec
        self.msgspec_spec = spec if msgspec_spec is None else msgspec_spec
        self.value = value


def cases() -> list[Case]:
    rng = random.Random(20240601)
    return [
        Case("list of 10,000 ints", list[int], list(range(10_000))),
        Case("list of 1,000 records", list[Record], [make_record(rng, i) for i in range(1_000)]),
        Case("union of 50 str literals", Words, WORDS[-1]),
        Case(
            "int with bounds",
            Annotated[int, annotated_types.Ge(0), annotated_types.Le(1_000)],
            512,
            Annotated[int, msgspec.Meta(ge=0, le=1_000)],
        ),
        Case(
            "str with pattern",
            Annotated[str, pydantic.StringConstraints(pattern=PATTERN)],
            "abcdef-123",
            Annotated[str, msgspec.Meta(pattern=PATTERN)],
        ),
        Case("TypedDict of ten fields", Record, make_record(rng, 7)),
    ]


def best_time(fn: Callable[[], Any], budget: float) -> float:
    """Seconds per call: the best of five rounds, each sized to about `budget` / 5."""
    timer = timeit.Timer(fn)
    number, elapsed = timer.autorange()
    per_round = max(1, int(number * (budget / 5) / max(elapsed, 1e-9)))
    return min(timer.repeat(repeat=5, number=per_round)) / per_round


def runners(case: Case) -> dict[str, Callable[[], Any]]:
    validator = quendrix.Validator(case.spec)
    if isinstance(case.spec, type):  # a TypedDict carries its own (strict) config
        adapter = pydantic.TypeAdapter(case.spec)
    else:
        adapter = pydantic.TypeAdapter(case.spec, config=pydantic.ConfigDict(strict=True))
    value, target = case.value, case.msgspec_spec
    checks = {
        "quendrix is_valid": lambda: validator.is_valid(value),
        "quendrix validate": lambda: validator.validate(value),
        "msgspec convert": lambda: msgspec.convert(value, target, strict=True),
        "pydantic validate": lambda: adapter.validate_python(value),
    }
    if not validator.is_valid(value):
        raise AssertionError(f"{case.name}: quendrix rejects the sample value")
    for fn in checks.values():
        fn()  # every peer accepts the sample too, or the comparison means nothing
    return checks


def format_time(seconds: float) -> str:
    if seconds >= 1e-3:
        return f"{seconds * 1e3:8.2f} ms"
    if seconds >= 1e-6:
        return f"{seconds * 1e6:8.2f} us"
    return f"{seconds * 1e9:8.1f} ns"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=1.0, help="seconds per timing (default 1)")
    args = parser.parse_args(argv)
    print(f"python {sys.version.split()[0]}, msgspec {msgspec.__version__}, "
          f"pydantic {pydantic.VERSION}")
    print(f"{'case':28} {'validator':18} {'time':>11}  {'peer/is_valid':>13} {'peer/validate':>13}")
    for case in cases():
        try:
            checks = runners(case)
        except Exception as exc:  # a case the module cannot build yet is reported, not fatal
            print(f"{case.name:28} skipped: {type(exc).__name__}: {exc}")
            continue
        times = {name: best_time(fn, args.budget) for name, fn in checks.items()}
        fast, full = times["quendrix is_valid"], times["quendrix validate"]
        for name, t in times.items():
            ratios = ""
            if not name.startswith("quendrix"):
                ratios = f"{t / fast:13.2f} {t / full:13.2f}"
            print(f"{case.name:28} {name:18} {format_time(t)}  {ratios}")
        print()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
