"""JSON benchmark: quendrix is_valid_json, validate_json and load against msgspec, pydantic, orjson and json.

Run from the repository root with the module importable, for example:
    PYTHONPATH=build/dev .venv/bin/python bench/bench_json.py
Needs `msgspec`, `pydantic` and `orjson` (benchmark peers only; the module never
uses them). For a document of about 100 KB and one of about 1 MB (a list of
records of ten mixed fields) it prints the best time per call of each entry and
each peer's time divided by quendrix's (above 1: quendrix is faster; CPU time
of the process, best of several runs), then is_valid_json against orjson.loads
on a document of about 10 MB, then the peak memory that is_valid_json adds, relative to the document's size.
Last, records too wide to be checked member by member (65 and 4000 optional
fields and a str -> int clause) against one object of 100000 undeclared keys:
each entry's time, and the 4000-field time divided by the 65-field one (near
1: the cost follows the document, not the field count). `--wide-only` runs
just that case.
"""

from __future__ import annotations

import argparse
import json
import os
import random
import string
import subprocess
import sys
import tempfile
import time
import timeit
from typing import Any, Callable, TypedDict

import msgspec
import orjson
import pydantic

import quendrix


# pydantic takes strictness from the TypedDict itself, not from its TypeAdapter.
@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Address(TypedDict):
    city: str
    zip: str


@pydantic.with_config(pydantic.ConfigDict(strict=True))
class Record(TypedDict):
    id: int
    name: str
    email: str
    active: bool
    score: float
    age: int
    tags: list[str]
    address: Address
    balance: float | None
    note: str


T = list[Record]


def make_record(rng: random.Random, i: int) -> dict[str, Any]:
    name = "".join(rng.choices(string.ascii_lowercase, k=8))
    return {
        "id": i,
        "name": name,
        "email": f"{name}@example.com",
        "active": rng.random() < 0.5,
        "score": rng.random() * 100,
        "age": rng.randint(18, 90),
        "tags": rng.sample(["red", "green", "blue", "cyan", "gold"], k=rng.randint(0, 3)),
        "address": {"city": rng.choice(["Oslo", "Lyon", "Kraków", "Porto", "Zürich"]), "zip": f"{i % 100000:05d}"},
        "balance": None if i % 5 == 0 else round(rng.uniform(-1e4, 1e4), 2),
        "note": "naïve café" if i % 7 == 0 else f"plain note number {i}",
    }


