"""Timing of is_subtype_of / is_equivalent / is_empty, against beartype's is_subhint where it asks the same.

Run: PYTHONPATH=build/<dir> python bench/bench_decisions.py [--number N] [--widths 8000,16000,32000]
     [--repeats 5000,10000,20000]

The wide-intersection table times is_empty and is_subtype_of(int) on
intersection(*[complement(Literal[i]) for i in range(n)], int) at several
widths n, each once (best of three), with the growth from the previous width:
about 2 per doubling when the work is n log n, 4 when it is quadratic.

The last table times decisions that meet one large tree again at each of
many steps, at several sizes n (each once, best of three), with the growth
per doubling: about 2 when a step costs the same however large the tree, 4
when each step reads the tree in full.
  lists:   Literal[0..n) <= intersection(list[L], complement(list[L'])) | int,
           L and L' n str literals differing in the last
  masks:   n empty intersections <= a union of n intersection(int), list[int]
  tuples:  n tuple[Literal[i]] <= tuple[nothing, int * n] | tuple[int]
  records: n records {"x": Literal[i]} <= a TypedDict of n optional fields and x
  refined: Literal[0..n) <= Annotated[Literal[0..n), predicate], each literal walked

The met-once table times decisions that meet large trees once (best of five):
  records & ~records: intersection(R, complement(R2)).is_empty(), R a record of
           16,000 fields list[Literal[i]] and R2 the same but for its first field
  records <=: Validator(R).is_subtype_of(R2), R2 given as the spec
  enums ==:   1,000 IntEnum literals against the same reversed (past the budget)
  ints ==:    the same with 1,000 int literals
"""

import argparse
import enum
import timeit
from typing import Annotated, Literal, NotRequired, TypedDict

import quendrix as q

try:
    from beartype.door import is_subhint
except ImportError:  # the peer is optional
    is_subhint = None


def typed_dict(name, required, optional=0):
    fields = {f"f{i}": int for i in range(required)}
    fields.update({f"g{i}": NotRequired[str] for i in range(optional)})
    return TypedDict(name, fields)


NARROW = typed_dict("Narrow", 10)
WIDE = typed_dict("Wide", 10, 5)
LITS = Literal[tuple(range(20))]
LITS_REVERSED = Literal[tuple(reversed(range(20)))]
LITS_WIDER = Literal[tuple(range(40))]
Color = enum.Enum("Color", "RED GREEN BLUE")
Small = enum.IntEnum("Small", [f"M{i}" for i in range(20)])

# (name, left spec, right spec, method)
CASES = [
    ("list[bool] <= list[int]", list[bool], list[int], "is_subtype_of"),
    ("list[int] <= list[bool]", list[int], list[bool], "is_subtype_of"),
    ("10-field record <= 15-field", NARROW, WIDE, "is_subtype_of"),
    ("15-field record <= 10-field", WIDE, NARROW, "is_subtype_of"),
    ("20 literals <= 40 literals", LITS, LITS_WIDER, "is_subtype_of"),
    ("20 literals == reversed", LITS, LITS_REVERSED, "is_equivalent"),
    ("enum literal <= its class", Literal[Color.RED], Color, "is_subtype_of"),
    ("20 IntEnum literals <= int", Literal[tuple(Small)], int, "is_subtype_of"),
]


def best_of(fn, number, repeat=5):
    return min(timeit.repeat(fn, number=number, repeat=repeat)) / number


def fmt(seconds):
    return f"{seconds * 1e6:9.2f} us"


def wide_intersections(widths):
    print(f"{'width':>8s} {'is_empty':>12s} {'growth':>7s} {'is_subtype_of(int)':>19s} {'growth':>7s}")
    previous = None
    for n in widths:
        v = q.intersection(*[q.complement(Literal[i]) for i in range(n)], int)
        assert v.is_empty() is False and v.is_subtype_of(int) is True
        times = (best_of(v.is_empty, 1, repeat=3), best_of(lambda: v.is_subtype_of(int), 1, repeat=3))
        growth = [f"{t / p:7.2f}" if previous else f"{'':7s}" for t, p in zip(times, previous or times)]
        print(f"{n:8d} {times[0] * 1e3:9.1f} ms {growth[0]} {times[1] * 1e3:16.1f} ms {growth[1]}")
        previous = times


