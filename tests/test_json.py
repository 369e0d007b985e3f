"""JSON entries: parse errors and their positions, parsed values, nesting, inputs, the walk over parsed trees."""

import dataclasses
import json
import math
import subprocess
import sys
import threading
from typing import Annotated, Literal, TypedDict

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator, anything


def json_error(data):
    with pytest.raises(ValidationError) as info:
        anything.validate_json(data)
    return info.value


def nested(depth, inner="1", open_="[", close="]"):
    return open_ * depth + inner + close * depth


class TestParseErrors:
    @pytest.mark.parametrize(
        "document, message",
        [
            ("", "EOF while parsing a value at line 1 column 0"),
            (" \n ", "EOF while parsing a value at line 2 column 1"),
            ("1 2", "trailing characters at line 1 column 3"),
            ("NaN", "expected value at line 1 column 1"),
            ("Infinity", "expected value at line 1 column 1"),
            ("-Infinity", "invalid number at line 1 column 2"),
            ("[1,]", "trailing comma at line 1 column 4"),
            ('{"a":1,}', "trailing comma at line 1 column 8"),
            ('{"a" 1}', "expected `:` at line 1 column 6"),
            ("{1:2}", "key must be a string at line 1 column 2"),
            ("[1 2]", "expected `,` or `]` at line 1 column 4"),
            ('{"a":1 "b":2}', "expected `,` or `}` at line 1 column 8"),
            ("trux", "expected ident at line 1 column 4"),
            ("tru", "EOF while parsing a value at line 1 column 3"),
            ("[", "EOF while parsing a list at line 1 column 1"),
            ("[1", "EOF while parsing a list at line 1 column 2"),
            ("[1,", "EOF while parsing a value at line 1 column 3"),
            ("{", "EOF while parsing an object at line 1 column 1"),
            ('{"a":1', "EOF while parsing an object at line 1 column 6"),
            ('{"a":', "EOF while parsing a value at line 1 column 5"),
            ('"abc', "EOF while parsing a string at line 1 column 4"),
            ("01", "invalid number at line 1 column 2"),
            ("1.x", "invalid number at line 1 column 3"),
            ("1.", "EOF while parsing a value at line 1 column 2"),
            ("-", "EOF while parsing a value at line 1 column 1"),
            ("1e400", "number out of range at line 1 column 1"),
            ("-1e400", "number out of range at line 1 column 1"),
            ('"\\x"', "invalid escape at line 1 column 3"),
            ('"\\u12g4"', "invalid escape at line 1 column 6"),
            ('"\\udc00"', "lone leading surrogate in hex escape at line 1 column 2"),
            ('"\\ud800\\u0041"', "lone leading surrogate in hex escape at line 1 column 2"),
            ('"\\ud800x"', "unexpected end of hex escape at line 1 column 8"),
            ("[1]x", "trailing characters at line 1 column 4"),
        ],
    )
    def test_message(self, document, message):
        for data in (document, document.encode()):
            error = json_error(data)
            assert error.value == message
            assert str(error) == f"expected valid JSON, got {message} [json_invalid]"
            assert (error.code, error.expected, error.path) == ("json_invalid", "valid JSON", ())
            assert len(error.errors) == 1

    @pytest.mark.parametrize(
        "document, position",
        [
            ("[\n1,\nx]", "line 3 column 1"),
            ("[1,\r\nx]", "line 2 column 1"),
            ("[1,\rx]", "line 1 column 5"),  # a carriage return ends no line
            ("[1\n\n", "line 3 column 0"),  # past the end, after a final line feed
            ("[1,\n", "line 2 column 0"),
            ('["é", x]', "line 1 column 8"),  # columns count UTF-8 bytes
        ],
    )
    def test_position_counts_bytes_and_line_feeds(self, document, position):
        assert json_error(document).value.endswith(" at " + position)

    def test_error_offset_on_a_line_feed_counts_on_the_next_line(self):
        # The offending control character is the line feed itself.
        full = "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"
        assert json_error('"a\nb"').value == full[:80] + "..."

    def test_long_message_is_cut_to_80_characters(self):
        error = json_error('"\x01"')
        full = "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 2"
        assert error.value == full[:80] + "..."
        assert str(error) == f"expected valid JSON, got {full[:80]}... [json_invalid]"

    @pytest.mark.parametrize(
        "data, message",
        [
            (b'"\xff"', "invalid unicode code point at line 1 column 2"),
            (b'"ab\xc0\x80"', "invalid unicode code point at line 1 column 4"),  # overlong
            (b'"\xed\xa0\x80"', "invalid unicode code point at line 1 column 2"),  # surrogate
            (b'"\xf4\x90\x80\x80"', "invalid unicode code point at line 1 column 2"),  # past U+10FFFF
            (b'"\xe2\x82"', "invalid unicode code point at line 1 column 2"),  # cut short
            (b'{"k\xff": 1}', "invalid unicode code point at line 1 column 4"),
            (b"\xff", "expected value at line 1 column 1"),
        ],
    )
    def test_bytes_must_be_utf8(self, data, message):
        assert json_error(data).value == message


