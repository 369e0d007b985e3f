"""Generated JSON inputs: the parser never crashes, both parsing roads agree, and results match the json module."""

import json
import os
from typing import Annotated, TypedDict

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from quendrix import ValidationError, Validator, anything

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