def repeated_trees(n):
    """(name, left validator, right spec) of the shapes that meet one large tree again."""
    names = [f"s{i}" for i in range(n)]
    wide, last_differs = Literal[tuple(names)], Literal[tuple(names[:-1] + ["other"])]
    lists = q.intersection(list[wide], q.complement(list[last_differs])) | int
    empties = q.union(*[q.intersection(Literal[i], q.nothing) for i in range(n)], Literal[0])
    optional = TypedDict("Optional", {f"f{i}": int for i in range(n)} | {"x": int}, total=False)
    return [
        ("lists", q.Validator(Literal[tuple(range(n))]), lists),
        ("masks", empties, q.union(*[q.intersection(int)] * n, list[int])),
        ("tuples", q.union(*[tuple[Literal[i]] for i in range(n)]),
         q.union(tuple[(q.nothing,) + (int,) * n], tuple[int])),
        ("records", q.union(*[{"x": Literal[i]} for i in range(n)]), optional),
        ("refined", q.Validator(Literal[tuple(range(n))]),
         Annotated[Literal[tuple(range(n))], lambda x: True]),
    ]


def trees_met_again(sizes):
    rows = {}
    for n in sizes:
        for name, left, right in repeated_trees(n):
            assert left.is_subtype_of(right) is True
            rows.setdefault(name, []).append(best_of(lambda: left.is_subtype_of(right), 1, repeat=3))
    print(f"{'shape':8s} " + " ".join(f"{n:>10d} {'growth':>6s}" for n in sizes))
    for name, times in rows.items():
        cells = []
        for t, previous in zip(times, [None] + times[:-1]):
            growth = f"{t / previous:6.2f}" if previous else f"{'':6s}"
            cells.append(f"{t * 1e3:7.1f} ms {growth}")
        print(f"{name:8s} " + " ".join(cells))


def trees_met_once():
    record = {f"f{i}": list[Literal[i]] for i in range(16_000)}
    other = dict(record)
    other["f0"] = list[Literal[-1]]
    beside = q.intersection(record, q.complement(other))
    within = q.Validator(record)
    Many = enum.IntEnum("Many", [f"M{i}" for i in range(1000)])
    members = q.Validator(Literal[tuple(Many)])
    ints = q.Validator(Literal[tuple(range(1000))])
    rows = [
        ("records & ~records", beside.is_empty),
        ("records <=", lambda: within.is_subtype_of(other)),
        ("enums ==", lambda: members.is_equivalent(Literal[tuple(reversed(Many))])),
        ("ints ==", lambda: ints.is_equivalent(Literal[tuple(reversed(range(1000)))])),
    ]
    for name, decide in rows:
        answer = decide()
        print(f"{name:20s} {answer!s:>6s} {best_of(decide, 1, repeat=5) * 1e3:9.2f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--number", type=int, default=2000)
    parser.add_argument("--widths", default="8000,16000,32000")
    parser.add_argument("--repeats", default="5000,10000,20000")
    args = parser.parse_args()
    print(f"{'case':30s} {'answer':>6s} {'other=spec':>12s} {'other=Validator':>15s} "
          f"{'beartype':>12s}")
    for name, left, right, method in CASES:
        v = q.Validator(left)
        other = q.Validator(right)
        decide = getattr(v, method)
        answer = decide(right)
        assert decide(other) == answer
        with_spec = best_of(lambda: decide(right), args.number)
        with_validator = best_of(lambda: decide(other), args.number)
        peer = "n/a"
        if is_subhint is not None:
            if method == "is_subtype_of":
                ask = lambda: is_subhint(left, right)
            else:
                ask = lambda: is_subhint(left, right) and is_subhint(right, left)
            try:
                peer_answer = ask()
                peer = fmt(best_of(ask, args.number))
                if peer_answer != answer:
                    peer += f" (says {peer_answer})"
            except Exception as exc:  # the peer cannot express the question
                peer = type(exc).__name__
        print(f"{name:30s} {answer!s:>6s} {fmt(with_spec):>12s} {fmt(with_validator):>15s} {peer:>12s}")
    empty = q.intersection(list[int], tuple[int, ...])
    print(f"{'is_empty list & tuple':30s} {empty.is_empty()!s:>6s} "
          f"{fmt(best_of(empty.is_empty, args.number)):>12s}")
    print()
    wide_intersections([int(w) for w in args.widths.split(",")])
    print()
    trees_met_again([int(n) for n in args.repeats.split(",")])
    print()
    trees_met_once()


if __name__ == "__main__":
    main()