class TestValues:
    @pytest.mark.parametrize(
        "document, expected",
        [
            ("1e3", 1000.0),
            ("12345678901234567890123", 12345678901234567890123),
            ("-12345678901234567890123", -12345678901234567890123),
            ("9223372036854775807", 2**63 - 1),
            ("9223372036854775808", 2**63),
            ("-9223372036854775808", -(2**63)),
            ("-9223372036854775809", -(2**63) - 1),
            ("18446744073709551616", 2**64),
            ("-0", 0),
            ("0.1", 0.1),
            ("1E-2", 0.01),
            ("2.5e+2", 250.0),
            ("1e-400", 0.0),
            ("4.9e-324", 5e-324),
            ("1.7976931348623157e308", sys.float_info.max),
            ("123456789012345678901234567890.5", 1.2345678901234568e29),
            ('"\\"\\\\\\/\\b\\f\\n\\r\\t"', '"\\/\b\f\n\r\t'),
            ('"\\u00e9\\u4e2d\\ud83d\\ude00"', "é中😀"),
            ('"a\\u0000b"', "a\x00b"),
            ('"é中😀"', "é中😀"),
            (' \t\r\n{"k" : [ true , false , null ] } \n', {"k": [True, False, None]}),
            ("[]", []),
            ("{}", {}),
        ],
    )
    def test_load(self, document, expected):
        for data in (document, document.encode()):
            value = anything.load(data)
            assert value == expected and type(value) is type(expected)

    def test_negative_zero_float_keeps_its_sign(self):
        assert math.copysign(1, anything.load("-0.0")) == -1

    @pytest.mark.parametrize(
        "text",
        ["0.1", "2.2250738585072014e-308", "5e-324", "0.30000000000000004", "1.0000000000000002",
         "9007199254740993.0", "9007199254740993e0", "8.98846567431158e307", "1.2345678901234567e-300",
         "123.456e-5", "0.000000000000000000000000000001e30", "1" + "0" * 400 + "e-400"],
    )
    def test_floats_round_exactly(self, text):
        assert anything.load(text) == float(text)

    @pytest.mark.parametrize("text", ["abc", "é", "aÿ", "ā", "߿", "ࠀ", "€x", "\uffff", "😀", "aé€😀", "\x7f"])
    @pytest.mark.parametrize("ensure_ascii", [False, True])
    def test_strings_take_the_narrowest_kind(self, text, ensure_ascii):
        document = json.dumps({text: [text]}, ensure_ascii=ensure_ascii)
        for data in (document, document.encode()):
            loaded = anything.load(data)
            ((key, (value,)),) = loaded.items()
            # A str of another kind than its text calls for compares unequal,
            # and one of the wide kinds holding only ASCII denies being ASCII.
            assert key == value == text
            assert key.isascii() is value.isascii() is text.isascii()
            assert loaded[text] == [text]
            assert Validator(Literal[text]).is_valid_json(json.dumps(text, ensure_ascii=ensure_ascii))
        seen = []
        assert Validator(Annotated[object, seen.append]).is_valid_json(document) is False
        assert seen == [{text: [text]}]
        ((key, (value,)),) = seen[0].items()
        assert key.isascii() is value.isascii() is text.isascii()

    def test_repeated_key_keeps_first_position_and_last_value(self):
        value = anything.load('{"a": 1, "b": 2, "a": 3}')
        assert list(value.items()) == [("a", 3), ("b", 2)]

    def test_repeated_keys_share_one_str(self):
        value = anything.load(b'[{"name": 1}, {"name": 2}, {"name": 3}]')
        first, second, third = (next(iter(d)) for d in value)
        assert first is second is third

    def test_keys_with_escapes_are_not_mixed_up(self):
        value = anything.load('[{"a\\u0062": 1}, {"ab": 2}, {"a\\"": 3}]')
        assert value == [{"ab": 1}, {"ab": 2}, {'a"': 3}]

    def test_many_distinct_keys(self):
        document = "{" + ",".join(f'"k{i}": {i}' for i in range(3000)) + "}"
        assert anything.load(document) == {f"k{i}": i for i in range(3000)}

    def test_big_integer_past_the_digit_limit(self):
        digits = "7" + "1234567890" * 1000  # well past the interpreter's 4300-digit limit
        old = sys.get_int_max_str_digits()
        sys.set_int_max_str_digits(0)
        try:
            expected = int(digits)
        finally:
            sys.set_int_max_str_digits(old)
        assert anything.load(digits) == expected
        assert anything.load("-" + digits) == -expected
        assert anything.load(f"[{digits}]") == [expected]

    def test_megabyte_integer_loads(self):
        digits = "9" * 1_000_000
        value = anything.load(digits.encode())
        assert value == 10**1_000_000 - 1

    def test_load_returns_the_object_it_validated(self):
        calls = []

        def remember(value):
            calls.append(value)
            return True

        value = Validator(Annotated[list, remember]).load("[1, 2]")
        assert calls == [value] and calls[0] is value

    def test_validate_json_returns_none(self):
        assert Validator(list[int]).validate_json(b"[1, 2]") is None


