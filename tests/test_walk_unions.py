"""Unions of records over recursive trees: cost that follows the tree's size; verdicts, records
and calls as the plain walk gives them."""

import json
import subprocess
import sys
from typing import Annotated, Literal

import annotated_types
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator, recursive, union

# Trees of the shapes below, `depth` levels deep, checked through every entry.
# A walk that tries a union's members over the same subtree again doubles its
# work per level: at depth 40 that is hours, so the child process would not
# finish within its timeout.
TREE_SCRIPT = r"""
import json, sys
from typing import Literal
import quendrix as q

shape, depth = sys.argv[1], int(sys.argv[2])
if shape == "tagged":
    schema = q.recursive(lambda u: q.union({"children": list[u], "type": "a"},
                                           {"children": list[u], "type": "b"}))
    node = {"children": [], "type": "c"}
    wrap = lambda child: {"children": [child], "type": "a"}
elif shape == "keyed":
    schema = q.recursive(lambda u: q.union({"children": list[u], "a": int},
                                           {"children": list[u], "b": int}))
    node = {"children": [], "c": 1}
    wrap = lambda child: {"children": [child], "a": 1}
elif shape == "deep":
    schema = q.recursive(lambda u: q.union({"c": list[u], "t": str},
                                           {"c": list[u], "t": str, "x?": int}))
    node = {"c": [], "t": 5}
    wrap = lambda child: {"c": [child], "t": "a"}
else:  # "valid": the first member fails each level only after its children passed
    schema = q.recursive(lambda u: q.union({"c": list[u], "d": list[Literal[1]]},
                                           {"c": list[u], "d": list[Literal[2]]}))
    node = {"c": [], "d": [2]}
    wrap = lambda child: {"c": [child], "d": [2]}
for _ in range(depth):
    node = wrap(node)
text = json.dumps(node)

def errors(call):
    try:
        call()
    except q.ValidationError as e:
        return [[r["code"], list(r["path"]), r["expected"], r["value"]] for r in e.errors]
    return None

out = {
    "is_valid": schema.is_valid(node),
    "in": node in schema,
    "is_valid_json": schema.is_valid_json(text),
    "validate": errors(lambda: schema.validate(node)),
    "fail_fast": errors(lambda: schema.validate(node, fail_fast=True)),
    "validate_json": errors(lambda: schema.validate_json(text)),
    "load": errors(lambda: schema.load(text)),
    "ensure": errors(lambda: schema.ensure(node)),
}
print(json.dumps(out))
"""


def run_tree(shape, depth):
    done = subprocess.run(
        [sys.executable, "-c", TREE_SCRIPT, shape, str(depth)],
        capture_output=True,
        text=True,
        timeout=120,
    )
    assert done.returncode == 0, done.stderr
    return json.loads(done.stdout)


def nested(prefix, depth, tail):
    return prefix * depth + tail


class TestTreeCost:
    DEPTH = 40

    @pytest.mark.parametrize(
        "shape, expected",
        [
            ("tagged", [["literal_error", ["type"], "the literal 'a'", "'c'"]]),
            (
                "keyed",
                [
                    ["missing_key", ["a"], 'required key "a"', "missing"],
                    ["extra_forbidden", ["c"], "no unexpected key", '"c"'],
                ],
            ),
            ("deep", [["string_type", ["t"], "str", "5"]]),
        ],
    )
    def test_failing_tree_in_every_entry(self, shape, expected):
        out = run_tree(shape, self.DEPTH)
        step = ["children", 0] if shape in ("tagged", "keyed") else ["c", 0]
        records = [[code, step * self.DEPTH + path, exp, value] 
                   for code, path, exp, value in expected]
        assert out == {
            "is_valid": False,
            "in": False,
            "is_valid_json": False,
            "validate": records,
            "fail_fast": records,
            "validate_json": records,
            "load": records,
            "ensure": records,
        }

    def test_valid_tree_whose_first_member_fails_late(self):
        out = run_tree("valid", self.DEPTH)
        assert out == {
            "is_valid": True,
            "in": True,
            "is_valid_json": True,
            "validate": None,
            "fail_fast": None,
            "validate_json": None,
            "load": None,
            "ensure": None,
        }

    def test_past_the_recursion_limit(self):
        out = run_tree("tagged", 140)
        limit = ["recursion_limit", ["children", 0] * 128, "at most 128 levels of recursion"]
        assert out["is_valid"] is False and out["in"] is False
        assert [r[:3] for r in out["validate"]] == [limit]
        assert out["validate"] == out["fail_fast"] == out["ensure"]


