"""Deep specs and values run on a thread of a given stack size; prints each case's outcome as JSON.

Used by test_native_stack.py in a subprocess, so that a native crash is seen
as an exit status instead of taking pytest down. Usage: deep_cases.py KIB,
with 0 for the main thread. Validators and values are made on the main
thread (CPython itself cannot free a deep value on a tiny stack); only the
cases named "... build" build on the small one.
"""

import copy
import dataclasses
import json
import sys
import threading
from typing import Annotated, Optional, TypedDict

import quendrix as q
from quendrix import recursive, union


@dataclasses.dataclass
class MinLen:
    min_length: int


def nest(wrap, depth, leaf):
    for _ in range(depth):
        leaf = wrap(leaf)
    return leaf


def dataclass_chain(depth):
    return nest(lambda t: dataclasses.make_dataclass("Link", [("a", t)]), depth, int)


def instance_chain(cls, depth, leaf):
    # Each class of the chain holds an instance of the class below it.
    classes = []
    while dataclasses.is_dataclass(cls):
        classes.append(cls)
        cls = dataclasses.fields(cls)[0].type
    for c in reversed(classes[:depth]):
        leaf = c(leaf)
    return leaf


def family(wrap_spec, wrap_value, depth):
    """(spec, member, non-member) with `depth` levels around int, 1 and "x"."""
    return nest(wrap_spec, depth, int), nest(wrap_value, depth, 1), nest(wrap_value, depth, "x")


def in_dict(v):
    return {"a": v}


def in_list(v):
    return [v]


# Each family at the nesting limit. Every level adds one level of schema
# depth, or two for the sequence forms (three for an optional list).
FAMILIES = {
    "dict literal": family(lambda t: {"a": t}, in_dict, 127),
    "list literal": family(lambda t: [t], in_list, 63),
    "list form": family(lambda t: list[t], in_list, 63),
    "tuple form": family(lambda t: tuple[t, int], lambda v: (v, 1), 63),
    "dict form": family(lambda t: dict[str, t], lambda v: {"k": v}, 127),
    "Annotated": family(lambda t: Annotated[{"a": t}, MinLen(1)], in_dict, 63),
    "Optional": family(lambda t: Optional[list[t]], in_list, 42),
    "TypedDict": family(lambda t: TypedDict("Link", {"a": t}), in_dict, 127),
}
def recursive_chain(depth):
    # Each definition refers to the one before it: its annotation text
    # writes them all out in place, nested as deep as the chain is long.
    v = q.Validator(int)
    for _ in range(depth):
        v = recursive(lambda s, below=v: union(list[s], below))
    return v


FAMILIES["recursive chain"] = (recursive_chain(120), [[1], 2], [[1], "x"])
DATACLASS = dataclass_chain(127)
FAMILIES["dataclass"] = (
    DATACLASS,
    instance_chain(DATACLASS, 127, 1),
    instance_chain(DATACLASS, 127, "x"),
)

JSON_FAMILIES = set(FAMILIES) - {"tuple form", "dataclass"}


def error_code(call, field="code"):
    """The `field` of the ValidationError that `call()` raises, or None."""
    try:
        call()
    except q.ValidationError as e:
        return getattr(e, field)
    return None


def cases():
    """Name -> function of no arguments whose JSON-able result is the outcome."""
    out = {}
    for name, (spec, member, non_member) in FAMILIES.items():
        v = q.Validator(spec)
        out[f"{name} build"] = lambda spec=spec: repr(q.Validator(spec))[:40]
        out[f"{name} repr"] = lambda v=v: repr(v)[-40:]
        out[f"{name} is_valid"] = lambda v=v, a=member, b=non_member: [v.is_valid(a), v.is_valid(b)]
        out[f"{name} validate"] = lambda v=v, b=non_member: error_code(lambda: v.validate(b))
        if name in JSON_FAMILIES:
            good, bad = json.dumps(member), json.dumps(non_member)
            out[f"{name} json"] = lambda v=v, a=good, b=bad: [
                v.is_valid_json(a),
                v.is_valid_json(b),
                error_code(lambda: v.validate_json(b)),
            ]
        out[f"{name} simplify"] = lambda v=v: repr(v.simplify()) == repr(v)
        out[f"{name} open close"] = lambda v=v: [repr(v.open())[-20:], repr(v.close())[-20:]]
        out[f"{name} is_empty"] = v.is_empty
        out[f"{name} subtype"] = lambda v=v: [v.is_subtype_of(v), v.is_equivalent(v)]
        out[f"{name} copy"] = lambda v=v: [copy.deepcopy(v) == v, hash(copy.copy(v)) == hash(v)]
    # An empty schema that only a walk through every level shows to be empty.
    empty = q.Validator(nest(lambda t: {"a": t}, 127, q.nothing))
    out["deep empty is_empty"] = empty.is_empty

    # Values far deeper than the schemas: the walk's guard of 128 recursive
    # references ends them, and their texts are too deep for CPython's repr.
    # Error texts of every level repeat the repr of what lies below it, so
    # the explaining checks get values ten times shallower.
    tree = recursive(lambda s: union(list[s], dict[str, s], int))
    deep_list = nest(lambda v: [v], 10_000, 1)
    deep_dict = nest(lambda v: {"k": v}, 10_000, 1)
    out["deep list is_valid"] = lambda: tree.is_valid(deep_list)
    out["deep dict is_valid"] = lambda: tree.is_valid(deep_dict)
    thousand = nest(lambda v: [v], 1000, 1)
    out["1000-deep list validate"] = lambda: error_code(lambda: tree.validate(thousand))
    out["1000-deep list fail_fast"] = lambda: error_code(
        lambda: tree.validate(thousand, fail_fast=True)
    )
    thousand_dicts = nest(lambda v: {"k": v}, 1000, 1)
    out["1000-deep dict validate"] = lambda: error_code(lambda: tree.validate(thousand_dicts))
    arrays = json.dumps(nest(lambda v: [v], 120, 1))
    out["deep json array"] = lambda: tree.is_valid_json(arrays)
    deep_ints = nest(lambda v: [v], 3000, 1)
    out["deep value text"] = lambda: error_code(
        lambda: q.Validator(int).validate(deep_ints), "value"
    )[:20]
    return out


def outcome(case):
    try:
        return case()
    except RecursionError:
        return "RecursionError"


def main():
    kib = int(sys.argv[1])
    todo = cases()
    results = {}

    def run():
        for name, case in todo.items():
            results[name] = outcome(case)

    if kib == 0:
        run()
    else:
        threading.stack_size(kib * 1024)
        thread = threading.Thread(target=run)
        thread.start()
        thread.join()
    print(json.dumps(results))


if __name__ == "__main__":
    main()