class TestNesting:
    @pytest.mark.parametrize(
        "document, valid",
        [
            (nested(200), True),
            (nested(201), False),
            (nested(201, inner=""), True),
            (nested(202, inner=""), False),
            (nested(200, '"x"', '{"k":', "}"), True),
            (nested(201, '"x"', '{"k":', "}"), False),
            (nested(200, "{}", '{"k":', "}"), True),
            (nested(100, nested(100, "[]", '{"k":', "}")), True),
            (nested(100, nested(101, "[1]", '{"k":', "}")), False),
        ],
    )
    def test_limit(self, document, valid):
        assert anything.is_valid_json(document) is valid
        if valid:
            anything.validate_json(document)
        else:
            assert json_error(document).value.startswith("recursion limit exceeded at line 1 column ")

    def test_limit_is_reported_at_the_first_value_too_deep(self):
        assert json_error(nested(201)).value == "recursion limit exceeded at line 1 column 202"

    @pytest.mark.parametrize("document", ["[" * 10_000, nested(10_000), nested(100_000, "", '{"a":', "}")])
    def test_deep_input_fails_cleanly(self, document):
        assert anything.is_valid_json(document) is False
        assert json_error(document).value.startswith("recursion limit exceeded")


class TestInputs:
    class Text(str):
        pass

    class Data(bytes):
        pass

    @pytest.mark.parametrize("data", [Text("[1]"), Data(b"[1]")])
    def test_subclasses_are_read(self, data):
        assert anything.load(data) == [1]
        assert anything.is_valid_json(data) is True

    @pytest.mark.parametrize("data", [bytearray(b"[1]"), memoryview(b"[1]"), 1, None, ["[1]"]])
    def test_other_types(self, data):
        assert anything.is_valid_json(data) is False
        for method in (anything.load, anything.validate_json):
            with pytest.raises(TypeError, match="^JSON input must be a str or bytes object$"):
                method(data)

    def test_lone_surrogate(self):
        assert anything.is_valid_json('"\ud800"') is False
        error = json_error('"\ud800"')
        assert error.value == "input string is not valid UTF-8 (contains a lone surrogate)"
        assert error.code == "json_invalid"

    def test_fail_fast_is_checked_before_the_document(self):
        with pytest.raises(TypeError) as info:
            anything.validate_json("not json", fail_fast="yes")
        assert "while processing 'fail_fast'" in info.value.__notes__


