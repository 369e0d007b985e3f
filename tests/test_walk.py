"""The validation walk: verdicts and records per node kind, modes, unions, recursion and fatal exceptions."""

import threading
from typing import Annotated, Any, Literal

import pytest

from quendrix import ValidationError, Validator, complement, intersection, nothing, recursive, union


def records(schema, value, **kwargs):
    validator = schema if isinstance(schema, Validator) else Validator(schema)
    with pytest.raises(ValidationError) as info:
        validator.validate(value, **kwargs)
    return [(e["code"], e["path"], e["expected"]) for e in info.value.errors]


def nested_lists(depth):
    value = []
    for _ in range(depth - 1):
        value = [value]
    return value


class IntSub(int):
    pass


class StrSub(str):
    pass


class OwnHashKey(str):
    """A key equal only to itself: a dict may hold it beside the same text."""

    def __hash__(self):
        return 12345

    def __eq__(self, other):
        return self is other


class FloatSub(float):
    pass


class SneakyList(list):
    """Overrides every reading method: the walk must read the storage."""

    def __len__(self):
        raise AssertionError("__len__ called")

    def __getitem__(self, i):
        raise AssertionError("__getitem__ called")

    def __iter__(self):
        raise AssertionError("__iter__ called")


class SneakySet(set):
    def __iter__(self):
        raise AssertionError("__iter__ called")


class Token:
    """A literal whose equality is scripted per test."""

    def __init__(self, on_eq):
        self.on_eq = on_eq

    def __eq__(self, other):
        return self.on_eq(self, other)

    __hash__ = object.__hash__


class TestPlainKinds:
    @pytest.mark.parametrize(
        ("schema", "value", "member"),
        [
            (int, True, True),
            (int, IntSub(3), True),
            (int, 1.0, False),
            (float, 1, False),
            (float, True, False),
            (float, FloatSub(1.5), True),
            (bool, 1, False),
            (bool, True, True),
            (str, StrSub("x"), True),
            (str, b"x", False),
            (bytes, b"x", True),
            (bytes, bytearray(b"x"), False),
            (None, None, True),
            (None, 0, False),
            (Any, object(), True),
            (object, object(), True),
            (Literal[1], True, False),
            (Literal[1], 1.0, False),
            (Literal[1], IntSub(1), False),
            (Literal[True], True, True),
            (Literal["a"], StrSub("a"), False),
        ],
    )
    def test_membership(self, schema, value, member):
        validator = Validator(schema)
        assert validator.is_valid(value) is member
        assert (value in validator) is member

    @pytest.mark.parametrize(
        ("schema", "value", "code", "expected"),
        [
            (int, "x", "int_type", "int"),
            (float, 1, "float_type", "float"),
            (bool, 0, "bool_type", "bool"),
            (str, 1, "string_type", "str"),
            (bytes, "x", "bytes_type", "bytes"),
            (None, 0, "none_type", "None"),
            (nothing, 0, "no_match", "nothing"),
            ("a", "b", "literal_error", "the literal 'a'"),
            (Literal["a"], "b", "union_error", "one of: literal"),
            (list[int], (1,), "list_type", "list"),
            (tuple[int], [1], "tuple_type", "tuple"),
            (set[int], frozenset(), "set_type", "set"),
            (frozenset[int], {1}, "frozen_set_type", "frozenset"),
        ],
    )
    def test_mismatch_record(self, schema, value, code, expected):
        assert records(schema, value) == [(code, (), expected)]


