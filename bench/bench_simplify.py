"""Timing of Validator.simplify on wide schemas near the node limit.

Run: PYTHONPATH=build/<dir> python bench/bench_simplify.py [--repeat N]
"""

import argparse
import random
import time
from typing import Annotated

import annotated_types as at

import quendrix as q

WIDTH = 50_000


# A plain value is one Literal node (Literal[v] would be a one-member union).


def wide_literal_union():
    # 50,001 nodes. Shuffled so the sort does real work; every object twice
    # (pooled once) so dedup does too.
    values = list(range(WIDTH // 2)) * 2
    random.Random(0).shuffle(values)
    return q.union(*values)


def wide_complemented_union():
    # 33,335 nodes; negation-normal form turns it into an intersection of
    # 33,333 complements (66,667 nodes).
    return q.complement(q.union(*range(WIDTH // 3)))


def wide_mixed_union():
    # About 50,000 nodes: members of several kinds, refinements and nested
    # unions to splice.
    rng = random.Random(1)
    members = []
    for i in range(WIDTH // 6):
        pick = rng.randrange(4)
        if pick == 0:
            members.append(Annotated[int, at.Ge(i)])
        elif pick == 1:
            members.append(list[q.Validator(i)])
        elif pick == 2:
            members.append(q.union(i, -i))
        else:
            members.append(tuple[str, q.Validator(i)])
    return q.union(*members)


CASES = {
    "literal union": wide_literal_union,
    "complemented union": wide_complemented_union,
    "mixed union": wide_mixed_union,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    for name, make in CASES.items():
        v = make()
        best = float("inf")
        for _ in range(args.repeat):
            start = time.perf_counter()
            v.simplify()
            best = min(best, time.perf_counter() - start)
        print(f"{name:20s} {best * 1e3:8.2f} ms")


if __name__ == "__main__":
    main()
