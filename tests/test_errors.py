"""ValidationError: message lines, attributes, the errors tuple and the texts that stand for values."""

import pytest
from hypothesis import given
from hypothesis import strategies as st

from quendrix import ValidationError, Validator


def error_of(schema, value, **kwargs):
    with pytest.raises(ValidationError) as info:
        Validator(schema).validate(value, **kwargs)
    return info.value


class Shown:
    def __init__(self, text):
        self.text = text

    def __repr__(self):
        return self.text


class Unrepresentable:
    def __repr__(self):
        raise RuntimeError("no repr")


class NamelessMeta(type):
    @property
    def __name__(cls):
        raise AttributeError("hidden")

    def __repr__(cls):
        return "<class with a hidden name>"


class TestSingleRecord:
    def test_attributes(self):
        e = error_of(int, "x")
        assert (e.code, e.expected, e.value, e.path) == ("int_type", "int", "'x'", ())
        assert e.message == "expected int, got 'x' [int_type]"
        assert str(e) == e.message
        assert e.args == (e.message,)

    def test_errors_dict_in_key_order(self):
        e = error_of(list[int], [0, None])
        [entry] = e.errors
        assert list(entry) == ["code", "path", "message", "expected", "value"]
        assert entry == {
            "code": "int_type",
            "path": (1,),
            "message": "at [1]: expected int, got None [int_type]",
            "expected": "int",
            "value": "None",
        }
        assert e.message == entry["message"]
        assert type(entry["path"][0]) is int


class TestSeveralRecords:
    def test_message_lists_every_line(self):
        e = error_of(list[int], ["a", 1, "b", "c"])
        lines = str(e).split("\n")
        assert lines == [
            "3 validation errors:",
            "at [0]: expected int, got 'a' [int_type]",
            "at [2]: expected int, got 'b' [int_type]",
            "at [3]: expected int, got 'c' [int_type]",
        ]
        assert e.message == lines[1]
        assert [entry["message"] for entry in e.errors] == lines[1:]
        assert e.path == (0,)

    def test_fail_fast_keeps_first(self):
        e = error_of(list[int], ["a", "b"], fail_fast=True)
        assert [entry["path"] for entry in e.errors] == [(0,)]
        assert str(e) == "at [0]: expected int, got 'a' [int_type]"

    @pytest.mark.parametrize(
        ("schema", "value", "where"),
        [
            ({"a": [{"b": int}]}, {"a": [{"b": "x"}]}, "a[0].b"),
            ({"a.b": int}, {"a.b": "x"}, "a.b"),
            ({"a": {"b": int}}, {"a": {"b": "x"}}, "a.b"),
            ([{"a": int}], [{"a": "x"}], "[0].a"),
            ({"": {"": int}}, {"": {"": "x"}}, "."),
        ],
    )
    def test_path_text(self, schema, value, where):
        assert error_of(schema, value).message == f"at {where}: expected int, got 'x' [int_type]"

    def test_single_empty_key_has_no_location(self):
        e = error_of({"": int}, {"": "x"})
        assert (e.path, e.message) == (("",), "expected int, got 'x' [int_type]")

    def test_every_dict_matches_its_own_line(self):
        # Records share their codes, expected texts, keys and indexes; each
        # keeps its own line, values outside ASCII and indexes past 256 too.
        rows = [{"id": f"é{i}", "name": i} for i in range(300)]
        e = error_of([{"id": int, "name": str}], rows)
        lines = str(e).split("\n")
        assert lines[0] == "600 validation errors:"
        assert [entry["message"] for entry in e.errors] == lines[1:]
        assert e.message == lines[1] == "at [0].id: expected int, got 'é0' [int_type]"
        assert [entry["path"] for entry in e.errors] == [
            (i, key) for i in range(300) for key in ("id", "name")
        ]
        assert [(x["code"], x["expected"], x["value"]) for x in e.errors[-2:]] == [
            ("int_type", "int", "'é299'"),
            ("string_type", "str", "299"),
        ]

    def test_indexes_read_as_brackets(self):
        e = error_of(list[list[int]], [[], [1, "x"]])
        assert e.message == "at [1][1]: expected int, got 'x' [int_type]"
        assert e.path == (1, 1)


class TestValueText:
    @pytest.mark.parametrize(
        ("text", "shown"),
        [
            ("r" * 80, "r" * 80),
            ("r" * 81, "r" * 80 + "..."),
            ("é" * 81, "é" * 80 + "..."),
            ("é" * 40, "é" * 40),
        ],
    )
    def test_repr_is_cut_to_80_characters(self, text, shown):
        assert error_of(int, Shown(text)).value == shown

    # None, bools, small ints and plain ASCII strs are written without
    # calling repr; the text must be repr's own, cut the same way.
    @given(
        st.one_of(
            st.none(),
            st.booleans(),
            st.integers(),
            st.sampled_from([2**62, -(2**62), 2**63 - 1, -(2**63), 2**64]),
            st.text(),
            st.text(alphabet=st.characters(max_codepoint=127)),
        )
    )
    def test_plain_values_read_as_their_repr(self, value):
        text = repr(value)
        shown = text if len(text) <= 80 else text[:80] + "..."
        assert error_of(bytes, value).value == shown

    @pytest.mark.parametrize(
        "value",
        ["", " ", "a\\b", "\x7f", "\t", "it's", 'say "hi"', "both ' and \"", "é", "~" * 81, -1, 0],
    )
    def test_edge_values_read_as_their_repr(self, value):
        text = repr(value)
        assert error_of(bytes, value).value == (text if len(text) <= 80 else text[:80] + "...")

    def test_raising_repr(self):
        e = error_of(int, Unrepresentable())
        assert e.value == "<unrepresentable>"
        assert e.message == "expected int, got <unrepresentable> [int_type]"

    def test_class_without_usable_name(self):
        hidden = NamelessMeta("Hidden", (), {})
        assert error_of(hidden, 1).expected == "<class with a hidden name>"

    def test_long_class_name_is_whole(self):
        long_named = type("C" * 100, (), {})
        assert error_of(long_named, 1).expected == "C" * 100