class TestSequences:
    @pytest.mark.parametrize(
        ("schema", "value", "expected"),
        [
            (tuple[int, str], (1,), [("tuple_length", (), "tuple of length 2")]),
            (tuple[int, str, ...], (), [("tuple_length", (), "tuple of length at least 1")]),
            ([int, str, ...], [1, "a", "b"], []),
            (tuple[()], (1,), [("tuple_length", (), "tuple of length 0")]),
            (list[int], [1, "a", 2, "b"], [("int_type", (1,), "int"), ("int_type", (3,), "int")]),
            (list[list[int]], [[1], [2, "x"]], [("int_type", (1, 1), "int")]),
            (tuple[int, str, ...], (1, "a", 2), [("string_type", (2,), "str")]),
            ([int, str], [1, "a", "b"], [("list_length", (), "list of length 2")]),
            (set[int], {"a"}, [("int_type", (), "int")]),
        ],
    )
    def test_records(self, schema, value, expected):
        if expected:
            assert records(schema, value) == expected
        else:
            Validator(schema).validate(value)

    def test_fail_fast_stops_at_first_item(self):
        assert records(list[int], ["a", "b"], fail_fast=True) == [("int_type", (0,), "int")]

    def test_subclasses_read_from_storage(self):
        assert Validator(list[int]).is_valid(SneakyList([1, 2]))
        assert records(list[int], SneakyList([1, "x"])) == [("int_type", (1,), "int")]
        assert Validator(set[int]).is_valid(SneakySet({1, 2}))

    def test_list_shrinking_during_check_ends_the_loop(self):
        value = [None, None, None, None]
        seen = []

        def on_eq(token, other):
            seen.append(other)
            value.clear()
            return True

        token = Token(on_eq)
        value[:] = [token, token, token, token]
        assert Validator(list[Literal[token]]).is_valid(value)
        assert len(seen) == 1

    def test_set_growing_during_check_stops_the_call(self):
        box = set()

        def on_eq(token, other):
            box.add(object())
            return True

        token = Token(on_eq)
        box.add(token)
        with pytest.raises(RuntimeError, match="^set iteration should be infallible$"):
            Validator(set[Literal[token]]).is_valid(box)


class TestUnion:
    def test_plain_mismatch_gives_one_union_error(self):
        assert records(int | str, 1.5) == [("union_error", (), "one of: int, str")]

    def test_deeper_branch_wins(self):
        assert records(list[int] | list[list[int]], [["x"]]) == [("int_type", (0, 0), "int")]

    def test_tie_keeps_first_branch(self):
        assert records(tuple[int, str] | tuple[str, int], (1, 1)) == [("string_type", (1,), "str")]

    def test_only_first_64_branches_are_scored(self):
        deep = list[list[list[int]]]
        value = [[["x"]]]
        schema = union(*([int] * 69 + [deep]))
        assert records(schema, value) == [("union_error", (), "one of: " + ", ".join(["int"] * 69 + ["list"]))]
        within = union(*([int] * 63 + [deep]))
        assert records(within, value) == [("int_type", (0, 0, 0), "int")]

    def test_deeper_record_branch_wins(self):
        shallow = {"a": int}
        deep = {"a": {"b": {"c": int}}}
        value = {"a": {"b": {"c": "x"}}}
        assert records(union(shallow, deep), value) == [("int_type", ("a", "b", "c"), "int")]
        assert records(union(deep, {"a": {"b": int}}), {"a": {"b": "x"}}) == [
            ("dict_type", ("a", "b"), "dict")
        ]

    def test_fail_fast_reports_whole_best_branch(self):
        expected = [("int_type", (0,), "int"), ("int_type", (1,), "int")]
        assert records(int | list[int], ["a", "b"], fail_fast=True) == expected

    def test_union_of_nothing(self):
        assert records(union(), 1) == [("no_match", (), "nothing")]