class Point(TypedDict):
    x: int
    y: int


class Segment(TypedDict):
    start: Point
    end: Point
    label: str


class TestWalk:
    @pytest.mark.parametrize(
        "schema, document, valid",
        [
            (list[int], "[1, 2, true]", True),
            (list[int], "[1, 2.0]", False),
            (list[float], "[1.0, 1]", False),
            (tuple[int, int], "[1, 2]", False),
            (dict[str, int], '{"a": 1, "b": 2}', True),
            (Point, '{"x": 1, "y": 2}', True),
            (Point, '{"x": 1, "x": "one", "y": 2}', False),
            (Point, '{"x": "one", "x": 1, "y": 2}', True),
            (Segment, '{"start": {"x": 1, "y": 2}, "end": {"y": 3, "x": 4}, "label": "s"}', True),
            (Segment, '{"start": {"x": 1, "y": 2}, "end": {"y": 3, "x": "4"}, "label": "s"}', False),
            (list[Segment], '[{"label": "s", "end": {"x": 1, "y": 2}, "start": {"x": 0, "y": 0}}]', True),
            (int | str, '"x"', True),
            (int | None, "null", True),
            (bytes, '"x"', False),
            (set[int], "[1]", False),
            (Annotated[int, lambda v: v > 10**30], "1" + "0" * 31, True),
            (Annotated[str, lambda v: v == "é"], '"\\u00e9"', True),
        ],
    )
    def test_both_roads_agree(self, schema, document, valid):
        validator = Validator(schema)
        assert validator.is_valid_json(document) is valid
        assert validator.is_valid_json(document.encode()) is valid
        if valid:
            validator.validate_json(document)
        else:
            with pytest.raises(ValidationError) as info:
                validator.validate_json(document)
            assert info.value.code != "json_invalid"

    def test_tree_converts_to_the_loaded_value(self):
        seen = []
        validator = Validator(Annotated[object, lambda value: seen.append(value) or True])
        document = '{"a": {"b": [1, {"c": "\\u00e9"}], "a": 2.5}, "d": null, "a": {"e": 12345678901234567890123}}'
        assert validator.is_valid_json(document) is True
        assert seen == [anything.load(document)] == [{"a": {"e": 12345678901234567890123}, "d": None}]
        assert list(seen[0]) == ["a", "d"]

    def test_member_errors_come_from_the_walk(self):
        with pytest.raises(ValidationError) as info:
            Validator(list[int]).load('[1, "a", 2, "b"]')
        assert [(e["code"], e["path"]) for e in info.value.errors] == [("int_type", (1,)), ("int_type", (3,))]
        with pytest.raises(ValidationError) as info:
            Validator(list[int]).load('[1, "a", 2, "b"]', fail_fast=True)
        assert len(info.value.errors) == 1

    @pytest.mark.parametrize("exc", [KeyboardInterrupt, MemoryError, RecursionError])
    def test_fatal_exception_is_raised(self, exc):
        def predicate(value):
            raise exc

        validator = Validator(Annotated[int, predicate])
        for method in (validator.is_valid_json, validator.load, validator.validate_json):
            with pytest.raises(exc):
                method("1")

    def test_check_nested_in_a_check_keeps_the_outer_tree(self):
        # The inner document is large and escaped, so its parse needs more
        # than the memory the outer one holds; both must see their own values.
        inner_document = "[" + ",".join(['"\\u00e9x\\n"'] * 20000) + "]"
        inner = Validator(list[str])
        seen = []

        def predicate(value):
            seen.append(value)
            return inner.is_valid_json(inner_document)

        outer = Validator(list[Annotated[str, predicate]])
        outer_document = '["\\u00e9a", "b\\tc", "\\"d"]'
        for _ in range(2):
            seen.clear()
            assert outer.is_valid_json(outer_document) is True
            assert seen == ["\u00e9a", "b\tc", '"d']

    def test_ordinary_exception_is_non_membership(self):
        def predicate(value):
            raise ValueError

        assert Validator(Annotated[int, predicate]).is_valid_json("1") is False


