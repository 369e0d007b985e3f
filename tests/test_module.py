"""Module start-up, the Validator type, argument rules, equality and hashing."""

import copy
import subprocess
import sys
import textwrap

import pytest

import quendrix
from quendrix import _quendrix as m
from siphash_reference import python_hash_of, siphash, u64

EXPECTED_ALL = [
    "ValidationError",
    "Validator",
    "union",
    "intersection",
    "complement",
    "recursive",
    "anything",
    "nothing",
    "MAX_SCHEMA_DEPTH",
    "MAX_DEFINITIONS",
    "MAX_SCHEMA_NODES",
]


class TestStartUp:
    def test_all_lists_attributes_in_order(self):
        assert m.__all__ == EXPECTED_ALL
        assert quendrix.__all__ == EXPECTED_ALL
        for name in EXPECTED_ALL:
            assert getattr(quendrix, name) is getattr(m, name)

    @pytest.mark.parametrize(
        "name, value", [("MAX_SCHEMA_DEPTH", 128), ("MAX_DEFINITIONS", 128), ("MAX_SCHEMA_NODES", 100000)]
    )
    def test_limits(self, name, value):
        assert type(getattr(m, name)) is int and getattr(m, name) == value

    def test_module_doc(self):
        assert m.__doc__.startswith("The `quendrix._quendrix` extension module.")

    def test_exception_type(self):
        assert m.ValidationError.__module__ == "_quendrix"
        assert m.ValidationError.__name__ == "ValidationError"
        assert m.ValidationError.__bases__ == (Exception,)
        assert m.ValidationError.__doc__ == "Raised when a value is not a member of a schema's set."

    def test_validator_type(self):
        assert m.Validator.__module__ == "quendrix._quendrix"
        assert m.Validator.__text_signature__ == "(schema)"
        assert m.Validator.__doc__.startswith("A compiled, immutable schema validator.")
        assert not hasattr(m.anything, "__dict__")
        with pytest.raises(TypeError):
            type("Sub", (m.Validator,), {})

    @pytest.mark.parametrize(
        "name, signature, first",
        [
            ("union", "(*schemas)", "The union of the given schemas: a value in at least one of their sets."),
            ("intersection", "(*schemas)", "The intersection of the given schemas: a value in every one of their sets."),
            ("complement", "(schema)", "The complement of a schema: every value not in its set."),
            ("recursive", "(builder)", "Build a recursive schema as a checked fixpoint."),
        ],
    )
    def test_function_docs(self, name, signature, first):
        fn = getattr(m, name)
        assert fn.__name__ == name
        assert fn.__module__ == m.__name__ == "quendrix._quendrix"
        assert fn.__text_signature__ == signature
        assert fn.__doc__.startswith(first)

    @pytest.mark.parametrize(
        "method, signature",
        [
            ("validate", "($self, obj, *, fail_fast=False)"),
            ("is_valid", "($self, obj)"),
            ("ensure", "($self, obj)"),
            ("validate_json", "($self, data, *, fail_fast=False)"),
            ("load", "($self, data, *, fail_fast=False)"),
            ("is_valid_json", "($self, data)"),
            ("is_empty", "($self)"),
            ("is_subtype_of", "($self, other)"),
            ("is_equivalent", "($self, other)"),
            ("__copy__", "($self)"),
            ("__deepcopy__", "($self, _memo)"),
            ("open", "($self)"),
            ("close", "($self)"),
            ("simplify", "($self)"),
        ],
    )
    def test_method_signatures(self, method, signature):
        assert getattr(m.Validator, method).__text_signature__ == signature

    def test_fresh_interpreter_sees_one_exception_type(self):
        code = textwrap.dedent(
            """
            import threading, quendrix._quendrix as m
            seen = []
            def work():
                seen.append(m.ValidationError)
            ts = [threading.Thread(target=work) for _ in range(8)]
            [t.start() for t in ts]; [t.join() for t in ts]
            assert all(s is m.ValidationError for s in seen)
            print("ok")
            """
        )
        out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
        assert out.stdout.strip() == "ok"


