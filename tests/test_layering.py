"""The folders under src/ include each other one way only."""

import importlib.util
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
_spec = importlib.util.spec_from_file_location("check_layering", ROOT / "tools" / "check_layering.py")
layering = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(layering)


def write_tree(base, files):
    for name, includes in files.items():
        path = base / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text("".join(f'#include "{target}"\n' for target in includes))
    return base


class TestSourceTree:
    def test_src_folders_have_no_include_cycle(self):
        graph = layering.folder_graph(ROOT / "src")
        cycle = layering.find_cycle(graph)
        assert cycle is None, " -> ".join(cycle)

    def test_every_room_is_seen(self):
        rooms = set(layering.folder_graph(ROOT / "src"))
        folders = {p.name for p in (ROOT / "src").iterdir() if p.is_dir()}
        assert folders | {"."} == rooms


class TestCycleDetection:
    @pytest.mark.parametrize(
        "files, cycle",
        [
            ({"a/x.h": ["b/y.h"], "b/y.h": [], "main.cc": ["a/x.h"]}, None),
            ({"a/x.h": ["b/y.h"], "b/y.h": ["a/x.h"]}, ["a", "b", "a"]),
            ({"a/x.h": ["b/y.h"], "b/y.h": ["c/z.h"], "c/z.h": ["a/x.h"]}, ["a", "b", "c", "a"]),
            # A cycle through the root room: a lower folder reaching up to module files.
            ({"main.h": ["a/x.h"], "a/x.h": ["main.h"]}, [".", "a", "."]),
            # Includes within one folder and of files outside src/ make no edge.
            ({"a/x.h": ["a/y.h", "gen.inc", "re2/re2.h"], "a/y.h": ["a/x.h"]}, None),
        ],
    )
    def test_cycle(self, tmp_path, files, cycle):
        graph = layering.folder_graph(write_tree(tmp_path, files))
        assert layering.find_cycle(graph) == cycle

    def test_order_puts_included_rooms_first(self, tmp_path):
        files = {"c/z.cc": ["b/y.h", "a/x.h"], "b/y.h": ["a/x.h"], "a/x.h": [], "m.cc": ["c/z.cc"]}
        order = layering.lowest_first(layering.folder_graph(write_tree(tmp_path, files)))
        assert order == ["a", "b", "c", "."]

    def test_script_names_the_offending_lines(self, tmp_path, capsys):
        write_tree(tmp_path, {"a/x.h": ["b/y.h"], "b/y.h": ["a/x.h"]})
        assert layering.main(["check_layering.py", str(tmp_path)]) == 1
        err = capsys.readouterr().err
        assert "a -> b -> a" in err
        assert "b/y.h: a/x.h" in err