MinLen = dataclasses.make_dataclass("MinLen", ["min_length"], frozen=True)
Ge = dataclasses.make_dataclass("Ge", ["ge"], frozen=True)
WIDE = {f"f{i}": int for i in range(70)}  # more fields than one pass keeps track of


class TestCheckedWhileParsing:
    """Documents checked as they are parsed give what parsing first and walking afterwards gives."""

    @pytest.mark.parametrize(
        "schema, document, valid",
        [
            ({"a": int, "b": int}, '{"a": 1, "a": 2}', False),
            ({"a": int, "b": int}, '{"a": 1, "a": 2, "b": 3}', True),
            ({"a": int}, '{"a": 1, "z": 1}', False),
            ({"a": int, "b?": str}, '{"b": "x", "a": 1}', True),
            ({"a": int, "b?": str}, '{"b": 1, "a": 1}', False),
            ({"a": int}, '{"a": "x", "a": 1}', True),
            ({"a": int}, '{"a": 1, "a": "x"}', False),
            ({"a": {"b": int}}, '{"a": {"b": "x"}, "a": {"b": 1}}', True),
            (dict[str, int], '{"a": 1, "a": "x"}', False),
            (dict[str, int], '{"a": "x", "a": 1}', True),
            (dict[Literal["a", "b"], int], '{"a": 1, "c": 1}', False),
            ([int, str], "[1]", False),
            ([int, str], '[1, "a", 2]', False),
            ([int, str], '[1, "a"]', True),
            (tuple[int, str], '[1, "a"]', False),
            (list[int] | dict[str, int], '{"a": 1}', True),
            (list[int] | dict[str, int], "[1, 2]", True),
            (list[int] | dict[str, int], "[{}]", False),
            (list[int] | None, "{}", False),
            (Annotated[list[int], MinLen(2)], "[1]", False),
            (Annotated[list[int], MinLen(2)], "[1, 2]", True),
            (list[Annotated[int, Ge(0)]], "[0, 1, -1]", False),
            (list[Literal["a", 1]], '["a", 1, "\\u0061"]', True),
            (list[Literal["a", 1]], '["a", 1.0]', False),
            (list[dict[str, int]] | list[dict[str, str]], '[{"a": "x"}]', True),
            (list[int | str | None], '[1, "a", null, 2.5]', False),
            (WIDE, json.dumps({f"f{i}": i for i in range(70)}), True),
            (WIDE, json.dumps({f"f{i}": i for i in range(1, 70)}), False),
        ],
    )
    def test_roads_agree(self, schema, document, valid):
        validator = Validator(schema)
        value = json.loads(document)
        assert validator.is_valid(value) is valid
        assert validator.is_valid_json(document) is valid
        if valid:
            loaded = validator.load(document)
            assert json.dumps(loaded) == json.dumps(value)  # same types, values and key order
            return
        for fail_fast in (False, True):
            with pytest.raises(ValidationError) as from_json:
                validator.validate_json(document, fail_fast=fail_fast)
            with pytest.raises(ValidationError) as from_value:
                validator.validate(value, fail_fast=fail_fast)
            assert str(from_json.value) == str(from_value.value)
            assert from_json.value.errors == from_value.value.errors

    @staticmethod
    def user_code_schemas(calls):
        class Meta(type):
            def __instancecheck__(cls, obj):
                calls.append(obj)
                return True

        class Bound:
            def __le__(self, other):
                calls.append(other)
                return True

            __ge__ = __le__

        return [
            Annotated[int, lambda v: calls.append(v) or True],
            Meta("Checked", (), {}),
            Annotated[int, Ge(Bound())],
        ]

    @pytest.mark.parametrize("which", range(3))
    def test_user_code_never_runs_on_a_document_that_does_not_parse(self, which):
        calls = []
        validator = Validator(list[self.user_code_schemas(calls)[which]])
        assert validator.is_valid_json("[1, 2,") is False
        for method in (validator.load, validator.validate_json):
            with pytest.raises(ValidationError):
                method("[1, 2,")
        assert calls == []
        assert validator.is_valid_json("[1, 2]") is True
        validator.validate_json("[1, 2]")
        assert calls == [1, 2, 1, 2]

    def test_load_keeps_the_first_position_of_a_repeated_key(self):
        loaded = Validator({"a": int, "b": int}).load('{"a": "x", "b": 2, "a": 1}')
        assert list(loaded.items()) == [("a", 1), ("b", 2)]

    def test_syntax_error_after_a_failing_value_is_reported(self):
        with pytest.raises(ValidationError) as info:
            Validator(list[int]).validate_json('["x", 1,]')
        assert info.value.code == "json_invalid"