class TestArguments:
    @pytest.mark.parametrize(
        "call, message",
        [
            (lambda: m.Validator(), "Validator.__new__() missing 1 required positional argument: 'schema'"),
            (lambda: m.Validator(int, int), "Validator.__new__() takes 1 positional arguments but 2 were given"),
            (lambda: m.Validator(int, schema=int), "Validator.__new__() got multiple values for argument 'schema'"),
            (lambda: m.Validator(spec=int), "Validator.__new__() got an unexpected keyword argument 'spec'"),
            (lambda: m.union(x=int), "union() got an unexpected keyword argument 'x'"),
            (lambda: m.intersection(int, y=1), "intersection() got an unexpected keyword argument 'y'"),
            (lambda: m.complement(), "complement() missing 1 required positional argument: 'schema'"),
            (lambda: m.recursive(), "recursive() missing 1 required positional argument: 'builder'"),
            (lambda: m.recursive(1, 2), "recursive() takes 1 positional arguments but 2 were given"),
            (lambda: m.anything.validate(1, True), "Validator.validate() takes 1 positional arguments but 2 were given"),
            (lambda: m.anything.validate(), "Validator.validate() missing 1 required positional argument: 'obj'"),
            (lambda: m.anything.is_valid(), "Validator.is_valid() missing 1 required positional argument: 'obj'"),
            (lambda: m.anything.is_valid(1, 2), "Validator.is_valid() takes 1 positional arguments but 2 were given"),
            (lambda: m.anything.is_valid(1, obj=1), "Validator.is_valid() got multiple values for argument 'obj'"),
            (lambda: m.anything.ensure(ob=1), "Validator.ensure() got an unexpected keyword argument 'ob'"),
            (lambda: m.anything.load(b"1", fast=True), "Validator.load() got an unexpected keyword argument 'fast'"),
            (lambda: m.anything.is_subtype_of(), "Validator.is_subtype_of() missing 1 required positional argument: 'other'"),
            (lambda: m.anything.__deepcopy__(), "Validator.__deepcopy__() missing 1 required positional argument: '_memo'"),
        ],
    )
    def test_messages(self, call, message):
        with pytest.raises(TypeError) as info:
            call()
        assert str(info.value) == message

    @pytest.mark.parametrize("value, type_name", [(1, "int"), (None, "NoneType"), ("yes", "str")])
    @pytest.mark.parametrize("method", ["validate", "validate_json", "load"])
    def test_fail_fast_must_be_bool(self, method, value, type_name):
        with pytest.raises(TypeError) as info:
            getattr(m.anything, method)(b"not json at all {", fail_fast=value)
        assert str(info.value) == f"'{type_name}' object is not an instance of 'bool'"
        assert info.value.__notes__ == ["while processing 'fail_fast'"]

    def test_keyword_obj(self):
        assert m.anything.is_valid(obj=3) is True
        obj = object()
        assert m.anything.ensure(obj=obj) is obj


class TestConstants:
    @pytest.mark.parametrize("value", [None, 0, True, "x", b"", [], {}, object(), m.anything])
    def test_anything_and_nothing(self, value):
        assert m.anything.is_valid(value) is True
        assert value in m.anything
        assert m.nothing.is_valid(value) is False
        assert value not in m.nothing

    def test_union_of_nothing_is_nothing(self):
        assert m.union() == m.nothing
        assert m.intersection() == m.anything