class TestRecords:
    def test_declared_and_undeclared_keys(self):
        schema = Validator({"a": int, "b?": str})
        assert schema.is_valid({"a": 1})
        assert schema.is_valid({"a": 1, "b": "x"})
        assert not schema.is_valid({"a": 1, "c": 1})
        assert not schema.is_valid({"b": "x"})
        assert not schema.is_valid([("a", 1)])

    def test_catch_all_clauses(self):
        schema = Validator(dict[str, int])
        assert schema.is_valid({"x": 1, "y": 2})
        assert not schema.is_valid({1: 1})
        assert records(schema, {"x": "y"}) == [("int_type", ("x",), "int")]

    def test_lone_surrogate_key_is_undeclared(self):
        assert not Validator({"a": int}).is_valid({"a": 1, "\ud800": 1})
        assert Validator(dict[str, int]).is_valid({"\ud800": 1})

    def test_dict_subclass_read_from_storage(self):
        class Sneaky(dict):
            def __getitem__(self, key):
                raise AssertionError("__getitem__ called")

            def items(self):
                raise AssertionError("items called")

        assert Validator({"a": int}).is_valid(Sneaky(a=1))

    def test_growing_dict_stops_the_call(self):
        box = {}

        def on_eq(token, other):
            box["extra"] = 1
            return True

        token = Token(on_eq)
        box["a"] = token
        schema = Validator({"a": Literal[token], "extra?": int})
        with pytest.raises(RuntimeError, match="^dictionary changed size during iteration$"):
            schema.is_valid(box)

    def test_replaced_keys_stop_the_call(self):
        box = {}

        def on_eq(token, other):
            del box["a"]
            box["c"] = 1
            return True

        token = Token(on_eq)
        box.update(a=token, b=1)
        schema = Validator({"a": Literal[token], "b?": int, "c?": int})
        with pytest.raises(RuntimeError, match="^dictionary keys changed during iteration$"):
            schema.is_valid(box)

    @pytest.mark.parametrize(
        ("value", "member"),
        [
            ({"a": 1, OwnHashKey("a"): 2}, False),
            ({OwnHashKey("a"): 1, OwnHashKey("a"): 2}, False),
            ({"a": 1, OwnHashKey("b"): 2}, True),
            ({OwnHashKey("a"): 1, StrSub("b"): 2}, True),
            ({OwnHashKey("a"): 1, OwnHashKey("a"): 2, "b": 3}, True),
        ],
    )
    def test_two_keys_of_one_text_name_one_field(self, value, member):
        # Each required field counts once, however many keys carry its name.
        schema = Validator({"a": int, "b": int})
        assert schema.is_valid(value) is member
        if not member:
            assert ("missing_key", ("b",), 'required key "b"') in records(schema, value)

    def test_verdict_changing_between_passes_gives_default_record(self):
        answers = iter([False, True])
        token = Token(lambda t, o: next(answers))
        with pytest.raises(ValidationError) as info:
            Validator({"a": token}).validate({"a": token})
        assert info.value.code == "validation_error"


class TestRefinements:
    def test_base_failure_hides_constraints(self):
        checked = []
        schema = Validator(Annotated[int, lambda v: checked.append(v)])
        assert records(schema, "x") == [("int_type", (), "int")]
        assert checked == []

    def test_fail_fast_stops_at_first_constraint(self):
        schema = Annotated[int, lambda v: False, lambda v: False]
        assert len(records(schema, 1)) == 2
        assert len(records(schema, 1, fail_fast=True)) == 1

    def test_predicate_emptying_its_list(self):
        value = [1, 2, 3, 4]
        seen = []

        def drain(item):
            seen.append(item)
            value.clear()
            return True

        assert Validator(list[Annotated[int, drain]]).is_valid(value)
        assert seen == [1]

    def test_keyboard_interrupt_in_predicate(self):
        seen = []

        def interrupt(item):
            seen.append(item)
            raise KeyboardInterrupt

        schema = Validator(list[Annotated[int, interrupt]])
        with pytest.raises(KeyboardInterrupt):
            [1, 2] in schema
        with pytest.raises(KeyboardInterrupt):
            schema.validate([1, 2])
        assert seen == [1, 1]


class TestComposites:
    def test_complement(self):
        not_int = complement(int)
        assert records(not_int, 3) == [("unexpected_match", (), "not int")]
        assert not_int.is_valid("x")
        not_list = complement(list[int])
        not_list.validate(["x"])  # the inner walk's records never surface

    def test_intersection_collects_every_member(self):
        both = intersection(str, complement(str), int)
        assert records(both, 1) == [("string_type", (), "str")]
        assert records(both, "a") == [("unexpected_match", (), "not str"), ("int_type", (), "int")]
        assert records(both, "a", fail_fast=True) == [("unexpected_match", (), "not str")]

    def test_instance(self):
        class A:
            pass

        assert Validator(A).is_valid(A())
        assert records(A, 1) == [("instance_type", (), "A")]


class TestRecursion:
    def test_cycle_is_a_loop(self):
        tree = recursive(lambda t: list[t])
        value = []
        value.append(value)
        assert records(tree, value) == [("recursion_loop", (0,), "a finite (non-cyclic) value")]
        assert not tree.is_valid(value)

    def test_depth_limit(self):
        tree = recursive(lambda t: list[t])
        assert tree.is_valid(nested_lists(128))
        assert not tree.is_valid(nested_lists(129))
        [(code, path, expected)] = records(tree, nested_lists(129))
        assert (code, expected, path) == ("recursion_limit", "at most 128 levels of recursion", (0,) * 128)