# ---- User code keeps its calls, in number and order -------------------------


class LoudInt(int):
    """An int whose comparison is user code: it reports each call."""

    calls = []

    def __ge__(self, other):
        LoudInt.calls.append(int(self))
        return int(self) >= other


class TestUserCodeCalls:
    def test_predicate_before_the_tag_runs_for_every_member(self):
        calls = []

        def seen(v):
            calls.append(v)
            return True

        field = Annotated[int, annotated_types.Predicate(seen)]
        schema = Validator(union({"p": field, "t": Literal["a"]}, {"p": field, "t": Literal["b"]}))
        assert schema.is_valid({"p": 7, "t": "b"})
        assert calls == [7, 7]

    def test_subclass_bound_before_the_tag_runs_for_every_member(self):
        bounded = Annotated[int, annotated_types.Ge(0)]
        schema = Validator(
            union(
                {"n": bounded, "kids": list[int], "t": "a"},
                {"n": bounded, "kids": list[int], "t": "b"},
            )
        )
        LoudInt.calls = []
        assert schema.is_valid({"n": LoudInt(3), "kids": [1], "t": "b"})
        assert LoudInt.calls == [3, 3]

    def test_deep_field_before_a_predicate_is_walked_first(self):
        calls = []

        def seen(v):
            calls.append(v)
            return True

        checked = Annotated[int, annotated_types.Predicate(seen)]
        schema = Validator({"kids": list[int], "p": checked, "t": "a"})
        assert not schema.is_valid({"kids": ["x"], "p": 1, "t": "b"})
        assert calls == []  # the list fails before the predicate is due

    def test_predicate_inside_a_tree_runs_as_often_as_before(self):
        calls = []

        def seen(v):
            calls.append(v)
            return True

        leaf = Annotated[int, annotated_types.Predicate(seen)]
        schema = recursive(
            lambda u: union(
                {"kids": list[u], "v": leaf, "t": "a"}, {"kids": list[u], "v": leaf, "t": "b"}
            )
        )
        node = {"kids": [], "v": 0, "t": "c"}
        for level in range(1, 5):
            node = {"kids": [node], "v": level, "t": "a"}
        with pytest.raises(ValidationError):
            schema.validate(node)
        # Each level's value is checked again by every walk over its level:
        # the count doubles per level, as the walk without a memo gives.
        assert len(calls) > 2**5

    def test_member_the_type_decides_waits_for_the_members_before_it(self):
        calls = []

        def refuse(v):
            calls.append(v)
            return False

        schema = Validator(union(Annotated[int, annotated_types.Predicate(refuse)], int))
        assert schema.is_valid(5)
        assert calls == [5]

    def test_tag_skips_no_member_that_runs_user_code(self):
        calls = []

        def seen(v):
            calls.append(v)
            return True

        checked = Annotated[int, annotated_types.Predicate(seen)]
        schema = Validator(
            union({"t": "a", "n": checked}, {"t": "b", "n": int}, {"t": "c", "n": checked})
        )
        assert schema.is_valid({"n": 4, "t": "c"})
        assert calls == [4, 4]  # the first member's tag fails only after its predicate ran

    def test_repr_of_user_objects_in_a_failing_tree(self):
        reprs = []

        class Thing:
            def __repr__(self):
                reprs.append(1)
                return "Thing()"

        schema = recursive(
            lambda u: union({"kids": list[u], "t": "a"}, {"kids": list[u], "t": "b"})
        )
        node = {"kids": [], "t": Thing()}
        for _ in range(3):
            node = {"kids": [node], "t": "a"}
        with pytest.raises(ValidationError) as info:
            schema.validate(node)
        assert info.value.value == "Thing()"
        # The innermost member records are made again by each level's walks.
        assert len(reprs) > 3