def make_document(size: int, seed: int = 0) -> bytes:
    """A JSON list of records, grown until it is at least `size` bytes."""
    rng = random.Random(seed)
    per_record = len(json.dumps(make_record(rng, 0), ensure_ascii=False).encode())
    count = max(1, size // (per_record + 1))
    return json.dumps([make_record(rng, i) for i in range(count)], ensure_ascii=False).encode()


def best_times(entries: dict[str, Callable[[], object]], budget: float) -> dict[str, float]:
    """Best seconds per call of each entry. CPU time of this process: every
    entry runs on one thread, and other load on the machine disturbs CPU time
    less than wall time. Rounds visit every entry in turn, so that a busy
    spell of the machine does not fall on one entry alone."""
    timers = {name: timeit.Timer(fn, timer=time.process_time) for name, fn in entries.items()}
    numbers = {name: timer.autorange()[0] for name, timer in timers.items()}  # about 0.2 s each
    best = {name: float("inf") for name in entries}
    for _ in range(max(5, int(budget / 0.2))):
        for name, timer in timers.items():
            best[name] = min(best[name], timer.timeit(numbers[name]) / numbers[name])
    return best


def run_case(label: str, data: bytes, budget: float) -> dict[str, float]:
    typed = quendrix.Validator(T)
    msgspec_decoder = msgspec.json.Decoder(T)
    adapter = pydantic.TypeAdapter(T)
    # The peers must agree that the document is valid before their times mean anything.
    assert typed.is_valid_json(data)
    assert typed.load(data) == json.loads(data) == msgspec_decoder.decode(data)
    adapter.validate_json(data, strict=True)

    entries = {
        "quendrix is_valid_json": lambda: typed.is_valid_json(data),
        "quendrix validate_json": lambda: typed.validate_json(data),
        "quendrix load": lambda: typed.load(data),
        "quendrix anything.load": lambda: quendrix.anything.load(data),
        "msgspec decode(type=T)": lambda: msgspec.json.decode(data, type=T),
        "msgspec Decoder(T)": lambda: msgspec_decoder.decode(data),
        "pydantic validate_json strict": lambda: adapter.validate_json(data, strict=True),
        "orjson.loads": lambda: orjson.loads(data),
        "json.loads": lambda: json.loads(data),
    }
    ratios = [
        ("msgspec decode(type=T) / is_valid_json", "msgspec decode(type=T)", "quendrix is_valid_json"),
        ("pydantic strict / is_valid_json", "pydantic validate_json strict", "quendrix is_valid_json"),
        ("orjson.loads / is_valid_json", "orjson.loads", "quendrix is_valid_json"),
        ("msgspec decode(type=T) / validate_json", "msgspec decode(type=T)", "quendrix validate_json"),
        ("msgspec decode(type=T) / load", "msgspec decode(type=T)", "quendrix load"),
        ("pydantic strict / validate_json", "pydantic validate_json strict", "quendrix validate_json"),
        ("pydantic strict / load", "pydantic validate_json strict", "quendrix load"),
        ("anything.load / orjson.loads", "quendrix anything.load", "orjson.loads"),
        ("json.loads / anything.load", "json.loads", "quendrix anything.load"),
    ]
    return report(label, data, best_times(entries, budget), ratios)


def report(label: str, data: bytes, times: dict[str, float], ratios: list[tuple[str, str, str]]) -> dict[str, float]:
    """Prints each entry's best time and throughput, then each (text, top, bottom) ratio."""
    print(f"\n{label}: {len(data):,} bytes")
    for name, seconds in times.items():
        print(f"  {name:32s} {seconds * 1e3:9.3f} ms ({len(data) / seconds / 1e6:7.1f} MB/s)")
    for text, top, bottom in ratios:
        print(f"  {text:44s} {times[top] / times[bottom]:6.2f}")
    return times


def run_large_case(label: str, data: bytes, budget: float) -> None:
    """is_valid_json on a large document against orjson.loads, which builds every object."""
    typed = quendrix.Validator(T)
    assert typed.is_valid_json(data)
    assert orjson.loads(data) == json.loads(data) == typed.load(data)
    entries = {
        "quendrix is_valid_json": lambda: typed.is_valid_json(data),
        "orjson.loads": lambda: orjson.loads(data),
    }
    ratios = [("orjson.loads / is_valid_json", "orjson.loads", "quendrix is_valid_json")]
    report(label, data, best_times(entries, budget), ratios)


def run_wide_case(budget: float) -> None:
    """Wide records: each key of the object should be looked up once, whatever the field count."""
    data = json.dumps({f"k{i}": i for i in range(100_000)}).encode()
    loaded = json.loads(data)
    entries = {}
    for fields in (65, 4000):
        wide = quendrix.Validator({f"f{i}?": int for i in range(fields)} | {str: int})
        assert wide.is_valid_json(data) and wide.is_valid(loaded) and wide.load(data) == loaded
        entries |= {
            f"is_valid_json, {fields} fields": lambda v=wide: v.is_valid_json(data),
            f"validate_json, {fields} fields": lambda v=wide: v.validate_json(data),
            f"load, {fields} fields": lambda v=wide: v.load(data),
            f"is_valid(loaded), {fields} fields": lambda v=wide: v.is_valid(loaded),
        }
    entry_names = ("is_valid_json", "validate_json", "load", "is_valid(loaded)")
    ratios = [
        (f"{name}: 4000 / 65 fields", f"{name}, 4000 fields", f"{name}, 65 fields") for name in entry_names
    ]
    label = "Records of 65 and 4000 fields, an object of 100000 undeclared keys"
    report(label, data, best_times(entries, budget), ratios)


# Run in a fresh interpreter that imports nothing heavy, so the arena cannot
# reuse memory freed by earlier imports and hide its own peak. The peak is the
# kernel's high-water mark of the resident set, reset just before the call.
PEAK_PROBE = """
import sys
from typing import TypedDict
import quendrix

class Address(TypedDict):
    city: str
    zip: str

class Record(TypedDict):
    id: int
    name: str
    email: str
    active: bool
    score: float
    age: int
    tags: list[str]
    address: Address
    balance: float | None
    note: str

with open(sys.argv[1], "rb") as handle:
    data = handle.read()
validator = quendrix.Validator(list[Record])
validator.is_valid_json(b"[]")

def status(field):
    with open("/proc/self/status") as handle:
        for line in handle:
            if line.startswith(field):
                return int(line.split()[1]) * 1024

# Reset this process's peak resident size to its current size (Linux).
with open("/proc/self/clear_refs", "w") as handle:
    handle.write("5")
resident = status("VmRSS:")
assert validator.is_valid_json(data)
print(status("VmHWM:") - resident)
"""


def peak_memory(data: bytes) -> int:
    """Bytes that one is_valid_json call adds to the process's peak resident size,
    measured in a fresh interpreter that holds nothing but the document."""
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as handle:
        handle.write(data)
    try:
        env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
        out = subprocess.run([sys.executable, "-c", PEAK_PROBE, handle.name], env=env, check=True,
                             capture_output=True, text=True)
        return int(out.stdout.strip())
    finally:
        os.unlink(handle.name)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=2.0, help="seconds of timing per entry")
    parser.add_argument("--wide-only", action="store_true", help="run only the wide records case")
    args = parser.parse_args()
    print(f"Python {sys.version.split()[0]}, quendrix from {os.path.dirname(quendrix.__file__)}")
    if args.wide_only:
        run_wide_case(args.budget)
        return
    for label, size in (("~100 KB", 100_000), ("~1 MB", 1_000_000)):
        run_case(label, make_document(size), args.budget)
    run_large_case("~10 MB", make_document(10_000_000), args.budget)
    print("\nPeak memory added by is_valid_json (fresh process, resident set):")
    for size in (1_000_000, 10_000_000):
        data = make_document(size, seed=1)
        added = peak_memory(data)
        print(f"  document {len(data):>12,} bytes: +{added:>12,} bytes ({added / len(data):.2f}x the document)")
    run_wide_case(args.budget)


if __name__ == "__main__":
    main()
