"""Generated JSON inputs: the parser never crashes, both parsing roads agree, and results match the json module."""

import dataclasses
import json
import os
from typing import Annotated, Any, Literal, TypedDict

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator, anything, union

# QX_FUZZ_EXAMPLES raises the example count for a long fuzzing run.
EXAMPLES = int(os.environ.get("QX_FUZZ_EXAMPLES", "300"))
FUZZ = settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=list(HealthCheck))

# Messages for documents that the json module accepts and we must refuse:
# NaN and infinities, floats that overflow, lone surrogate escapes, deep nesting.
REFUSED_ON_PURPOSE = (
    "expected value",
    "invalid number",
    "number out of range",
    "lone leading surrogate in hex escape",
    "unexpected end of hex escape",
    "recursion limit exceeded",
)

JSON_VALUES = st.recursive(
    st.none()
    | st.booleans()
    | st.integers()
    | st.integers(min_value=-(10**60), max_value=10**60)
    | st.floats(allow_nan=False, allow_infinity=False)
    | st.text(),
    lambda children: st.lists(children, max_size=6) | st.dictionaries(st.text(max_size=8), children, max_size=6),
    max_leaves=40,
)

SYNTAX = st.text(alphabet='[]{}",:0123456789.eE+-truefalsn \t\r\n\\u/abcdé\x01', max_size=40)


def load_verdict(validator, data):
    """The load road: (True, value) or (False, the json_invalid message or None for a non-member)."""
    try:
        return True, validator.load(data)
    except ValidationError as error:
        return False, error.value if error.code == "json_invalid" else None


# The predicate receives the whole parsed tree converted to Python objects,
# so the value-tree road can be compared with the load road value for value.
TREE_VALUES = []
TREE = Validator(Annotated[object, lambda value: TREE_VALUES.append(value) or True])


def check_document(data):
    accepted, result = load_verdict(anything, data)
    assert anything.is_valid_json(data) is accepted
    TREE_VALUES.clear()
    assert TREE.is_valid_json(data) is accepted
    assert TREE_VALUES == ([result] if accepted else [])
    try:
        # bytes go to the json module as UTF-8 text: it would guess other encodings
        reference = json.loads(data.decode("utf-8") if isinstance(data, bytes) else data)
        reference_accepts = True
    except (ValueError, RecursionError):  # UnicodeDecodeError is a ValueError
        reference_accepts = False
    if accepted:
        assert reference_accepts and result == reference
    elif reference_accepts:
        assert result.startswith(REFUSED_ON_PURPOSE), (data, result)


@FUZZ
@given(st.binary(max_size=64))
def test_arbitrary_bytes(data):
    check_document(data)


@FUZZ
@given(SYNTAX)
def test_json_like_text(document):
    check_document(document)
    check_document(document.encode())


@FUZZ
@given(JSON_VALUES, st.booleans(), st.sampled_from([None, 0, 2]))
def test_dumped_values_load_back(value, ensure_ascii, indent):
    document = json.dumps(value, ensure_ascii=ensure_ascii, indent=indent)
    for data in (document, document.encode()):
        assert anything.load(data) == value
        assert anything.is_valid_json(data) is True


@FUZZ
@given(JSON_VALUES, st.data())
def test_mutated_documents(value, data):
    document = json.dumps(value, ensure_ascii=data.draw(st.booleans())).encode()
    position = data.draw(st.integers(min_value=0, max_value=len(document)))
    action = data.draw(st.sampled_from(["delete", "insert", "replace", "truncate"]))
    byte = data.draw(st.binary(min_size=1, max_size=1))
    if action == "delete":
        document = document[:position] + document[position + 1 :]
    elif action == "insert":
        document = document[:position] + byte + document[position:]
    elif action == "replace":
        document = document[:position] + byte + document[position + 1 :]
    else:
        document = document[:position]
    check_document(document)


class Inner(TypedDict):
    label: str


class Item(TypedDict):
    name: str
    tags: list[str]
    inner: Inner


SCHEMAS = [
    Validator(list[int]),
    Validator(dict[str, int | float]),
    Validator(Item),
    Validator(list[Item] | None),
    Validator(int | str | list[bool]),
]


@FUZZ
@given(
    st.sampled_from(SCHEMAS),
    JSON_VALUES
    | st.builds(
        lambda name, tags, inner: {"name": name, "tags": tags, "inner": inner},
        st.text(),
        JSON_VALUES,
        st.dictionaries(st.sampled_from(["label", "name", "tags"]), JSON_VALUES, max_size=3),
    ),
)
def test_tree_walk_agrees_with_loaded_objects(validator, value):
    document = json.dumps(value)
    accepted, _ = load_verdict(validator, document)
    assert validator.is_valid_json(document) is accepted
    assert validator.is_valid(json.loads(document)) is accepted


# ---- Checked while parsed: the one-pass roads against json.loads and validate ----