# ---- The remembered walk agrees with the plain one ----------------------------


def always(_):
    return True


def plain(spec):
    """The same schema with a predicate that always passes on every field:
    user code may run in every field, so nothing is reordered or remembered."""
    if isinstance(spec, dict):
        return {k: Annotated[plain(v), annotated_types.Predicate(always)] for k, v in spec.items()}
    return spec


FIELD_TYPES = ["tag", "int", "str", "kids", "opt", "ints", "bounded", "sub"]


@st.composite
def schemas(draw):
    members = draw(
        st.lists(
            st.lists(
                st.tuples(
                    st.sampled_from(["t", "k", "x", "n"]),
                    st.booleans(),
                    st.sampled_from(FIELD_TYPES),
                    st.sampled_from("ab"),
                ),
                min_size=1,
                max_size=4,
            ),
            min_size=1,
            max_size=3,
        )
    )

    def build(wrap):
        def builder(u):
            specs = []
            for fields in members:
                spec = {}
                for name, optional, kind, tag in fields:
                    spec[name + ("?" if optional else "")] = {
                        "tag": Literal[tag],
                        "int": int,
                        "str": str,
                        "kids": list[u],
                        "opt": u | None,
                        "ints": list[int],
                        "bounded": Annotated[int, annotated_types.Ge(0)],
                        "sub": {"z": u, "w": int},
                    }[kind]
                specs.append(wrap(spec))
            return union(*specs)

        return recursive(builder)

    return build(lambda s: s), build(plain)


leaves = st.sampled_from([1, -1, 0, "a", "b", None, [], True, 2.5])
trees = st.recursive(
    leaves,
    lambda inner: st.one_of(
        st.lists(inner, max_size=3),
        st.dictionaries(
            st.sampled_from(["t", "k", "x", "n", "z", "w"]),
            inner | st.sampled_from("ab"),
            max_size=4,
        ),
    ),
    max_leaves=12,
)


def outcome(validator, value, how):
    try:
        if how == "is_valid":
            return validator.is_valid(value)
        if how == "is_valid_json":
            return validator.is_valid_json(json.dumps(value))
        validator.validate(value, fail_fast=how == "fail_fast")
        return None
    except ValidationError as e:
        return e.errors


class Tag(str):
    pass


@st.composite
def tagged_unions(draw):
    """Unions of records that share a required key "t" of str literals, with
    other members among them."""
    members = []
    for _ in range(draw(st.integers(2, 5))):
        if draw(st.integers(0, 4)) == 0:
            members.append(draw(st.sampled_from([None, int, str, list[int], Literal["a"]])))
            continue
        tags = draw(st.lists(st.sampled_from(["a", "b", "c"]), min_size=1, max_size=2))
        spec = {"t": Literal[tuple(tags)]}
        for name in draw(st.lists(st.sampled_from(["x", "y?", "z"]), max_size=2, unique=True)):
            spec[name] = draw(st.sampled_from([int, str, list[int], {"w": int}]))
        members.append(spec)

    def build(wrap):
        return Validator(union(*[wrap(m) for m in members]))

    return build(lambda s: s), build(plain)


tagged_values = st.dictionaries(
    st.sampled_from(["t", "x", "y", "z", "q"]),
    st.sampled_from(["a", "b", "c", "d", Tag("a"), 1, [1], {"w": 1}, {"w": "x"}, None]),
    max_size=4,
) | st.sampled_from([None, 1, "a", [1]])


HOW = st.sampled_from(["is_valid", "is_valid_json", "validate", "fail_fast"])


