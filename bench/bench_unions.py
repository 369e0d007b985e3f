"""Union benchmark: tagged unions of records, flat and in recursive trees, against two peers.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_unions.py
Needs `msgspec` and `pydantic` (benchmark peers only; the module never uses them).

Cases:
- a list of 1,000 shapes, each one of 5 records told apart by a Literal key
  "kind", with the key first in each dict and with it last. Peers: msgspec
  converting the dicts to a tagged union of Structs (`msgspec.convert`, strict),
  and pydantic validating TypedDicts as a discriminated union (strict).
- trees of unions of records ({"children": list[u], "type": "a"} or "b"),
  valid and failing in the innermost node, at several depths. Peers: the same
  tagged union in each library. The figures show how time grows with depth.
- lists nested 1,000 to 10,000 deep around an int, failing a recursive union
  of a list, a dict and an int past its 128 levels of recursion: is_valid and
  validate, without peers. The figures show validate's time per 1,000 levels
  staying flat as the depth grows.

Every library must reach the same verdict on each value before it is timed.
Prints the best time per call of each, and each peer's time divided by
quendrix's (above 1: quendrix is faster).
"""

from __future__ import annotations

import argparse
import random
import sys
import time
import timeit
from typing import Annotated, Any, Callable, Literal, TypedDict, Union

import msgspec
import pydantic

import quendrix
from bench_walk import format_time


# ---- A list of five tagged records ----------------------------------------------------------


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Circle(TypedDict):
    kind: Literal["circle"]
    x: float
    y: float
    r: float


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Rect(TypedDict):
    kind: Literal["rect"]
    x: float
    y: float
    w: float
    h: float


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Line(TypedDict):
    kind: Literal["line"]
    x1: float
    y1: float
    x2: float
    y2: float


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Text(TypedDict):
    kind: Literal["text"]
    x: float
    y: float
    text: str
    size: int


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Group(TypedDict):
    kind: Literal["group"]
    name: str
    ids: list[int]


SHAPES = (Circle, Rect, Line, Text, Group)
Shape = Annotated[Union[SHAPES], pydantic.Field(discriminator="kind")]  # type: ignore[valid-type]


class SCircle(msgspec.Struct, tag_field="kind", tag="circle", forbid_unknown_fields=True):
    x: float
    y: float
    r: float


class SRect(msgspec.Struct, tag_field="kind", tag="rect", forbid_unknown_fields=True):
    x: float
    y: float
    w: float
    h: float


class SLine(msgspec.Struct, tag_field="kind", tag="line", forbid_unknown_fields=True):
    x1: float
    y1: float
    x2: float
    y2: float


class SText(msgspec.Struct, tag_field="kind", tag="text", forbid_unknown_fields=True):
    x: float
    y: float
    text: str
    size: int


class SGroup(msgspec.Struct, tag_field="kind", tag="group", forbid_unknown_fields=True):
    name: str
    ids: list[int]


SShape = Union[SCircle, SRect, SLine, SText, SGroup]


def make_shape(rng: random.Random, i: int, tag_last: bool) -> dict[str, Any]:
    f = lambda: rng.random() * 100  # noqa: E731
    kind = ("circle", "rect", "line", "text", "group")[i % 5]
    body = {
        "circle": lambda: {"x": f(), "y": f(), "r": f()},
        "rect": lambda: {"x": f(), "y": f(), "w": f(), "h": f()},
        "line": lambda: {"x1": f(), "y1": f(), "x2": f(), "y2": f()},
        "text": lambda: {"x": f(), "y": f(), "text": f"label {i}", "size": 12},
        "group": lambda: {"name": f"g{i}", "ids": [i, i + 1, i + 2]},
    }[kind]()
    return {**body, "kind": kind} if tag_last else {"kind": kind, **body}


# ---- Trees of tagged records ----------------------------------------------------------------


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class NodeA(TypedDict):
    children: list["Node"]
    type: Literal["a"]


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class NodeB(TypedDict):
    children: list["Node"]
    type: Literal["b"]


Node = Annotated[Union[NodeA, NodeB], pydantic.Field(discriminator="type")]


class SNodeA(msgspec.Struct, tag_field="type", tag="a", forbid_unknown_fields=True):
    children: list["SNode"]


class SNodeB(msgspec.Struct, tag_field="type", tag="b", forbid_unknown_fields=True):
    children: list["SNode"]


SNode = Union[SNodeA, SNodeB]

TREE = quendrix.recursive(
    lambda u: quendrix.union({"children": list[u], "type": "a"}, {"children": list[u], "type": "b"})
)


def make_tree(depth: int, last: str) -> dict[str, Any]:
    """A chain `depth` levels deep, children first in each dict, whose innermost type is `last`."""
    node: dict[str, Any] = {"children": [], "type": last}
    for level in range(depth):
        node = {"children": [node], "type": "ab"[level % 2]}
    return node


# ---- Lists nested past the recursion limit -------------------------------------------------

# Each of the 128 levels the walk reaches fails a dict and an int member on
# the whole subtree below it, and the one record at the limit stands for a
# subtree thousands of levels deep.
DEEP_LISTS = quendrix.recursive(lambda s: quendrix.union(list[s], dict[str, s], int))
DEEP_DEPTHS = (1_000, 2_000, 4_000, 10_000)


def nested_list(depth: int) -> Any:
    value: Any = 0
    for _ in range(depth):
        value = [value]
    return value


