"""What decisions cost, as ratios of times taken in one interpreter: a tree met once costs a plain
reading of it, and a decision that meets trees again grows with its input as n log n does."""

import json
import subprocess
import sys
import textwrap

import pytest

# Only a guard against a hang: every assertion is a ratio of two times taken
# in the same process, which a sanitizer build or a loaded machine slows alike.
HANG_GUARD_SECONDS = 900

PRELUDE = """
import enum, json, time
from types import SimpleNamespace as NS
from typing import Annotated, Literal, TypedDict
import quendrix as q

def best(*decisions, rounds=5):
    '''The answer of each decision and its least time, the decisions taken in turn.'''
    answers = [decide() for decide in decisions]
    times = [float("inf")] * len(decisions)
    for _ in range(rounds):
        for i, decide in enumerate(decisions):
            start = time.perf_counter()
            decide()
            times[i] = min(times[i], time.perf_counter() - start)
    return answers, times
"""


def measured(body):
    """What `body` prints as JSON, run after PRELUDE by a fresh interpreter."""
    code = PRELUDE + textwrap.dedent(body)
    try:
        done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                              timeout=HANG_GUARD_SECONDS)
    except subprocess.TimeoutExpired:
        pytest.fail(f"no answer within {HANG_GUARD_SECONDS} s")
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


# A size four times larger costs about four times as much at n log n, and
# sixteen times as much where each step reads a tree in full.
MOST_GROWTH_PER_FOURFOLD = 8.0


class TestTreesMetOnce:
    """Trees compared or read once cost what reading them as they stand costs, not an index of
    them: an index is made only for what a decision meets again."""

    def test_records_differing_in_their_first_field(self):
        # The two records differ at once; an index of both trees for the one
        # comparison cost their intersection and inclusion some 40 and 8
        # times what these reference decisions cost.
        printed = measured(
            """
            n = 16_000
            record = {f"f{i}": list[Literal[i]] for i in range(n)}
            other = dict(record)
            other["f0"] = list[Literal[-1]]
            beside = q.intersection(record, q.complement(other))
            both = q.intersection(record, other)
            left, right, listed = q.Validator(record), q.Validator(other), q.Validator(list[other])
            answers, times = best(beside.is_empty, both.is_empty,
                                  lambda: left.is_subtype_of(right), lambda: left.is_subtype_of(listed))
            print(json.dumps({"answers": answers, "times": times}))
            """
        )
        assert printed["answers"] == [False, False, False, False]
        beside, both, within, within_list = printed["times"]
        # Beside its complement: both records' required fields, then one
        # comparison that stops at the first field.
        assert beside / both < 4
        # Against the other record: its names looked up, no more than the
        # copy of the other tree that every inclusion makes.
        assert within / within_list < 3

    def test_enum_literals_cost_what_int_literals_cost(self):
        # Each pair of literals is a question: the enum class was read again
        # at each, some nine times what the int literals cost.
        printed = measured(
            """
            Members = enum.IntEnum("Members", [f"M{i}" for i in range(1000)])
            members = q.Validator(Literal[tuple(Members)])
            reversed_members = q.Validator(Literal[tuple(reversed(Members))])
            ints = q.Validator(Literal[tuple(range(1000))])
            reversed_ints = q.Validator(Literal[tuple(reversed(range(1000)))])
            answers, times = best(lambda: members.is_equivalent(reversed_members),
                                  lambda: ints.is_equivalent(reversed_ints))
            print(json.dumps({"answers": answers, "times": times}))
            """
        )
        # Past the budget both ways: a thousand literals against a thousand.
        assert printed["answers"] == [False, False]
        enum_time, int_time = printed["times"]
        assert enum_time / int_time < 3


