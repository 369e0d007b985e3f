"""The memo of walks into recursive definitions: every entry answers as the plain walk does,
and chains of definitions cost time linear in the value's depth.

The plain walk is the same check with the value's outermost container replaced by an
instance of a subclass that overrides nothing: the walk reads it as its base type, while the
memo, which opens only for values built of exact builtin types, stays closed. The test build
that opens the memo at a check's first walk runs these on every example; the other build opens
it once enough walks were wasted, which the repeated shapes below bring about."""

import json
import os
import re
import subprocess
import sys
from typing import Annotated, Literal

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator, recursive, union


class PlainList(list):
    pass


class PlainDict(dict):
    pass


def plain(value):
    """The value as the walk reads it, in a form that keeps the memo closed."""
    if isinstance(value, list):
        return PlainList(value)
    if isinstance(value, dict):
        return PlainDict(value)
    return [value]  # callers wrap scalars in a list schema of their own


def records(call):
    try:
        result = call()
    except ValidationError as e:
        return [(r["code"], r["path"], r["expected"], r["value"]) for r in e.errors]
    return ("ok", result)


def python_outcomes(validator, value):
    return {
        "is_valid": validator.is_valid(value),
        "validate": records(lambda: validator.validate(value)),
        "fail_fast": records(lambda: validator.validate(value, fail_fast=True)),
    }


def assert_agrees(validator, value, text=None):
    """Every entry on `value` (and on `text`, a document of it) answers as the plain walk."""
    expected = python_outcomes(validator, plain(value))
    assert python_outcomes(validator, value) == expected
    if text is None:
        return
    assert validator.is_valid_json(text) == expected["is_valid"]
    assert validator.is_valid_json(text.encode()) == expected["is_valid"]
    for entry in ("validate_json", "load"):
        for fail_fast in (False, True):
            got = records(lambda: getattr(validator, entry)(text, fail_fast=fail_fast))
            want = expected["fail_fast" if fail_fast else "validate"]
            if got[0] == "ok" and want[0] == "ok":
                if entry == "load":
                    assert got[1] == json.loads(text)
                continue
            assert got == want


# ---- Chains of recursive definitions ----------------------------------------------------


def chain(leaves, extra=None):
    """union(<the definition below>, list[self], <a leaf>) for each leaf in turn, the first
    without a definition below; `extra(self)` adds a member to each."""
    v = None
    for leaf in leaves:

        def body(s, below=v, leaf=leaf):
            members = [] if below is None else [below]
            members += [list[s], leaf]
            if extra is not None:
                members.append(extra(s))
            return union(*members)

        v = recursive(body)
    return v


E = chain([Literal[1]])
F = recursive(lambda f: union(E, list[f], Literal[2]))
G = recursive(lambda g: union(F, list[g], Literal[3]))
K = recursive(lambda k: union(F, list[k], Annotated[str, re.compile(r"k\d+")]))
T = recursive(lambda t: union(Literal["a"], list[t]))
S = recursive(lambda s: union(list[T], list[union(T, Literal["b"])], Literal["a"]))


def nested(value, depth):
    for _ in range(depth):
        value = [value]
    return value


# Shapes in which values met one after the other by the parser, or freed and made again,
# were taken for each other: each is a non-member the plain walk refuses.
CASES = [
    ("scalars", Validator(list[G]), [3] * 65 + [4]),
    ("keys", Validator(dict[K, int]), {**{f"k{i}": 1 for i in range(70)}, "bad": 1}),
    ("containers", Validator(list[S]), [[nested("a", 63), "b"], ["a"], [5]]),
    ("values", Validator(dict[str, K]), {**{f"x{i}": "k0" for i in range(70)}, "y": "zz"}),
]


class TestValuesAreNotTakenForOthers:
    @pytest.mark.parametrize("name, validator, value", CASES, ids=[c[0] for c in CASES])
    def test_every_entry_refuses(self, name, validator, value):
        assert not validator.is_valid(plain(value))
        assert_agrees(validator, value, json.dumps(value))

    def test_a_freed_duplicate_does_not_lend_its_verdict(self):
        # The first "a" of the odd object is built, walked and freed when the second
        # replaces it; the objects that follow may take its memory.
        v = Validator(list[dict[str, K]])
        items = ['{"a":"k0"}'] * 70 + ['{"a":"k1","a":"k2"}', '{"a":"zz"}', '{"a":"k3"}']
        text = "[" + ",".join(items) + "]"
        value = json.loads(text)
        assert_agrees(v, value, text)
        with pytest.raises(ValidationError) as raised:
            v.load(text)
        assert raised.value.errors[0]["path"][:2] == (71, "a")


# ---- Generated schemas and values ---------------------------------------------------------

LEAVES = [Literal[1], Literal[2], Literal["a"], Literal["b"], int, str, None]
EXTRAS = [
    None,
    lambda s: dict[str, s],
    lambda s: Annotated[str, re.compile(r"k\d")],
    lambda s: {"t": Literal["x"], "c": list[s]},
]