class TestAgreesWithPlainWalk:
    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(tagged_unions(), tagged_values, HOW)
    def test_tagged_unions(self, pair, value, how):
        fast, slow = pair
        if how == "is_valid_json" and not isinstance(value, (dict, list, int, str, type(None))):
            return
        assert outcome(fast, value, how) == outcome(slow, value, how)

    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(schemas(), trees, HOW)
    def test_same_verdicts_and_records(self, pair, value, how):
        fast, slow = pair
        assert outcome(fast, value, how) == outcome(slow, value, how)

    @settings(max_examples=100, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(schemas(), trees)
    def test_shared_subtrees(self, pair, value):
        fast, slow = pair
        shared = {"k": [value, value], "t": "a", "x": value}
        for how in ("is_valid", "validate", "fail_fast"):
            assert outcome(fast, shared, how) == outcome(slow, shared, how)


# ---- A tag that user code changes is read again ------------------------------


class Run:
    """One check of a dict whose members' predicates log their calls and may
    change the dict under check (found here, whatever argument they get).
    The n-th call of a predicate takes the n-th of its steps (the last one
    once they run out): a new tag, or KEEP, or DROP, and the verdict."""

    KEEP = "<keep>"
    DROP = "<drop>"

    def __init__(self, value):
        self.value = dict(value)
        self.log = []

    def predicate(self, name, steps):
        calls = []

        def check(arg):
            self.log.append((name, repr(arg)))
            tag, verdict = steps[min(len(calls), len(steps) - 1)]
            calls.append(1)
            if tag == Run.DROP:
                self.value.pop("t", None)
            elif tag != Run.KEEP:
                self.value["t"] = tag
            return verdict

        return annotated_types.Predicate(check)

    def member(self, spec, wrap):
        """A member from its description: (form, name, steps) for a member
        that runs a predicate, a dict spec (wrapped as `wrap` says) or a type."""
        if not isinstance(spec, tuple):
            return wrap(spec) if isinstance(spec, dict) else spec
        form, name, steps = spec
        check = self.predicate(name, steps)
        if form == "dict":  # the predicate gets the dict itself
            return Annotated[dict, check]
        if form == "union":  # the same, one union down
            return union(None, Annotated[dict, check])
        if form == "field":  # a record, not tagged, whose field "a" gets it
            return Annotated[{"a": Annotated[object, check], "zz": int}, annotated_types.MinLen(0)]
        # "tagged": a tagged record whose own field "m" gets it
        return {"t": Literal[tuple(name)], "m?": Annotated[object, check]}

    def check(self, members, how, wrap=lambda spec: spec):
        """The outcome of `how`, the calls logged and the dict as left."""
        validator = Validator(union(*[self.member(m, wrap) for m in members]))
        text = json.dumps(self.value)
        try:
            if how == "is_valid":
                verdict = validator.is_valid(self.value)
            elif how == "in":
                verdict = self.value in validator
            elif how == "is_valid_json":
                verdict = validator.is_valid_json(text)
            else:
                validator.validate(self.value, fail_fast=how == "fail_fast")
                verdict = None
        except ValidationError as e:
            verdict = e.errors
        except RuntimeError as e:
            verdict = ("RuntimeError", str(e))
        return verdict, self.log, self.value


steps = st.lists(
    st.tuples(
        st.sampled_from([Run.KEEP, Run.DROP, "a", "b", "c", "d", "\udc80", Tag("a"), 1]),
        st.booleans(),
    ),
    min_size=1,
    max_size=3,
)


@st.composite
def changing_unions(draw):
    """Members of a union in the form Run.member takes: records tagged by
    "t", predicates that change the tag around and among them, other members
    that run no user code, and now and then a tagged record with a predicate
    of its own (whose union then has no index)."""
    members = []
    for i in range(draw(st.integers(2, 5))):
        pick = draw(st.integers(0, 19))
        if pick < 6:
            form = draw(st.sampled_from(["dict", "union", "field"]))
            members.append((form, f"p{i}", draw(steps)))
        elif pick < 8:
            members.append(draw(st.sampled_from([None, int, list[int]])))
        elif pick == 8:
            members.append(("tagged", draw(st.sampled_from(["a", "b", "ab"])), draw(steps)))
        else:
            tags = draw(st.lists(st.sampled_from("abc"), min_size=1, max_size=2))
            spec = {"t": Literal[tuple(tags)]}
            for name in draw(st.lists(st.sampled_from(["a", "x?"]), max_size=2, unique=True)):
                spec[name] = draw(st.sampled_from([int, str, list[int]]))
            members.append(spec)
    return members


changing_values = st.dictionaries(
    st.sampled_from(["t", "a", "x", "m"]),
    st.sampled_from(["a", "b", "c", "d", "\udc80", Tag("a"), 1, "s", [1], None]),
    max_size=4,
)


TAG_X = {"t": Literal["x"], "a": int}
TAG_Y = {"t": Literal["y"], "a": str}
TO_X = [("x", False)]


class TestTagChangedByUserCode:
    """A member that runs user code may change the dict's tag; the members
    after it must meet the new tag, as in the same union without its index."""

    # (members, value, the calls of the predicates)
    CASES = {
        "the first member retags and fails": (
            [("dict", "retag", TO_X), TAG_X, TAG_Y],
            {"t": "z", "a": 1},
            ["retag"],
        ),
        "between tagged members": (
            [TAG_X, ("dict", "retag", [("y", False)]), TAG_Y],
            {"t": "x", "a": "s"},
            ["retag"],
        ),
        "in a field of an untagged record": (
            [("field", "retag", [("x", True)]), TAG_X, TAG_Y],
            {"a": 1, "t": "z"},
            ["retag"],
        ),
        "in an untagged union member": (
            [("union", "retag", TO_X), TAG_Y, TAG_X],
            {"t": "z", "a": 1},
            ["retag"],
        ),
        "a later predicate is not reached": (
            [("dict", "retag", TO_X), TAG_X, ("dict", "later", [(Run.KEEP, True)]), TAG_Y],
            {"t": "z", "a": 1},
            ["retag"],
        ),
        "a tag put where there was none": (
            [TAG_Y, ("dict", "retag", TO_X), TAG_X],
            {"a": 1},
            ["retag"],
        ),
    }

    @pytest.mark.parametrize("how", ["is_valid", "in", "validate", "fail_fast"])
    @pytest.mark.parametrize("case", list(CASES))
    def test_members_after_user_code_meet_the_new_tag(self, case, how):
        members, value, calls = self.CASES[case]
        verdict, log, _ = Run(value).check(members, how)
        accepted = True if how in ("is_valid", "in") else None
        assert (verdict, [name for name, _ in log]) == (accepted, calls)
        assert (verdict, log) == Run(value).check(members, how, plain)[:2]

    @settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(st.data(), HOW | st.just("in"))
    def test_agrees_with_the_union_without_its_index(self, data, how):
        members = data.draw(changing_unions())
        value = data.draw(changing_values)
        assert Run(value).check(members, how) == Run(value).check(members, how, plain)


# ---- Lists nested past the recursion limit -----------------------------------

# Each of the 128 levels the walk reaches fails a dict and an int member on
# the subtree below it, and a record made with a repr of that subtree costs
# its depth squared: a list 9,000 deep took seconds per validate. The calls
# are repeated so that such a walk cannot finish within the timeout on any
# machine, while one linear in the depth takes milliseconds each.
DEEP_SCRIPT = r"""
import json, sys
import quendrix as q

depth, rounds = int(sys.argv[1]), int(sys.argv[2])
schema = q.recursive(lambda s: q.union(list[s], dict[str, s], int))
value = 0
for _ in range(depth):
    value = [value]
for _ in range(rounds):
    try:
        schema.validate(value)
        records = None
    except q.ValidationError as e:
        records = [[r["code"], list(r["path"]), r["expected"], r["value"]] for r in e.errors]
print(json.dumps(records))
"""


class TestDeepListCost:
    @pytest.mark.parametrize(
        "depth, shown",
        [
            (9_000, "[" * 80 + "..."),
            # Deeper than CPython's repr can go.
            (20_000, "<unrepresentable>"),
        ],
    )
    def test_validate_is_linear_in_depth(self, depth, shown):
        done = subprocess.run(
            [sys.executable, "-c", DEEP_SCRIPT, str(depth), "20"],
            capture_output=True,
            text=True,
            timeout=60,
        )
        assert done.returncode == 0, done.stderr
        limit = ["recursion_limit", [0] * 128, "at most 128 levels of recursion", shown]
        assert json.loads(done.stdout) == [limit]