class TestFatalExceptions:
    @pytest.mark.parametrize("exc", [KeyboardInterrupt, MemoryError, RecursionError, SystemExit])
    def test_fatal_propagates_and_stops(self, exc):
        calls = []

        def on_eq(token, other):
            calls.append(other)
            raise exc

        token = Token(on_eq)
        validator = Validator(list[Literal[token]])
        with pytest.raises(exc):
            validator.is_valid([token, token])
        assert len(calls) == 1
        calls.clear()
        with pytest.raises(exc):
            validator.validate([token, token])
        assert len(calls) == 1

    def test_contains_propagates_keyboard_interrupt(self):
        def on_eq(token, other):
            raise KeyboardInterrupt

        token = Token(on_eq)
        with pytest.raises(KeyboardInterrupt):
            [token] in Validator(list[Literal[token]])

    def test_ordinary_exception_is_non_membership(self):
        def on_eq(token, other):
            raise ValueError("no")

        token = Token(on_eq)
        validator = Validator(token)
        assert not validator.is_valid(token)
        assert records(validator, token) == [("literal_error", (), "the literal " + repr(token))]

    def test_first_fatal_wins(self):
        raised = iter([KeyboardInterrupt("first"), SystemExit("second")])

        def on_eq(token, other):
            raise next(raised)

        token = Token(on_eq)
        with pytest.raises(KeyboardInterrupt, match="first"):
            Validator(complement(Literal[token]) | Literal[token]).is_valid(token)


class TestParsedJson:
    @pytest.mark.parametrize(
        ("schema", "document", "member"),
        [
            (int, "true", True),
            (int, "12345678901234567890123", True),
            (int, "1.0", False),
            (float, "1", False),
            (float, "1.0", True),
            (bool, "1", False),
            (None, "null", True),
            (str, '"x"', True),
            (bytes, '"x"', False),
            (list[int], "[1, 2]", True),
            (list[int], '[1, "a"]', False),
            (tuple[int, ...], "[1]", False),
            (set[int], "[1]", False),
            (frozenset[int], "[]", False),
            (Literal[1, "a"], '"a"', True),
            (Literal[1, "a"], "true", False),
            (Literal[True], "true", True),
            (Annotated[int, lambda v: v > 2], "3", True),
            (Annotated[int, lambda v: v > 2], "2", False),
            ({"a": int, "b?": str}, '{"a": 1, "b": "x"}', True),
            ({"a": int, "b?": str}, '{"b": "x"}', False),
            ({"a": int}, '{"a": 1, "c": 1}', False),
            (dict[str, int], '{"x": 1, "y": 2}', True),
            (dict[str, int], '{"x": 1, "y": "2"}', False),
            ({"a": int}, '{"a": "x", "a": 1}', True),
            ({"a": int}, '{"a": 1, "a": "x"}', False),
            (dict[str, int], '{"x": "y", "x": 1}', True),
            (dict[str, int], '{"x": 1, "x": "y"}', False),
            (complement(str), "[]", True),
            (complement(str), '"s"', False),
        ],
    )
    def test_membership_in_place(self, schema, document, member):
        assert Validator(schema).is_valid_json(document) is member

    def test_many_keys_repeated(self):
        fine = "{" + ", ".join(f'"k{i}": "x", "k{i}": {i}' for i in range(40)) + "}"
        bad = "{" + ", ".join(f'"k{i}": {i}, "k{i}": "x"' for i in range(40)) + "}"
        assert Validator(dict[str, int]).is_valid_json(fine)
        assert not Validator(dict[str, int]).is_valid_json(bad)

    def test_depth_limit(self):
        tree = recursive(lambda t: list[t])
        assert tree.is_valid_json("[" * 128 + "]" * 128)
        assert not tree.is_valid_json("[" * 129 + "]" * 129)


class TestThreads:
    def test_one_validator_many_threads(self):
        schema = Validator(list[Literal[1, 2, "a"] | tuple[int, str]])
        good = [1, "a", (3, "x"), 2] * 50
        bad = [1, "b", (3, 4)]
        barrier = threading.Barrier(16)
        failures = []

        def worker(i):
            barrier.wait()  # the first checks race to build the index
            for _ in range(200):
                if not schema.is_valid(good) or schema.is_valid(bad):
                    failures.append("verdict")
                try:
                    schema.validate(bad)
                    failures.append("no error")
                except ValidationError as e:
                    if [r["path"] for r in e.errors] != [(1,), (2, 1)]:
                        failures.append(e.errors)

        threads = [threading.Thread(target=worker, args=(i,)) for i in range(16)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        assert failures == []