@st.composite
def chains(draw):
    leaves = draw(st.lists(st.sampled_from(LEAVES), min_size=1, max_size=4))
    extra = draw(st.sampled_from(EXTRAS))
    inner = chain(leaves, extra)
    outer = draw(st.sampled_from(["list", "dict", "bare", "self", "members"]))
    if outer == "list":
        return Validator(list[inner])
    if outer == "members":
        # A union over the whole value whose second member walks again, through the same
        # definition, what the first walked: what the unions over the items kept serves it.
        return Validator(union(list[inner], list[union(inner, Literal["z"])], inner))
    if outer == "dict":
        return Validator(dict[inner if extra is EXTRAS[2] else str, inner])
    if outer == "self":
        # Nested definitions that reach one another on the same value.
        return recursive(lambda s: recursive(lambda t: union(s, list[t], inner)))
    return inner


scalars = st.sampled_from([1, 2, 3, "a", "b", "k1", "x", None, True, 2.5])

trees = st.recursive(
    scalars,
    lambda inner: st.one_of(
        st.lists(inner, max_size=3),
        st.dictionaries(st.sampled_from(["a", "k1", "t", "c", "zz"]), inner, max_size=3),
    ),
    max_leaves=10,
)


@st.composite
def repeated(draw):
    """Many equal items and one odd one: the items before it waste enough walks to open the
    memo, and each takes the place in memory of the one before."""
    item = draw(scalars | trees)
    odd = draw(scalars | trees)
    count = draw(st.integers(60, 80))
    at = draw(st.integers(0, count))
    if draw(st.booleans()):
        items = [item] * count
        items.insert(at, odd)
        return items
    value = {f"k{i}": item for i in range(count)}
    value[draw(st.sampled_from(["a", "k1", "zz"]))] = odd
    return value


@st.composite
def deep(draw):
    return nested(draw(trees), draw(st.integers(1, 40)))


SETTINGS = settings(max_examples=150, deadline=None, suppress_health_check=list(HealthCheck))


class TestAgreesWithPlainWalk:
    @SETTINGS
    @given(
        chains(),
        st.one_of(
            repeated(), deep(), st.lists(trees, max_size=4), st.lists(deep(), min_size=2, max_size=4)
        ),
    )
    def test_every_entry(self, validator, value):
        assert_agrees(validator, value, json.dumps(value))

    @SETTINGS
    @given(chains(), repeated(), st.sampled_from(["a", "k1", "zz"]), scalars, scalars)
    def test_repeated_keys_in_documents(self, validator, value, key, first, last):
        # Only the last occurrence of a key counts, on every road.
        if not isinstance(value, dict):
            value = {"k0": value}
        body = json.dumps(value)[1:-1]
        text = "{" + f"{json.dumps(key)}: {json.dumps(first)}, {body}, {json.dumps(key)}: "
        text += json.dumps(last) + "}"
        assert_agrees(validator, json.loads(text), text)

    @SETTINGS
    @given(chains(), trees, st.integers(1, 3))
    def test_values_holding_themselves(self, validator, value, copies):
        # A container that holds itself is met again through its own items: the walk
        # refuses it with "recursion_loop", and the memo must not answer for it otherwise.
        # The plain value is built alike around a list of the subclass.
        def build(kind):
            cyclic = kind([value])
            cyclic.extend([cyclic] * copies)
            return cyclic, {"a": cyclic, "c": [cyclic, value]}

        for fast, slow in zip(build(list), build(PlainList)):
            assert python_outcomes(validator, fast) == python_outcomes(validator, slow)


    @SETTINGS
    @given(chains(), trees, st.integers(0, 30), st.sampled_from(["sibling", "inside", "around"]))
    def test_chains_beside_values_holding_themselves(self, validator, value, depth, where):
        # A container that holds itself somewhere in the value: beside a deep chain of lists,
        # at its bottom, or around it. The walks on the tree parts are remembered under their
        # own names, those on the cycle under the pairs on it; both must answer as the plain
        # walk, which reads the same structure built around a list of the subclass.
        def build(kind):
            cyclic = kind([value])
            cyclic.append(cyclic)
            if where == "sibling":
                return kind([nested(value, depth), cyclic, nested(value, depth)])
            if where == "inside":
                return kind([nested(cyclic, depth), value])
            cyclic.insert(0, nested(value, depth))
            return cyclic

        assert python_outcomes(validator, build(list)) == python_outcomes(
            validator, build(PlainList)
        )


# ---- Cost -------------------------------------------------------------------------------


