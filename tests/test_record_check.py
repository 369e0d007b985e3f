"""Records and objects: the records that explain a failing dict or instance, and their order."""

import collections
import dataclasses
from typing import Annotated, Any

import pytest

from quendrix import ValidationError, Validator


def failures(schema, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        Validator(schema).validate(value, **kwargs)
    return [(e["code"], e["path"], e["expected"], e["value"]) for e in info.value.errors]


class StrRaises:
    def __str__(self):
        raise ValueError("no str")

    def __repr__(self):
        return "StrRaises()"

    def __hash__(self):
        return 7

    def __eq__(self, other):
        return self is other


class LongStr:
    def __str__(self):
        return "k" * 50

    def __repr__(self):
        return "LongStr()"


class TestRecordOrder:
    schema = {"a": int, "b?": str}

    def test_collect_reports_fields_then_undeclared_keys(self):
        assert failures(self.schema, {"b": 1, "c": 2}) == [
            ("missing_key", ("a",), 'required key "a"', "missing"),
            ("string_type", ("b",), "str", "1"),
            ("extra_forbidden", ("c",), "no unexpected key", '"c"'),
        ]

    def test_fail_fast_stops_at_first_record(self):
        assert failures(self.schema, {"b": 1, "c": 2}, fail_fast=True) == [
            ("missing_key", ("a",), 'required key "a"', "missing"),
        ]

    def test_fail_fast_reaches_undeclared_keys_when_fields_pass(self):
        assert failures(self.schema, {"a": 1, "x": 1, "y": 2}, fail_fast=True) == [
            ("extra_forbidden", ("x",), "no unexpected key", '"x"'),
        ]

    def test_undeclared_keys_in_dict_order(self):
        assert [f[1] for f in failures({"a": int}, {"z": 0, "a": 1, "m": 0})] == [("z",), ("m",)]

    def test_field_records_follow_declaration_order(self):
        got = failures({"x": int, "y": int}, {"y": "1", "x": "2"})
        assert [f[1] for f in got] == [("x",), ("y",)]

    def test_missing_key_name_is_quoted(self):
        assert failures({'say "hi"\n': int}, {}) == [
            ("missing_key", ('say "hi"\n',), 'required key "say \\"hi\\"\\n"', "missing")
        ]


class TestManyFailingDicts:
    # One check looks the fields of many failing dicts up by name, of
    # several records; each dict's records name its own record's fields.
    def test_each_record_reports_its_own_fields(self):
        schema = {"x": [{"a": int, "b?": str}], "y": [{"b": int, "c": str}]}
        value = {"x": [{"b": 1}, {"a": "1"}], "y": [{"a": 1}, {"b": "2", "c": 3}]}
        assert [f[:2] for f in failures(schema, value)] == [
            ("missing_key", ("x", 0, "a")),
            ("string_type", ("x", 0, "b")),
            ("int_type", ("x", 1, "a")),
            ("missing_key", ("y", 0, "b")),
            ("missing_key", ("y", 0, "c")),
            ("extra_forbidden", ("y", 0, "a")),
            ("int_type", ("y", 1, "b")),
            ("string_type", ("y", 1, "c")),
        ]


class TestNotADict:
    @pytest.mark.parametrize(
        "value", [[1], "abc", None, collections.OrderedDict, collections.ChainMap({"a": 1})]
    )
    def test_dict_type(self, value):
        assert failures({"a": int}, value) == [("dict_type", (), "dict", repr(value))]


class TestUndeclaredKeys:
    @pytest.mark.parametrize(
        ("schema", "value", "expected"),
        [
            # A non-str key is undeclared even when its str() names a field.
            (
                {"1": int},
                {"1": 5, 1: 2},
                [("extra_forbidden", ("1",), "no unexpected key", '"1"')],
            ),
            (
                {},
                {StrRaises(): 1},
                [("extra_forbidden", ("",), "no unexpected key", '""')],
            ),
            (
                {},
                {"tab\there": 1},
                [("extra_forbidden", ("tab\there",), "no unexpected key", '"tab\\there"')],
            ),
            # The first clause alone explains the pair: key and value, both walked.
            ({str: int}, {"x": "y"}, [("int_type", ("x",), "int", "'y'")]),
            ({str: int, int: str}, {1: 2}, [("string_type", ("1",), "str", "1")]),
            ({str: int}, {1: "y"}, [("string_type", ("1",), "str", "1"), ("int_type", ("1",), "int", "'y'")]),
            # The clause segment is str() cut to 40 characters, or repr() when str() raises.
            ({str: int}, {LongStr(): 1}, [("string_type", ("k" * 40 + "...",), "str", "LongStr()")]),
            ({str: int}, {StrRaises(): 1}, [("string_type", ("StrRaises()",), "str", "StrRaises()")]),
            ({str: int}, {"k" * 40: "v"}, [("int_type", ("k" * 40,), "int", "'v'")]),
        ],
    )
    def test_records(self, schema, value, expected):
        assert failures(schema, value) == expected

    def test_accepting_clause_ends_the_search(self):
        validator = Validator({"a": int, str: int, int: str})
        assert validator.is_valid({"a": 1, "b": 2, 3: "c"})
        assert failures({"a": int, str: int, int: str}, {"a": "x", "b": 2, 3: "c"}) == [
            ("int_type", ("a",), "int", "'x'")
        ]


class TestDictSubclass:
    class Sneaky(dict):
        calls = []

        def __getitem__(self, key):
            self.calls.append("getitem")
            return "fake"

        def get(self, key, default=None):
            self.calls.append("get")
            return "fake"

        def __iter__(self):
            self.calls.append("iter")
            return iter(["fake"])

        def keys(self):
            self.calls.append("keys")
            return ["fake"]

        def items(self):
            self.calls.append("items")
            return [("fake", "fake")]

        def __len__(self):
            self.calls.append("len")
            return 99

        def __contains__(self, key):
            self.calls.append("contains")
            return True

    def test_storage_is_read_not_the_overrides(self):
        self.Sneaky.calls.clear()
        value = self.Sneaky(a="x", z=1)
        got = failures({"a": int, "b": int}, value)
        assert got == [
            ("int_type", ("a",), "int", "'x'"),
            ("missing_key", ("b",), 'required key "b"', "missing"),
            ("extra_forbidden", ("z",), "no unexpected key", '"z"'),
        ]
        assert self.Sneaky.calls == []


class TestLoneSurrogates:
    @pytest.mark.parametrize(
        ("schema", "value", "codes"),
        [
            ({"a": int}, {"\ud800": 1, "a": 1}, ["extra_forbidden"]),
            ({"a": int}, {"a": "\udfff"}, ["int_type"]),
            ({str: int}, {"\ud800": "x"}, ["int_type"]),
            ({int: int}, {"\ud800": 1}, ["int_type"]),
        ],
    )
    def test_never_raises_out_of_a_check(self, schema, value, codes):
        assert [f[0] for f in failures(schema, value)] == codes
        assert Validator(schema).is_valid(value) is False

    def test_surrogate_key_passes_a_str_clause(self):
        assert Validator({str: int}).is_valid({"\ud800": 1})


class TestMutationDuringCheck:
    def run(self, mutate):
        value = {"a": "not an int", "k": 1}

        def predicate(v):
            mutate(value)
            return True

        Validator({"a": int, str: Annotated[int, predicate]}).validate(value)

    def test_size_change(self):
        with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
            self.run(lambda d: d.__setitem__("new", 1))

    def test_keys_change(self):
        def swap(d):
            if "k" in d:
                del d["k"]
                d["k2"] = 1

        with pytest.raises(RuntimeError, match="dictionary keys changed during iteration"):
            self.run(swap)

    def test_cleared_dict(self):
        with pytest.raises(RuntimeError, match="dictionary changed size during iteration"):
            self.run(lambda d: d.clear())


class Mortal:
    """Marks its own death: `deaths` lists the names of those gone."""

    deaths = []

    def __init__(self, name):
        self.name = name

    def __del__(self):
        Mortal.deaths.append(self.name)


class TestItemsHeldDuringTheirCheck:
    # A check that replaces the value under test in its dict changes neither
    # the dict's size nor its keys, so the walk goes on; the value, whose only
    # other holder was the dict, must live until its own check is over.
    @pytest.mark.parametrize(
        "schema_of",
        [
            lambda checked: {"a": checked},
            lambda checked: {"b?": int, str: checked},
            lambda checked: dict[str, checked],
        ],
        ids=["field", "clause", "dict"],
    )
    @pytest.mark.parametrize("failing", [False, True], ids=["member", "explained"])
    def test_replaced_value_outlives_its_check(self, schema_of, failing):
        box = {}

        def replace(value):
            box["a"] = 0
            return True

        def still_alive(value):
            return getattr(value, "name", None) not in Mortal.deaths

        Mortal.deaths.clear()
        box["a"] = Mortal("first")
        if failing:  # a key no schema here takes, so validate explains the dict
            box[1] = 1
        validator = Validator(schema_of(Annotated[Any, replace, still_alive]))
        if failing:
            with pytest.raises(ValidationError) as info:
                validator.validate(box)
            assert [e["path"] for e in info.value.errors] == [("1",)]
        else:
            assert validator.is_valid(box)
        assert Mortal.deaths == ["first"]


@dataclasses.dataclass
class Point:
    x: int
    y: str


class Other:
    x = 1
    y = "a"


class TestObjectAttributes:
    def test_missing_attribute(self):
        p = Point(1, "a")
        del p.y
        assert failures(Point, p) == [("missing_attribute", ("y",), 'attribute "y"', "missing")]

    def test_other_class_gives_one_instance_record(self):
        other = Other()
        assert failures(Point, other) == [("instance_type", (), "Point", repr(other))]

    def test_collect_reports_every_attribute_fail_fast_the_first(self):
        p = Point("x", 2)
        assert failures(Point, p) == [
            ("int_type", ("x",), "int", "'x'"),
            ("string_type", ("y",), "str", "2"),
        ]
        assert failures(Point, p, fail_fast=True) == [("int_type", ("x",), "int", "'x'")]
        assert Validator(Point).is_valid(p) is False


def point_with_y(prop):
    class P(Point):
        y = property(prop)

    p = P.__new__(P)
    p.x = 1
    return p


class TestAttributeExceptions:
    @pytest.mark.parametrize("exc", [ValueError, AttributeError, KeyError, LookupError])
    def test_ordinary_exception_is_missing_attribute(self, exc):
        def prop(self):
            raise exc("nope")

        value = point_with_y(prop)
        assert failures(Point, value) == [("missing_attribute", ("y",), 'attribute "y"', "missing")]
        assert Validator(Point).is_valid(value) is False

    @pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit, MemoryError, RecursionError])
    @pytest.mark.parametrize("entry", ["validate", "is_valid", "in"])
    def test_fatal_exception_propagates(self, exc, entry):
        def prop(self):
            raise exc("stop")

        validator = Validator(Point)
        value = point_with_y(prop)
        with pytest.raises(exc):
            if entry == "in":
                value in validator
            else:
                getattr(validator, entry)(value)

    def test_membership_stops_at_first_failing_attribute(self):
        def prop(self):
            raise KeyboardInterrupt

        value = point_with_y(prop)
        value.x = "not an int"
        assert Validator(Point).is_valid(value) is False
        with pytest.raises(KeyboardInterrupt):
            Validator(Point).validate(value)
