"""A short demonstration: build validators and check a good and a bad value."""

from typing import Annotated, TypedDict

import quendrix as q


class Point(TypedDict):
    x: int
    y: int


def show(title, thunk):
    try:
        print(f"{title}: {thunk()!r}")
    except Exception as exc:  # the demonstration prints what a user would see
        print(f"{title}: {type(exc).__name__}: {exc}")


points = q.Validator(list[Point])
show("schema", lambda: points)
show("good value is valid", lambda: points.is_valid([{"x": 1, "y": 2}]))
show("bad value is valid", lambda: points.is_valid([{"x": 1, "y": "2"}]))
show("validate bad value", lambda: points.validate([{"x": 1, "y": "2"}, {"x": 3}]))
ages = q.Validator(Annotated[int, type("Ge", (), {"ge": 0})()])
show("validate -1 as age", lambda: ages.validate(-1))
show("JSON document is valid", lambda: points.is_valid_json(b'[{"x": 1, "y": 2}]'))
show("load JSON", lambda: points.load('[{"x": 3, "y": 4}]'))
show("list[bool] is a subtype of list[int]", lambda: q.Validator(list[bool]).is_subtype_of(list[int]))
show("simplified union", lambda: q.union(str, int, q.union(int, None)).simplify())
