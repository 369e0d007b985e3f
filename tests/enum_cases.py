"""Enums for the decision tests: plain ones, and ones whose own hooks make two objects equal."""

import enum


class Color(enum.Enum):
    RED = 1
    CRIMSON = 1  # an alias: the same object as RED
    BLUE = 2


class Num(enum.IntEnum):
    ONE = 1
    TWO = 2
    UNO = 1


class Letter(enum.StrEnum):
    A = "a"
    B = "b"


class Perm(enum.Flag):
    R = 1
    W = 2


class Bits(enum.IntFlag):  # unknown bits are kept: Bits(8) is made on demand, once
    R = 1
    W = 2


class Signed(float, enum.Enum):
    ZERO = 0.0
    NEGATIVE_ZERO = -0.0  # equal to ZERO, so its alias
    HALF = 0.5


PLAIN = [Color, Num, Letter, Perm, Bits, Signed]
# Members made by combining or by looking up an unnamed value.
MADE_ON_DEMAND = [Perm.R | Perm.W, Bits.R | Bits.W, Bits(8)]


class Loose(enum.Enum):
    """Compares by an __eq__ of its own: A equals B."""

    A = 1
    B = 2

    def __eq__(self, other):
        return type(other) is Loose

    __hash__ = enum.Enum.__hash__


class LastDigit(int):
    def __eq__(self, other):
        return int(self) % 10 == int(other) % 10

    __hash__ = int.__hash__


class Digits(LastDigit, enum.Enum):
    """The mixin's __eq__ makes A equal B."""

    A = 1
    B = 11


class Labelled(int, enum.Enum):
    """A __new__ of its own files members by label: A and B are both 1, and two objects."""

    def __new__(cls, number, label):
        member = int.__new__(cls, number)
        member._value_ = label
        return member

    A = (1, "a")
    B = (1, "b")


class Lenient(enum.IntEnum):
    """A _missing_ of its own makes a new object at each lookup: Lenient("1") equals A."""

    A = 1

    @classmethod
    def _missing_(cls, value):
        member = int.__new__(cls, int(value))
        member._name_ = "UNKNOWN"
        member._value_ = value
        return member


class Stamped:
    """Reads a member's `_value_` as its identity, so no equal member is merged into another."""

    @property
    def _value_(self):
        return id(self)

    @_value_.setter
    def _value_(self, value):
        pass


class Stamps(Stamped, enum.IntEnum):
    A = 1
    B = 1


class Minting(enum.EnumType):
    """A call that makes a new object for every value no member has."""

    def __call__(cls, value, *args, **kwargs):
        if isinstance(value, int) and value not in cls._value2member_map_:
            member = int.__new__(cls, value)
            member._name_ = "MINTED"
            member._value_ = value
            return member
        return super().__call__(value, *args, **kwargs)


class Minted(enum.IntEnum, metaclass=Minting):
    A = 1


HOOKED = [Loose, Digits, Labelled, Lenient, Stamps, Minted]
# Objects of a hooked class equal to one another, each pair two objects.
EQUAL_TWINS = [
    (Loose.A, Loose.B),
    (Digits.A, Digits.B),
    (Labelled.A, Labelled.B),
    (Lenient.A, Lenient("1")),
    (Lenient(5), Lenient(5)),
    (Stamps.A, Stamps.B),
    (Minted(5), Minted(5)),
]


def is_member(member):
    """A predicate true of `member` itself and of no other object."""
    return lambda value: value is member
