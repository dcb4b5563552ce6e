"""Shared set-up of the ztp tests: where the module, the programs and the
shared samples are, and helpers that read what the converter writes.

CTest sets ZTP_CONVERTER, ZTP_SAMPLE, ZTP_SOURCE_DIR and ZTP_FIXTURES and puts
the built module on PYTHONPATH. The library starts with the repository's
example signatures (share/corix), set before the first call.
"""
import json
import os
import pathlib
import re
import subprocess

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(os.environ.get("ZTP_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
FIXTURES = pathlib.Path(os.environ.get("ZTP_FIXTURES", SOURCE_DIR.parent / "shared" / "fixtures" / "cases"))
CORIX = SOURCE_DIR / "share" / "corix"
os.environ["CORIX_PATH"] = str(CORIX)
os.environ.pop("CORIX_USER_SIG_PATH", None)

import ztp  # noqa: E402  (after CORIX_PATH: the library starts on first use)

ztp.set_verbosity("QUIET")


def program(variable):
    path = os.environ.get(variable)
    if not path or not os.path.exists(path):
        pytest.skip("%s is not set to a built program" % variable)
    return path


@pytest.fixture(scope="session")
def converter():
    return program("ZTP_CONVERTER")


@pytest.fixture(scope="session")
def sample_cache(tmp_path_factory):
    """A ztp-sample cache: a pool and a fountain (Particle-Liquid) and a mist (Field-Smoke)."""
    path = tmp_path_factory.mktemp("sample") / "sample.ztp"
    subprocess.run([program("ZTP_SAMPLE"), str(path), "3000", "--seed", "7"], check=True,
                   stdout=subprocess.DEVNULL, env=dict(os.environ, CORIX_PATH=str(CORIX)))
    return path


def fixture_cases():
    """(name, case) of every shared sample that has an input file."""
    if not FIXTURES.is_dir():
        return []
    cases = []
    for spec in sorted(FIXTURES.glob("*.json")):
        case = json.loads(spec.read_text())
        if case.get("ztp"):
            cases.append(pytest.param(case, id=case["name"]))
    return cases


def hex_list(text, name):
    """The bytes of the hex list `name` in a txscene text."""
    match = re.search(name + r'=interpolate\(\([0-9.]+, List\w+Hex\("([0-9A-F]*)"\)\)\);', text)
    assert match, "no %s list" % name
    return bytes.fromhex(match.group(1))


def txscene_particles(text):
    """Positions and velocities (float32, n x 3) and ids of a txscene file."""
    positions = np.frombuffer(hex_list(text, "positions"), "<f4").reshape(-1, 3)
    velocities = np.frombuffer(hex_list(text, "velocities"), "<f4").reshape(-1, 3)
    ids = np.frombuffer(hex_list(text, "ids"), "<i4")
    return positions, velocities, ids


def exported(cache):
    """Positions and velocities as the converter gathers them, from the module:
    bodies in order, those with a vec3f position channel; zero velocities where
    a body has no vec3f velocity channel."""
    positions, velocities = [], []
    for body in cache.bodies:
        particles = body.particles
        if particles is None or particles.types.get("position") != "particle::vec3f":
            continue
        p = particles["position"]
        if particles.types.get("velocity") == "particle::vec3f":
            v = particles["velocity"]
        else:
            v = np.zeros_like(p)
        positions.append(p)
        velocities.append(v)
    if not positions:
        return np.zeros((0, 3), np.float32), np.zeros((0, 3), np.float32)
    return np.concatenate(positions), np.concatenate(velocities)


def read_everything(cache):
    """Touches every value, layout and channel of every body."""
    for body in cache.bodies:
        body.values
        body.layout
        if body.particles is not None:
            for name in body.particles.channels:
                body.particles[name]
        if body.fields is not None:
            for name in body.fields.channels:
                body.fields[name]


def voxel_of(positions, voxel):
    """The voxel holding each position, computed as the layout does (in float32)."""
    inverse = np.float32(1) / np.float32(voxel)
    return np.floor(positions.astype(np.float32) * inverse).astype(np.int64)
