"""Per-item check benchmark: bounds, patterns, dict walks and error records against msgspec and pydantic.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_checks.py
Needs `msgspec` and `pydantic` (benchmark peers only; the module never uses them).
Every workload first checks that all libraries reach the same verdict on its
value, then prints the best time per call of each, each peer's time divided
by quendrix's (above 1: quendrix is faster), and, for the collection
workloads, quendrix's time per item; last, the cost of a dict entry relative
to a list item, and of one error record of `validate`.
"""

from __future__ import annotations

import argparse
import random
import string
import sys
from typing import Annotated, Any, Callable, TypedDict

import annotated_types
import msgspec
import pydantic

import quendrix
from bench_walk import best_time, format_time

PATTERN = r"^[a-z]+-[0-9]{3}$"


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Row(TypedDict):
    id: int
    name: str
    score: float
    active: bool


class Workload:
    """One schema in each library's spelling, a value, and the verdict all must reach."""

    def __init__(self, name: str, spec: Any, value: Any, items: int, member: bool = True,
                 msgspec_spec: Any = None, pydantic_spec: Any = None):
        self.name = name
        self.spec = spec
        self.msgspec_spec = spec if msgspec_spec is None else msgspec_spec
        self.pydantic_spec = spec if pydantic_spec is None else pydantic_spec
        self.value = value
        self.items = items
        self.member = member


def workloads() -> list[Workload]:
    rng = random.Random(20260601)
    ints = [rng.randrange(0, 1_000_000) for _ in range(1_000)]
    words = ["".join(rng.choices(string.ascii_lowercase, k=rng.randint(3, 12)))
             + f"-{rng.randrange(1000):03d}" for _ in range(1_000)]
    bad_rows = [{"id": str(i), "name": i, "score": 0.5, "active": True} for i in range(10_000)]
    return [
        Workload("list of 1,000 ints", list[int], ints, 1_000),
        Workload("dict of 1,000 str: int", dict[str, int], {f"k{i}": v for i, v in enumerate(ints)},
                 1_000),
        Workload("list of 1,000 bounded ints",
                 list[Annotated[int, annotated_types.Ge(0), annotated_types.Le(1_000_000)]], ints,
                 1_000, msgspec_spec=list[Annotated[int, msgspec.Meta(ge=0, le=1_000_000)]]),
        Workload("list of 1,000 patterned strs",
                 list[Annotated[str, pydantic.StringConstraints(pattern=PATTERN)]], words, 1_000,
                 msgspec_spec=list[Annotated[str, msgspec.Meta(pattern=PATTERN)]]),
        Workload("10,000 rows, two errors each", list[Row], bad_rows, 20_000, member=False),
    ]


def accepts(fn: Callable[[], Any]) -> bool:
    try:
        fn()
    except (quendrix.ValidationError, msgspec.ValidationError, pydantic.ValidationError):
        return False
    return True


def runners(w: Workload) -> dict[str, Callable[[], Any]]:
    validator = quendrix.Validator(w.spec)
    adapter = pydantic.TypeAdapter(w.pydantic_spec, config=None if isinstance(
        w.pydantic_spec, type) else pydantic.ConfigDict(strict=True))
    value, target = w.value, w.msgspec_spec
    checks = {
        "quendrix is_valid": lambda: validator.is_valid(value),
        "quendrix validate": lambda: accepts(lambda: validator.validate(value)),
        "msgspec convert": lambda: accepts(lambda: msgspec.convert(value, target, strict=True)),
        "pydantic validate": lambda: accepts(lambda: adapter.validate_python(value)),
    }
    verdicts = {name: fn() for name, fn in checks.items()}
    if any(v != w.member for v in verdicts.values()):
        raise AssertionError(f"{w.name}: the libraries disagree: {verdicts}")
    return checks


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=1.0, help="seconds per timing (default 1)")
    args = parser.parse_args(argv)
    print(f"python {sys.version.split()[0]}, msgspec {msgspec.__version__}, "
          f"pydantic {pydantic.VERSION}")
    print(f"{'workload':30} {'validator':18} {'time':>11}  {'peer/is_valid':>13} "
          f"{'peer/validate':>13} {'per item':>10}")
    per_item: dict[str, dict[str, float]] = {}
    for w in workloads():
        times = {name: best_time(fn, args.budget) for name, fn in runners(w).items()}
        per_item[w.name] = {name: t / w.items for name, t in times.items()}
        fast, full = times["quendrix is_valid"], times["quendrix validate"]
        for name, t in times.items():
            ratios = f"{'':13} {'':13}"
            if not name.startswith("quendrix"):
                ratios = f"{t / fast:13.2f} {t / full:13.2f}"
            print(f"{w.name:30} {name:18} {format_time(t)}  {ratios} {format_time(t / w.items)}")
        print()
    lists, dicts = per_item["list of 1,000 ints"], per_item["dict of 1,000 str: int"]
    print(f"dict entry / list item, is_valid: "
          f"{dicts['quendrix is_valid'] / lists['quendrix is_valid']:.2f} (target <= 3)")
    rows = per_item["10,000 rows, two errors each"]
    print(f"validate per error record: {format_time(rows['quendrix validate'])} (target <= 0.5 us)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
