"""Fixtures: the built plugin and vxrun from the build tree, the example and
shared sample files. ctest sets the environment; nothing here is skipped
when a piece is missing: that is a failure."""

import json
import os
import subprocess
from pathlib import Path

import pytest

import vx_steps


def _required(name: str) -> str:
    value = os.environ.get(name, "")
    if not value:
        pytest.fail(f"{name} is not set (run the tests through ctest)")
    return value


@pytest.fixture(scope="session")
def lib():
    return vx_steps.open(_required("VX_STEPS_LIBRARY"))


@pytest.fixture(scope="session")
def source_dir() -> Path:
    return Path(_required("VX_SOURCE_DIR"))


@pytest.fixture(scope="session")
def shared_dir() -> Path:
    return Path(_required("VX_SHARED_DIR"))


@pytest.fixture(scope="session")
def example(source_dir) -> Path:
    return source_dir / "examples" / "sim_basic.mzML"


@pytest.fixture(scope="session")
def vxrun():
    exe = _required("VX_VXRUN")
    env = dict(os.environ, VX_STEPS_LIBRARY=_required("VX_STEPS_LIBRARY"))

    def run(*args, check=True):
        done = subprocess.run([exe, *map(str, args)], env=env, capture_output=True)
        if check and done.returncode not in (0, 1):
            raise AssertionError(f"vxrun {args} exited {done.returncode}: {done.stderr!r}")
        return done
    return run


def read_jsonl(path: Path) -> list:
    return [json.loads(line) for line in path.read_text().splitlines()]