Ge = dataclasses.make_dataclass("Ge", ["ge"], frozen=True)
MinLen = dataclasses.make_dataclass("MinLen", ["min_length"], frozen=True)
MaxLen = dataclasses.make_dataclass("MaxLen", ["max_length"], frozen=True)
Pattern = dataclasses.make_dataclass("Pattern", ["pattern"], frozen=True)

KEYS = ["a", "b", "c", "é", "a\n"]
SCALAR_TEXTS = ["null", "true", "false", "0", "1", "-3", "2.5", "-0.0", "1e3", '"a"', '"b"', '"ab"', '"\\u00e9"', "1" * 25]

# Leaf schemas, each with documents of which most are members.
LEAVES = [
    (int, ["0", "-3", "1" * 25, "true", "2.5"]),
    (float, ["2.5", "-0.0", "1e3", "1"]),
    (str, ['"a"', '"\\u00e9"', '""', "1"]),
    (bool, ["true", "false", "0"]),
    (None, ["null", "0"]),
    (object, SCALAR_TEXTS),
    (Any, SCALAR_TEXTS),
    (Literal[1, "a", True], ["1", '"a"', "true", "1.0", '"b"']),
    (Literal["a", "b"], ['"a"', '"b"', '"c"']),
    (Annotated[int, Ge(0)], ["0", "5", "-1", "true"]),
    (Annotated[str, MaxLen(1)], ['"a"', '""', '"ab"']),
    (Annotated[str, Pattern("a.*")], ['"a"', '"ab"', '"b"']),
    (Annotated[float | int, Ge(0.5)], ["1", "0.5", "0.25", "-1"]),
]


@st.composite
def schema_and_documents(draw, depth=0):
    """(spec, strategy of JSON texts): mostly members, with repeated keys, extra keys and strays."""
    kinds = ["leaf"] if depth >= 3 else ["leaf", "list", "dict", "record", "fixed", "union", "minlen"]
    kind = draw(st.sampled_from(kinds))
    if kind == "leaf":
        spec, texts = draw(st.sampled_from(LEAVES))
        return spec, st.sampled_from(texts)
    if kind == "union":
        parts = draw(st.lists(schema_and_documents(depth + 1), min_size=2, max_size=3))
        return union(*(p[0] for p in parts)), st.one_of(*(p[1] for p in parts))
    if kind == "fixed":  # a list literal of two items, or a tuple, which no JSON array is
        (first, one), (second, two) = draw(schema_and_documents(depth + 1)), draw(schema_and_documents(depth + 1))
        items = st.one_of(st.tuples(one, two), st.tuples(one), st.tuples(one, two, two))
        spec = draw(st.sampled_from([[first, second], tuple[first, second]]))
        return spec, items.map(lambda xs: "[" + ", ".join(xs) + "]")
    inner, values = draw(schema_and_documents(depth + 1))
    if kind in ("list", "minlen"):
        texts = st.lists(values, max_size=4).map(lambda xs: "[" + ", ".join(xs) + "]")
        return (list[inner] if kind == "list" else Annotated[list[inner], MinLen(1)]), texts
    if kind == "dict":
        return dict[str, inner], st.lists(st.tuples(st.sampled_from(KEYS), values), max_size=4).map(object_text)
    names = draw(st.lists(st.sampled_from(KEYS), unique=True, max_size=3))
    fields = [(name, draw(st.booleans()), draw(schema_and_documents(depth + 1))) for name in names]
    spec = Validator({name + ("?" if optional else ""): field[0] for name, optional, field in fields})
    stray = st.tuples(st.sampled_from(names + ["z"]), st.sampled_from(SCALAR_TEXTS))

    @st.composite
    def record_text(draw):
        pairs = [(name, draw(field[1])) for name, _, field in fields if draw(st.integers(0, 3))]
        pairs += draw(st.lists(stray, max_size=2))  # repeated or undeclared keys
        return object_text(draw(st.permutations(pairs)))

    return spec, record_text()


def object_text(pairs):
    return "{" + ", ".join(f"{json.dumps(key)}: {value}" for key, value in pairs) + "}"


def outcome(call, *args, **kwargs):
    """None when the call passes, else the error's message and records."""
    try:
        call(*args, **kwargs)
        return None
    except ValidationError as error:
        return str(error), error.errors


@FUZZ
@given(schema_and_documents(), st.data(), st.booleans())
def test_checked_parse_agrees_with_parse_then_walk(schema, data, as_bytes):
    spec, documents = schema
    validator = Validator(spec)
    document = data.draw(documents)
    value = json.loads(document)
    data = document.encode() if as_bytes else document
    expected = outcome(validator.validate, value)
    assert validator.is_valid_json(data) is (expected is None)
    assert outcome(validator.validate_json, data) == expected
    assert outcome(validator.validate_json, data, fail_fast=True) == outcome(validator.validate, value, fail_fast=True)
    if expected is None:
        loaded = validator.load(data)
        # json.dumps tells bool from int and float from int, and keeps key order.
        assert json.dumps(loaded) == json.dumps(value)
