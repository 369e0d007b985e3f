"""Build benchmark: building a validator for a 125-field TypedDict, against pydantic and msgspec.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_build.py
Needs `msgspec`, `pydantic` and `annotated_types` (benchmark peers only; the
module never uses them). Prints the best time per build of each library and
each peer's time divided by quendrix's (above 1: quendrix is faster), with
`typing.get_type_hints` alone as the floor every library pays, then the heap
bytes that each kept validator holds, measured by malloc statistics in a child
interpreter whose every allocation goes through malloc.
"""

from __future__ import annotations

import argparse
import ctypes
import gc
import os
import subprocess
import sys
import timeit
from typing import Annotated, Any, Callable, Literal, NotRequired, Optional, TypedDict

import annotated_types as at
import msgspec
import pydantic

import quendrix

FIELD_TYPES = [
    int,
    str,
    float,
    bool,
    int | None,
    list[int],
    dict[str, int],
    Literal["a", "b", "c"],
    Annotated[int, at.Ge(0)],
    NotRequired[str],
    tuple[int, ...],
    Optional[str],
    list[str],
    Annotated[str, at.MaxLen(20)],
    bytes,
]
FIELDS = {f"field_{i:03d}": FIELD_TYPES[i % len(FIELD_TYPES)] for i in range(125)}


def fresh_classes(count: int) -> list[type]:
    """Distinct but equal classes: msgspec and pydantic cache what they build on the class."""
    classes = []
    for i in range(count):
        cls = TypedDict(f"Wide{i}", FIELDS)
        # pydantic takes strictness from the TypedDict itself, not from its TypeAdapter.
        classes.append(pydantic.with_config(pydantic.ConfigDict(strict=True))(cls))
    return classes


BUILDERS: dict[str, Callable[[type], Any]] = {
    "quendrix": quendrix.Validator,
    "msgspec": msgspec.json.Decoder,
    "pydantic": pydantic.TypeAdapter,
}


def best_time(build: Callable[[type], Any], builds: int, rounds: int) -> float:
    """Seconds per build, the best of `rounds` rounds, each over classes never built before."""
    best = float("inf")
    for _ in range(rounds):
        classes = fresh_classes(builds)
        gc.collect()
        start = timeit.default_timer()
        for cls in classes:
            build(cls)
        best = min(best, (timeit.default_timer() - start) / builds)
    return best


def heap_in_use() -> int:
    info = ctypes.CDLL(None).mallinfo2
    info.restype = type("MallInfo2", (ctypes.Structure,), {
        "_fields_": [(name, ctypes.c_size_t) for name in (
            "arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks", "uordblks",
            "fordblks", "keepcost")]})
    stats = info()
    return stats.uordblks + stats.hblkhd


def kept_bytes_child(library: str, count: int) -> None:
    """In a child run under PYTHONMALLOC=malloc: heap bytes held per kept validator."""
    build = BUILDERS[library]
    classes = fresh_classes(count)
    build(TypedDict("Warm", {"x": int}))  # first-use caches are not per validator
    gc.collect()
    before = heap_in_use()
    kept = [build(cls) for cls in classes]
    gc.collect()
    print((heap_in_use() - before) / len(kept))


def kept_bytes(library: str, count: int) -> float:
    env = dict(os.environ, PYTHONMALLOC="malloc")
    out = subprocess.run([sys.executable, __file__, "--kept-child", library, str(count)],
                         env=env, check=True, capture_output=True, text=True).stdout
    return float(out.strip())


def format_time(seconds: float) -> str:
    if seconds >= 1e-3:
        return f"{seconds * 1e3:8.2f} ms"
    return f"{seconds * 1e6:8.1f} us"


def main(argv: list[str]) -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--builds", type=int, default=200, help="builds per round (default 200)")
    parser.add_argument("--rounds", type=int, default=5, help="rounds (default 5)")
    parser.add_argument("--kept", type=int, default=300, help="validators kept (default 300)")
    parser.add_argument("--kept-child", nargs=2, help=argparse.SUPPRESS)
    args = parser.parse_args(argv)
    if args.kept_child:
        kept_bytes_child(args.kept_child[0], int(args.kept_child[1]))
        return 0
    print(f"python {sys.version.split()[0]}, msgspec {msgspec.__version__}, "
          f"pydantic {pydantic.VERSION}; a TypedDict of {len(FIELDS)} fields")
    import typing

    floor = best_time(lambda cls: typing.get_type_hints(cls, include_extras=True),
                      args.builds, args.rounds)
    print(f"{'get_type_hints alone':22} {format_time(floor)}")
    times = {}
    for library, build in BUILDERS.items():
        # pydantic builds slowly: fewer builds per round keep the run short.
        builds = args.builds if library != "pydantic" else max(1, args.builds // 10)
        times[library] = best_time(build, builds, args.rounds)
    print(f"{'build':22} {'time':>11}  {'peer/quendrix':>13}")
    for library, t in times.items():
        ratio = "" if library == "quendrix" else f"{t / times['quendrix']:13.2f}"
        print(f"{library:22} {format_time(t)}  {ratio}")
    print(f"{'kept bytes':22} {'per validator':>13}  {'peer/quendrix':>13}")
    kept = {library: kept_bytes(library, args.kept) for library in BUILDERS}
    for library, size in kept.items():
        ratio = "" if library == "quendrix" else f"{size / kept['quendrix']:13.2f}"
        print(f"{library:22} {size:13.0f}  {ratio}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