def test_threads_share_a_validator():
    validator = Validator(list[dict[str, int | str]])
    good = '[{"a": 1, "b": "x"}]' * 1
    documents = [(good, True), ('[{"a": 1.5}]', False), ("[", False)]
    failures = []

    def run():
        for _ in range(300):
            for document, valid in documents:
                if validator.is_valid_json(document) is not valid:
                    failures.append(document)
                try:
                    validator.load(document.encode())
                    loaded = True
                except ValidationError:
                    loaded = False
                if loaded is not valid:
                    failures.append(document)

    threads = [threading.Thread(target=run) for _ in range(8)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


# ---- Records with more fields than one pass keeps track of -----------------

# A record of `fields` optional fields and a str -> int clause (with `twice`,
# one name is also declared required), checked through one entry against an
# object of `keys` undeclared keys. Looking each key up among the fields one
# by one costs fields x keys: minutes per call, far past the timeout.
WIDE_COST_SCRIPT = r"""
import json, sys
import quendrix as q

shape, entry = sys.argv[1], sys.argv[2]
fields, keys = 90_000, 1_000_000
spec = {f"f{i:07d}?": int for i in range(fields)} | {str: int}
if shape == "twice":
    spec["f0000000"] = int
schema = q.Validator(spec)
body = ",".join(f'"k{i:07d}": {i}' for i in range(keys))
good = "{" + body + (', "f0000000": 1}' if shape == "twice" else "}")
bad = good[:-1] + ', "k": "x"}'

def outcome(call):
    try:
        call()
    except q.ValidationError as e:
        return [[r["code"], list(r["path"])] for r in e.errors]
    return None

if entry == "is_valid_json":
    out = [schema.is_valid_json(good), schema.is_valid_json(bad)]
elif entry == "validate_json":
    out = [outcome(lambda: schema.validate_json(good)), outcome(lambda: schema.validate_json(bad))]
else:
    out = [len(schema.load(good)), outcome(lambda: schema.load(bad))]
print(json.dumps(out))
"""

WIDE_FIELDS = [f"f{i}" for i in range(70)]


def json_object(pairs):
    """The JSON text of an object with these members, repeated keys kept."""
    return "{" + ", ".join(f"{json.dumps(k)}: {json.dumps(v)}" for k, v in pairs) + "}"


def records_of(call):
    try:
        call()
    except ValidationError as error:
        return error.errors
    return None


# The field kinds of the records below, each with a value it takes.
WIDE_KINDS = [(int, 1), (str, "s"), ({"x": int}, {"x": 1})]
WIDE_VALUES = [1, "s", {"x": 1}, {"x": "s"}]


@st.composite
def wide_cases(draw):
    """A record of more than 64 fields (some required, some declared twice, an
    optional clause) and an object that names some of them, repeats keys and
    adds undeclared ones, mostly with values their field takes."""
    spec = {}
    takes = {}  # by name: a value each of its fields takes, where there is one
    for name in WIDE_FIELDS:
        kind, good = draw(st.sampled_from(WIDE_KINDS))
        spec[name if draw(st.integers(0, 3)) == 3 else name + "?"] = kind
        takes[name] = good
    for name in draw(st.lists(st.sampled_from(WIDE_FIELDS), max_size=2, unique=True)):
        kind, good = draw(st.sampled_from(WIDE_KINDS))
        spec[name + "?" if name in spec else name] = kind
        if takes[name] != good:
            takes[name] = None
    clause = draw(st.sampled_from([None, *WIDE_KINDS[:2]]))
    if clause is not None:
        spec[str] = clause[0]
    for name in ("u", "v", "w"):
        takes[name] = clause[1] if clause is not None else None

    def member(name):
        fits = takes[name] is not None and draw(st.integers(0, 49)) < 49
        return (name, takes[name] if fits else draw(st.sampled_from(WIDE_VALUES)))

    names = draw(st.lists(st.sampled_from(sorted(takes)), max_size=90))
    pairs = [member(name) for name in names]
    if draw(st.integers(0, 3)) < 3:  # the required fields, so that the record may pass
        required = [k for k in spec if isinstance(k, str) and k[-1] != "?"]
        pairs = draw(st.permutations(pairs + [member(k) for k in required]))
    return spec, json_object(pairs)


class TestWideRecords:
    """Records past 64 fields: every JSON entry answers in time that follows the document and agrees
    with the check of the loaded object."""

    @pytest.mark.parametrize(
        "shape, entry",
        [
            ("open", "is_valid_json"),  # one pass over the parsed tree, and the walk after it
            ("open", "validate_json"),
            ("twice", "is_valid_json"),
            ("twice", "validate_json"),
            ("twice", "load"),  # the dict the parse made, walked
        ],
    )
    def test_cost_follows_the_document(self, shape, entry):
        done = subprocess.run(
            [sys.executable, "-c", WIDE_COST_SCRIPT, shape, entry],
            capture_output=True,
            text=True,
            timeout=30,
        )
        assert done.returncode == 0, done.stderr
        failed = [[["int_type", ["k"]]]]
        expected = {
            "is_valid_json": [True, False],
            "validate_json": [None] + failed,
            "load": [1_000_000 + (shape == "twice")] + failed,
        }[entry]
        assert json.loads(done.stdout) == expected

    @settings(max_examples=300, deadline=None, suppress_health_check=[HealthCheck.too_slow])
    @given(wide_cases())
    def test_json_entries_agree_with_the_loaded_object(self, case):
        spec, document = case
        validator = Validator(spec)
        value = json.loads(document)
        valid = validator.is_valid(value)
        assert validator.is_valid_json(document) is valid
        for fail_fast in (False, True):
            expected = records_of(lambda: validator.validate(value, fail_fast=fail_fast))
            assert (expected is None) is valid
            assert records_of(lambda: validator.validate_json(document, fail_fast=fail_fast)) == expected
            assert records_of(lambda: validator.load(document, fail_fast=fail_fast)) == expected
        if valid:
            assert list(validator.load(document).items()) == list(value.items())

    @pytest.mark.parametrize(
        "pairs, valid, calls",
        [
            # Fields in declaration order, each with its last value, then the undeclared keys.
            ([("f3", 3), ("f2", 2), ("f0", 0), ("f3", 4), ("u", 9)], True, [0, 4, 9]),
            # Undeclared keys by their last occurrence, from the end.
            ([("u", 5), ("f0", 0), ("f2", 2), ("v", 6), ("u", 7)], True, [0, 7, 6]),
            # A missing required field stops the pass where it is declared.
            ([("f3", 3), ("f0", 0), ("u", 9)], False, [0]),
            ([("f1", 1), ("f2", 2)], False, []),
            # So does a failing value.
            ([("f3", 3), ("f0", -1), ("f1", 1), ("f2", 2)], False, [-1]),
            ([("u", 9), ("f1", -1), ("f0", 0), ("f2", 2), ("f3", 3)], False, [0, -1]),
        ],
    )
    def test_user_code_runs_in_declaration_order(self, pairs, valid, calls):
        seen = []

        def checked(value):
            seen.append(value)
            return value >= 0

        spec = {"f0": Annotated[int, checked], "f1?": Annotated[int, checked], "f2": int}
        spec |= {"f3?": Annotated[int, checked]} | {f"f{i}?": int for i in range(4, 70)}
        spec[str] = Annotated[int, checked]
        assert Validator(spec).is_valid_json(json_object(pairs)) is valid
        assert seen == calls