class TestEqualityAndHash:
    def test_ordering_is_not_defined(self):
        with pytest.raises(TypeError):
            m.anything < m.anything  # noqa: B015
        with pytest.raises(TypeError):
            m.anything >= m.nothing  # noqa: B015

    def test_equality_with_other_objects(self):
        assert (m.anything == 1) is False
        assert (m.anything != 1) is True
        assert (m.anything == m.nothing) is False
        assert (m.anything != m.anything) is False

    @pytest.mark.parametrize("name, kind", [("anything", 0), ("nothing", 2)])
    def test_hash_is_sip13_of_the_node_stream(self, name, kind):
        stream = u64(kind) + u64(0)  # the root's kind, then no definitions
        assert hash(getattr(m, name)) == python_hash_of(siphash(stream, 1, 3))

    def test_copies(self):
        for v in (m.anything, m.nothing):
            for c in (copy.copy(v), copy.deepcopy(v), v.__deepcopy__({})):
                assert c == v and c is not v and hash(c) == hash(v)

    def test_copies_share_pooled_objects(self):
        token = Token()
        v = m.Validator([token, {"a": token}])
        before = sys.getrefcount(token)
        copies = [copy.copy(v), copy.deepcopy(v), v.__deepcopy__({})]
        assert sys.getrefcount(token) == before + 3
        for c in copies:
            assert c == v and hash(c) == hash(v)
            assert c.is_valid([token, {"a": token}])
            assert not c.is_valid([Token(), {"a": token}])
        del copies, c
        assert sys.getrefcount(token) == before

    @pytest.mark.parametrize(
        "left, right, equal",
        [
            (lambda: Token(), lambda: Token(), False),
            (lambda: Loud(), lambda: Loud(), True),
            (lambda: Loud(ValueError("no")), lambda: Loud(), False),
            (lambda: Loud(KeyboardInterrupt()), lambda: Loud(), False),
        ],
    )
    def test_pooled_objects_compare_with_python_equality(self, left, right, equal):
        a, b = m.Validator(left()), m.Validator(right())
        assert (a == b) is equal
        assert (a != b) is (not equal)


class Token:
    """Equal only to itself."""


class Loud:
    """Equal to every other Loud, unless it was given an exception to raise."""

    def __init__(self, exc=None):
        self.exc = exc

    def __eq__(self, other):
        if self.exc is not None:
            raise self.exc
        return isinstance(other, Loud)

    __hash__ = object.__hash__


class TestUnionConstructor:
    def test_first_failing_argument_wins_and_later_ones_are_not_compiled(self):
        probed = []

        class Probe:
            def __getattr__(self, name):
                probed.append(name)
                raise AttributeError(name)

        with pytest.raises(NotImplementedError, match="^a tuple literal is not a schema"):
            m.union(int, (int, str), {1}, Probe())
        assert probed == []

    @pytest.mark.parametrize(
        "left, right, equal",
        [
            (lambda: m.union(int, int), lambda: m.union(int), False),
            (lambda: m.union(int), lambda: m.Validator(int), False),
            (lambda: m.union(int, str), lambda: m.Validator(int | str), True),
        ],
    )
    def test_members_are_kept_as_given(self, left, right, equal):
        assert (left() == right()) is equal


class TestSipHashReference:
    """The reference used above, checked against the published SipHash-2-4 vectors."""

    KEY = bytes(range(16))

    @pytest.mark.parametrize(
        "length, expected",
        [(0, 0x726FDB47DD0E0E31), (1, 0x74F839C593DC67FD), (15, 0xA129CA6149BE45E5), (8, 0x93F5F5799A932462)],
    )
    def test_vectors(self, length, expected):
        k0 = int.from_bytes(self.KEY[:8], "little")
        k1 = int.from_bytes(self.KEY[8:], "little")
        assert siphash(bytes(range(length)), 2, 4, k0, k1) == expected


class TestNumpyBool:
    def test_numpy_bool_is_accepted_for_fail_fast(self):
        numpy = pytest.importorskip("numpy")
        v = m.Validator(list[int])
        with pytest.raises(m.ValidationError) as collect:
            v.validate(["a", "b"], fail_fast=numpy.bool_(False))
        assert len(collect.value.errors) == 2
        with pytest.raises(m.ValidationError) as fast:
            v.validate(["a", "b"], fail_fast=numpy.bool_(True))
        assert len(fast.value.errors) == 1
