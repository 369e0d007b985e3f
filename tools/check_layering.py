"""Folder layering of src/: fails when the folders' #include "..." lines form a cycle.

Each folder directly under src/ is a room; files directly in src/ form the room ".".
An include counts only when it names a file under src/, so generated and third-party
headers never take part. Prints one lowest-first order of the rooms when there is no cycle.

Use: python tools/check_layering.py [SRC_DIR]
"""

from __future__ import annotations

import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)
SOURCE_SUFFIXES = {".h", ".cc"}


def room_of(relative: pathlib.PurePosixPath) -> str:
    return relative.parts[0] if len(relative.parts) > 1 else "."


def folder_graph(src: pathlib.Path) -> dict[str, dict[str, list[str]]]:
    """Room -> room it includes -> the files whose lines make that edge."""
    graph: dict[str, dict[str, list[str]]] = {}
    for path in sorted(src.rglob("*")):
        if path.suffix not in SOURCE_SUFFIXES or not path.is_file():
            continue
        relative = pathlib.PurePosixPath(path.relative_to(src).as_posix())
        room = room_of(relative)
        edges = graph.setdefault(room, {})
        for target in INCLUDE.findall(path.read_text(encoding="utf-8")):
            if not (src / target).is_file():
                continue
            other = room_of(pathlib.PurePosixPath(target))
            if other != room:
                edges.setdefault(other, []).append(f"{relative}: {target}")
    return graph


def find_cycle(graph: dict[str, dict[str, list[str]]]) -> list[str] | None:
    """Rooms of one include cycle, first room repeated at the end; None when acyclic."""
    state: dict[str, int] = {}  # 1: on the current path, 2: finished
    path: list[str] = []

    def visit(room: str) -> list[str] | None:
        state[room] = 1
        path.append(room)
        for other in sorted(graph.get(room, {})):
            if state.get(other) == 1:
                return path[path.index(other):] + [other]
            if other not in state:
                found = visit(other)
                if found:
                    return found
        path.pop()
        state[room] = 2
        return None

    for room in sorted(graph):
        if room not in state:
            found = visit(room)
            if found:
                return found
    return None


def lowest_first(graph: dict[str, dict[str, list[str]]]) -> list[str]:
    """The rooms of an acyclic graph, each after every room it includes."""
    order: list[str] = []
    done: set[str] = set()

    def place(room: str) -> None:
        if room in done:
            return
        done.add(room)
        for other in sorted(graph.get(room, {})):
            place(other)
        order.append(room)

    for room in sorted(graph):
        place(room)
    return order


def main(argv: list[str]) -> int:
    root = pathlib.Path(__file__).resolve().parent.parent
    src = pathlib.Path(argv[1]) if len(argv) > 1 else root / "src"
    graph = folder_graph(src)
    cycle = find_cycle(graph)
    if cycle is None:
        print("rooms, lowest first:", " ".join(lowest_first(graph)))
        return 0
    print("src/ folders include each other in a cycle: " + " -> ".join(cycle), file=sys.stderr)
    for room, other in zip(cycle, cycle[1:]):
        for line in graph[room][other]:
            print(f"  {room} -> {other}  {line}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