def best_single_call(fn: Callable[[], Any], budget: float) -> float:
    """CPU seconds of the fastest of up to seven calls, as many as `budget` allows (one at least):
    a call may take seconds here."""
    best, spent = float("inf"), 0.0
    for _ in range(7):
        start = time.process_time()
        fn()
        elapsed = time.process_time() - start
        best, spent = min(best, elapsed), spent + elapsed
        if spent >= budget:
            break
    return best


def deep_list_figures(budget: float) -> None:
    print(f"{'deep failing list':28} {'is_valid':>11} {'validate':>11} {'validate/1,000 levels':>22}")
    for depth in DEEP_DEPTHS:
        value = nested_list(depth)
        if DEEP_LISTS.is_valid(value) or accepted(lambda: DEEP_LISTS.validate(value)):
            raise AssertionError(f"a list {depth} deep passed")
        fast = best_single_call(lambda: DEEP_LISTS.is_valid(value), budget / 2)
        full = best_single_call(lambda: accepted(lambda: DEEP_LISTS.validate(value)), budget / 2)
        print(f"{f'{depth:,} deep':28} {format_time(fast)} {format_time(full)} "
              f"{format_time(full * 1_000 / depth):>22}")
    print()


# ---- Timing ---------------------------------------------------------------------------------


class Case:
    def __init__(self, name: str, validator: Any, adapter: Any, target: Any, value: Any):
        self.name = name
        self.validator = validator
        self.adapter = adapter
        self.target = target
        self.value = value


def accepted(fn: Callable[[], Any]) -> bool:
    try:
        fn()
    except (quendrix.ValidationError, msgspec.ValidationError, pydantic.ValidationError):
        return False
    return True


def cases() -> list[Case]:
    rng = random.Random(20240601)
    shapes = quendrix.union(*SHAPES)
    flat_adapter = pydantic.TypeAdapter(list[Shape], config=pydantic.ConfigDict(strict=True))
    tree_adapter = pydantic.TypeAdapter(Node, config=pydantic.ConfigDict(strict=True))
    out = []
    for tag_last in (False, True):
        value = [make_shape(rng, i, tag_last) for i in range(1_000)]
        where = "last" if tag_last else "first"
        out.append(Case(f"1,000 shapes, tag {where}", quendrix.Validator(list[shapes]),
                        flat_adapter, list[SShape], value))
    for depth in (4, 8, 12, 16):
        for last in ("a", "c"):
            verdict = "valid" if last == "a" else "failing"
            out.append(Case(f"tree depth {depth}, {verdict}", TREE, tree_adapter, SNode,
                            make_tree(depth, last)))
    return out


def best_times(checks: dict[str, Callable[[], Any]], budget: float) -> dict[str, float]:
    """CPU seconds per call of each check: the best of seven rounds, each sized to about
    `budget` / 7, the checks taking turns within each round so that a busy spell of a
    shared machine weighs on all of them alike. CPU time of the process, not wall time."""
    timers = {name: timeit.Timer(fn, timer=time.process_time) for name, fn in checks.items()}
    numbers = {}
    for name, timer in timers.items():
        number, elapsed = timer.autorange()
        numbers[name] = max(1, int(number * (budget / 7) / max(elapsed, 1e-9)))
    best = {name: float("inf") for name in checks}
    for _ in range(7):
        for name, timer in timers.items():
            best[name] = min(best[name], timer.timeit(numbers[name]) / numbers[name])
    return best


def runners(case: Case) -> dict[str, Callable[[], Any]]:
    v, value, adapter, target = case.validator, case.value, case.adapter, case.target

    def quietly(fn: Callable[[], Any]) -> Callable[[], Any]:
        def run() -> Any:
            try:
                fn()
            except (quendrix.ValidationError, msgspec.ValidationError, pydantic.ValidationError):
                pass
        return run

    checks = {
        "quendrix is_valid": lambda: v.is_valid(value),
        "quendrix validate": quietly(lambda: v.validate(value)),
        "msgspec convert": quietly(lambda: msgspec.convert(value, target, strict=True)),
        "pydantic validate": quietly(lambda: adapter.validate_python(value)),
    }
    verdicts = {
        "quendrix": v.is_valid(value),
        "msgspec": accepted(lambda: msgspec.convert(value, target, strict=True)),
        "pydantic": accepted(lambda: adapter.validate_python(value)),
    }
    if len(set(verdicts.values())) != 1:
        raise AssertionError(f"{case.name}: the libraries disagree: {verdicts}")
    return checks


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=1.0, help="seconds per timing (default 1)")
    parser.add_argument("--only", default="", help="run only the cases whose name contains this")
    args = parser.parse_args(argv)
    print(f"python {sys.version.split()[0]}, msgspec {msgspec.__version__}, "
          f"pydantic {pydantic.VERSION}")
    print(f"{'case':28} {'validator':18} {'time':>11}  {'peer/is_valid':>13} {'peer/validate':>13}")
    for case in cases():
        if args.only not in case.name:
            continue
        checks = runners(case)
        times = best_times(checks, args.budget)
        fast, full = times["quendrix is_valid"], times["quendrix validate"]
        for name, t in times.items():
            ratios = ""
            if not name.startswith("quendrix"):
                ratios = f"{t / fast:13.2f} {t / full:13.2f}"
            print(f"{case.name:28} {name:18} {format_time(t)}  {ratios}")
        print()
    if args.only in "deep failing list":
        deep_list_figures(args.budget)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
