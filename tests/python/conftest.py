"""Shared set-up of the module's tests: the library's blocks are counted
from the start, and the build's programs make and describe test files."""

import json
import os
import subprocess
from pathlib import Path

import pytest

import felbrin
from felbrin import _felbrin

_felbrin._live_blocks()  # counting starts before any block is held

SOURCE = Path(os.environ.get("FELBRIN_SOURCE_DIR", Path(__file__).parents[2]))
BUILD = Path(os.environ.get("FELBRIN_BUILD_DIR", SOURCE / "build" / "linux"))
EXAMPLES = SOURCE / "examples"


def run_tool(name, *args):
    """Runs one of the build's programs; its standard output."""
    done = subprocess.run([str(BUILD / name), *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    return done.stdout


def datinfo(path):
    return json.loads(run_tool("datinfo", "--json", path))


@pytest.fixture
def make_data(tmp_path):
    """Writes a generated data file with mkdatafile's options; its path."""
    counter = iter(range(1000))

    def make(*options):
        path = tmp_path / f"map{next(counter)}.dat"
        run_tool("mkdatafile", *options, path)
        return path

    return make