class TestTreesMetAgain:
    """Decisions that meet the same trees at many steps grow as n log n with them, while their
    answers are those of comparing the trees in full."""

    def test_wide_intersections(self):
        # Every decision here asks the emptiness of an intersection of n
        # members, the last inclusion once for every literal on its left.
        printed = measured(
            """
            def wide(values, *more):
                return q.intersection(*[q.complement(Literal[v]) for v in values], *more)

            rows = {}
            for n in (4_000, 16_000):
                ints = wide(range(n), int)
                strs = wide([str(i) for i in range(n)], str)
                decisions = []
                for v, base in [(ints, int), (strs, str)]:
                    decisions += [v.is_empty, lambda v=v, base=base: v.is_subtype_of(base),
                                  lambda v=v: v.is_subtype_of(q.complement(Literal[5])),
                                  lambda v=v, base=base: v.is_equivalent(base)]
                negatives = wide([-1 - i for i in range(n // 2)])
                small = q.Validator(Literal[tuple(range(8))])
                decisions.append(lambda: small.is_subtype_of(negatives | int))
                rows[n] = best(*decisions, rounds=3)
            print(json.dumps(rows))
            """
        )
        expected = [False, True, True, False, False, True, False, False, True]
        for answers, _ in printed.values():
            assert answers == expected
        (_, small), (_, large) = printed.values()
        assert [later / earlier < MOST_GROWTH_PER_FOURFOLD for earlier, later in zip(small, large)] \
            == [True] * len(expected), (small, large)

    @pytest.mark.parametrize(
        "shape",
        [
            # Literals against a list beside the complement of a list whose
            # literals differ from its own in the last one, or nowhere.
            "lists-differing-at-the-end",
            "a-list-and-its-complement",
            # Empty members against a union of n masks and a list.
            "masks",
            # Short tuples against a long empty one.
            "tuples",
            # Small records against a record of n optional fields.
            "records",
        ],
    )
    def test_each_step_costs_the_same_however_large_the_tree(self, shape):
        printed = measured(
            f"""
            def decision(n):
                names = [f"s{{i}}" for i in range(n)]
                wide = Literal[tuple(names)]
                if "{shape}" in ("lists-differing-at-the-end", "a-list-and-its-complement"):
                    operand = wide if "{shape}" == "a-list-and-its-complement" else \\
                        Literal[tuple(names[:-1] + ["other"])]
                    left = q.Validator(Literal[tuple(range(n))])
                    right = q.intersection(list[wide], q.complement(list[operand])) | int
                elif "{shape}" == "masks":
                    left = q.union(*[q.intersection(Literal[i], q.nothing) for i in range(n)],
                                   Literal[0])
                    right = q.union(*[q.intersection(int)] * n, list[int])
                elif "{shape}" == "tuples":
                    left = q.union(*[tuple[Literal[i]] for i in range(n)])
                    right = q.union(tuple[(q.nothing,) + (int,) * n], tuple[int])
                else:
                    left = q.union(*[{{"x": Literal[i]}} for i in range(n)])
                    fields = {{f"f{{i}}": int for i in range(n)}} | {{"x": int}}
                    right = TypedDict("Optional", fields, total=False)
                return lambda: left.is_subtype_of(right)

            rows = [best(decision(n), rounds=3) for n in (5_000, 20_000)]
            print(json.dumps(rows))
            """
        )
        (small_answers, (small,)), (large_answers, (large,)) = printed
        assert small_answers == large_answers == [True]
        assert large / small < MOST_GROWTH_PER_FOURFOLD

    @pytest.mark.parametrize(
        "shape, expected",
        [("ints-in-a-refined-union", True), ("texts-in-a-pattern", True),
         ("texts-in-a-pattern-lacking-the-last", False)],
    )
    def test_literals_walked_against_one_tree(self, shape, expected):
        # Each literal on the left is walked against the same refinement: its
        # wide union of literals is looked up and its pattern compiled once,
        # not scanned or compiled again at each literal.
        printed = measured(
            f"""
            def decision(n):
                if "{shape}" == "ints-in-a-refined-union":
                    ints = Literal[tuple(range(n))]
                    left, right = q.Validator(ints), Annotated[ints, lambda x: True]
                else:
                    texts = [f"a{{i}}" for i in range(n)]
                    alternatives = texts if "{shape}" == "texts-in-a-pattern" else texts[:-1]
                    left = q.Validator(Literal[tuple(texts)])
                    right = Annotated[str, NS(pattern="|".join(alternatives))]
                return lambda: left.is_subtype_of(right)

            sizes = (5_000, 20_000) if "{shape}" == "ints-in-a-refined-union" else (1_000, 4_000)
            print(json.dumps([best(decision(n), rounds=3) for n in sizes]))
            """
        )
        (small_answers, (small,)), (large_answers, (large,)) = printed
        assert small_answers == large_answers == [expected]
        assert large / small < MOST_GROWTH_PER_FOURFOLD