def run_script(script, *args):
    """What `script` prints as JSON, run in a fresh interpreter."""
    done = subprocess.run(
        [sys.executable, "-c", script, *args], capture_output=True, text=True, timeout=600
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


# Six definitions, each a union of the one below, a list of itself and a literal: a walk that
# names a value by the whole chain of definitions that led to it walks each value once per
# chain, some depth^6 times; 30 levels then take seconds to hours in every entry.
CHAIN_SCRIPT = r"""
import json, sys
from typing import Literal
import quendrix as q

depth = int(sys.argv[1])
v = q.recursive(lambda s: q.union(list[s], Literal[1]))
for i in range(2, 7):
    v = q.recursive(lambda s, below=v, i=i: q.union(below, list[s], Literal[i]))
text = "[" * depth + '"x"' + "]" * depth
value = json.loads(text)

def fails(call):
    try:
        call()
    except q.ValidationError as e:
        return len(e.errors)
    return 0

print(json.dumps([v.is_valid(value), v.is_valid_json(text), fails(lambda: v.validate(value)),
                  fails(lambda: v.validate_json(text)), fails(lambda: v.load(text))]))
"""


# A value that holds itself beside a chain of lists: the memo must name the walks on the chain
# as it does where no value holds itself, so both cost alike, in every entry; naming them by the
# whole guard made the first some thousand times the second at this depth.
BEST = r"""
import json, time
import quendrix as q

def best(call, repeat=5):
    times = []
    for _ in range(repeat):
        start = time.perf_counter()
        try:
            call()
        except q.ValidationError:
            pass
        times.append(time.perf_counter() - start)
    return min(times)
"""

CYCLE_SCRIPT = BEST + r"""
from typing import Literal

c = q.recursive(lambda s: q.union(list[s], Literal[1]))
for i in range(2, 5):
    c = q.recursive(lambda s, b=c, i=i: q.union(b, list[s], Literal[i]))
v = "x"
for _ in range(40):
    v = [v]
x = []
x.append(x)
print(json.dumps({
    name: best(lambda: call([v, x])) / best(lambda: call([v, []]))
    for name, call in [("is_valid", c.is_valid), ("validate", c.validate)]
}))
"""


class TestCycleCost:
    def test_self_holding_value_beside_a_chain(self):
        ratios = run_script(CYCLE_SCRIPT)
        assert all(ratio < 20 for ratio in ratios.values()), ratios


class TestChainCost:
    @pytest.mark.parametrize("depth", [30, 60])
    def test_chain_of_definitions(self, depth):
        is_valid, is_valid_json, *failed = run_script(CHAIN_SCRIPT, str(depth))
        assert not is_valid and not is_valid_json
        assert all(n >= 1 for n in failed)


# Long lists of small items, each a union that wastes a few walks before it accepts: no pass
# walks a finished item again, so the check costs what the plain walk costs (the same list made
# foreign by its last item), and keeps nothing per item where each union decides one item.
# Summing their waste over the check kept every walk of every item to its end: several times the
# time, and memory growing with the list.
LONG_LIST_SCRIPT = BEST + r"""
import resource, sys
from typing import Literal

E = q.recursive(lambda e: q.union(list[e], Literal[1]))
F = q.recursive(lambda f: q.union(E, list[f], Literal[2]))
G = q.recursive(lambda g: q.union(F, list[g], Literal[3]))
shape, entry = sys.argv[1:]
call = getattr({
    "items": q.Validator(list[G]),
    "whole": G,
    "member": q.Validator(q.union(list[G], list[Literal[0]])),
}[shape], entry)
items = [[[3, [2, [1]]]] for _ in range(20000)]
plain = best(lambda: call(items + [[object()]]), 3)
before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
memo = best(lambda: call(items + ["x"]), 3)
grown = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
print(json.dumps([memo / plain, grown]))
"""


@pytest.mark.skipif(
    os.environ.get("QX_SHORTCUTS_FORCED") == "1", reason="this build keeps every walk it makes"
)
class TestLongListCost:
    @pytest.mark.parametrize("entry", ["is_valid", "validate"])
    @pytest.mark.parametrize("shape", ["items", "whole", "member"])
    def test_small_items_cost_what_the_plain_walk_costs(self, shape, entry):
        ratio, grown_kib = run_script(LONG_LIST_SCRIPT, shape, entry)
        assert ratio < 2
        if shape == "items":  # elsewhere one union decides the whole list
            assert grown_kib < 16 * 1024


# An intersection whose members both walk the value's items through one definition: each
# level of a member walks the level below twice, 2^depth walks where nothing keeps them.
INTERSECTION_SCRIPT = BEST + r"""
import sys

d = q.recursive(lambda d: q.intersection(list[d], list[d]))

def nested(depth):
    value = []
    for _ in range(depth):
        value = [value]
    return value

call = getattr(d, sys.argv[1])

def many(value):
    return lambda: [call(value) for _ in range(50)]

print(json.dumps(best(many(nested(24))) / best(many(nested(12)))))
"""


class TestIntersectionCost:
    @pytest.mark.parametrize("entry", ["is_valid", "validate"])
    def test_members_walking_one_definition(self, entry):
        # Linear: twice the depth, about twice the time.
        assert run_script(INTERSECTION_SCRIPT, entry) < 8

