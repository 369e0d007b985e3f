# Tests of one validator shared by many threads, and of recursive() called from two threads at once.
import copy
import re
import threading
from typing import Annotated, Literal

import pytest

from quendrix import ValidationError, Validator, recursive

THREADS = 16
ROUNDS = 200


def run_together(count, work):
    """Runs work(i) on `count` threads released at once; re-raises the first failure."""
    start = threading.Barrier(count)
    failures = []

    def body(i):
        try:
            start.wait()
            work(i)
        except BaseException as exc:  # reported to the main thread below
            failures.append(exc)

    threads = [threading.Thread(target=body, args=(i,)) for i in range(count)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if failures:
        raise failures[0]


def tree_body(s):
    # A record (declared keys), a union of str literals and a pattern: every
    # table of the lazily built index is needed by the first check.
    return {
        "id": int,
        "name": Annotated[str, re.compile(r"[a-z]+")],
        "kind": Literal["leaf", "node", "root"],
        "children": list[s],
    }


GOOD = {"id": 1, "name": "root", "kind": "root",
        "children": [{"id": 2, "name": "a", "kind": "leaf", "children": []}]}
BAD = {"id": "1", "name": "Root", "kind": "tree",
       "children": [{"id": 2, "name": "a", "kind": "leaf"}]}


def error_dicts(validator, value):
    with pytest.raises(ValidationError) as info:
        validator.validate(value)
    return info.value.errors


class TestSharedValidator:
    def test_threads_agree_from_the_first_check(self):
        reference = recursive(tree_body)
        expected = (repr(reference), hash(reference), error_dicts(reference, BAD))
        shared = recursive(tree_body)  # not checked yet: its index is built under the threads

        def work(i):
            for _ in range(ROUNDS):
                assert shared.is_valid(GOOD)
                assert not shared.is_valid(BAD)
                assert GOOD in shared
                assert (repr(shared), hash(shared), error_dicts(shared, BAD)) == expected
                assert shared == reference
                twin = copy.copy(shared) if i % 2 else copy.deepcopy(shared)
                assert twin == shared and twin.is_valid(GOOD) and not twin.is_valid(BAD)

        run_together(THREADS, work)

    def test_failing_checks_do_not_disturb_each_other(self):
        shared = Validator(list[Annotated[str, re.compile(r"x+")]])

        def work(i):
            bad = ["x" * j if j != i else "y" for j in range(1, THREADS + 1)]
            for _ in range(ROUNDS):
                errors = error_dicts(shared, bad)
                assert [(e["path"], e["code"]) for e in errors] == [
                    ((i - 1,), "string_pattern_mismatch")
                ]

        run_together(THREADS, lambda i: work(i + 1))


class TestConcurrentRecursive:
    def test_each_call_binds_only_its_own_placeholder(self):
        placeholders = {}
        results = {}
        both_inside = threading.Barrier(2)

        def work(i):
            def builder(s):
                placeholders[i] = s
                both_inside.wait()  # both calls are now between placeholder and binding
                return {"self": list[s], "other": list[placeholders[1 - i]]}

            results[i] = recursive(builder)

        run_together(2, work)
        assert placeholders[0] is not placeholders[1]
        assert placeholders[0] != placeholders[1]
        for v in results.values():
            assert v.is_valid({"self": [{"self": [], "other": []}], "other": []})
            codes = [e["code"] for e in error_dicts(v, {"self": [], "other": [[]]})]
            assert codes == ["unresolved_recursion"]
