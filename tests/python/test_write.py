"""Caches built from Python: written, read back equal, and read by the
converter; the stored order; what set_particles and write refuse."""
import os
import stat

import numpy as np
import pytest

import ztp
from conftest import exported, txscene_particles, voxel_of


def tile_of(positions, voxel, n):
    return voxel_of(positions, voxel) // n


def expected_order(positions, voxel, n):
    """Tiles in order of their first particle, particles in given order within one."""
    tiles = tile_of(positions, voxel, n)
    _, first, inverse = np.unique(tiles, axis=0, return_index=True, return_inverse=True)
    rank = np.argsort(np.argsort(first))[inverse.reshape(-1)]
    return np.argsort(rank, kind="stable")


@pytest.fixture
def cloud():
    rng = np.random.default_rng(11)
    positions = rng.uniform(-1.5, 2.5, (5000, 3)).astype(np.float32)
    return {
        "positions": positions,
        "velocity": rng.normal(size=(5000, 3)),
        "density": rng.uniform(900, 1100, 5000).astype(np.float32),
        "id64": np.arange(5000, dtype=np.int64) * 3 + 7,
        "flag": (rng.uniform(size=5000) > 0.5),
        "cell": rng.integers(-50, 50, (5000, 3)).astype(np.int16),
        "age": rng.integers(0, 1000, 5000).astype(np.int32),
    }


@pytest.mark.parametrize("compress", [True, False])
def test_a_written_cache_reads_back_equal(cloud, tmp_path, compress):
    pool = ztp.Body("pool", "Particle-Liquid")
    order = pool.set_particles(cloud["positions"], voxel_size=0.25, velocity=cloud["velocity"],
                               density=cloud["density"], flag=cloud["flag"], cell=cloud["cell"], age=cloud["age"])
    np.testing.assert_array_equal(order, expected_order(cloud["positions"], 0.25, 9))
    pool.particles["serial"] = cloud["id64"]
    plain = ztp.Body("spray", "Particle")
    plain_order = plain.set_particles(cloud["positions"][:100], voxel_size=0.5, tile_size=4, id64=cloud["id64"][:100])
    path = tmp_path / "cache.ztp"
    ztp.write(path, [pool, plain], time=1.5, compress=compress)

    with ztp.open(path) as cache:
        assert (cache.version, cache.time, [b.name for b in cache]) == (16, 1.5, ["pool", "spray"])
        body = cache["pool"]
        assert body.type == "Particle-Liquid" and body.source == str(path) and body.read_only
        assert body.values["Stepping"]["Master Voxel Size"] == np.float32(0.25)
        layout = body.layout
        assert (layout.tile_size, layout.voxel_size) == (9, np.float32(0.25))
        assert layout.fine_tiles == len(np.unique(tile_of(cloud["positions"], 0.25, 9), axis=0))
        particles = body.particles
        assert len(particles) == 5000
        types = particles.types
        assert types == {"position": "particle::vec3f", "velocity": "particle::vec3f", "id64": "particle::int",
                         "density": "particle::float", "flag": "particle::int8", "cell": "particle::vec3i",
                         "age": "particle::int", "serial": "particle::int64"}
        np.testing.assert_array_equal(particles["position"], cloud["positions"][order])
        np.testing.assert_array_equal(particles["velocity"], cloud["velocity"].astype(np.float32)[order])
        np.testing.assert_array_equal(particles["density"], cloud["density"][order])
        np.testing.assert_array_equal(particles["flag"], cloud["flag"][order].astype(np.int8))
        np.testing.assert_array_equal(particles["cell"], cloud["cell"][order].astype(np.int32))
        np.testing.assert_array_equal(particles["age"], cloud["age"][order])
        np.testing.assert_array_equal(particles["serial"], cloud["id64"][order])
        # The signature's int "id64" was not given: its default.
        np.testing.assert_array_equal(particles["id64"], np.zeros(5000, np.int32))
        assert {k: a.dtype for k, a in ((k, particles[k]) for k in particles)} == {
            "position": np.float32, "velocity": np.float32, "id64": np.int32, "density": np.float32,
            "flag": np.int8, "cell": np.int32, "age": np.int32, "serial": np.int64}

        spray = cache["spray"]
        assert (spray.layout.tile_size, spray.particles.types["id64"]) == (4, "particle::id64")
        np.testing.assert_array_equal(spray.particles["id64"], cloud["id64"][:100][plain_order])
        np.testing.assert_array_equal(spray.particles["position"], cloud["positions"][:100][plain_order])


def test_the_converter_reads_a_written_cache_in_the_same_order(cloud, tmp_path, converter):
    body = ztp.Body("jet", "Particle-Liquid")
    order = body.set_particles(cloud["positions"], voxel_size=0.1, velocity=cloud["velocity"])
    path = tmp_path / "jet.ztp"
    ztp.write(path, [body])
    summary = ztp.to_txscene(path, tmp_path / "jet.txscene", "jet", 0.05, 25.0, 3.0)
    positions, velocities, _ = txscene_particles((tmp_path / "jet.txscene").read_text())
    np.testing.assert_array_equal(positions, cloud["positions"][order])
    scale = np.float32(1) / np.float32(25)
    np.testing.assert_array_equal(velocities, cloud["velocity"].astype(np.float32)[order] * scale)
    assert summary.particles == 5000
    assert summary.min == tuple(float(x) for x in cloud["positions"].min(axis=0))
    assert summary.max == tuple(float(x) for x in cloud["positions"].max(axis=0))
    with ztp.open(path) as cache:
        read_positions, _ = exported(cache)
    np.testing.assert_array_equal(read_positions, positions)


def test_a_body_without_particles_and_an_empty_set(tmp_path):
    empty = ztp.Body("empty", "Particle")
    empty.set_particles(np.zeros((0, 3), np.float32), speed=np.zeros(0, np.float32))
    bare = ztp.Body("bare", "Rigid-Body")
    ztp.write(tmp_path / "e.ztp", [empty, bare])
    with ztp.open(tmp_path / "e.ztp") as cache:
        assert len(cache["empty"].particles) == 0
        assert cache["empty"].particles["speed"].shape == (0,)
        assert cache["empty"].layout.fine_tiles == 0
        assert cache["bare"].type == "Rigid-Body"


def test_setting_particles_again_replaces_them(cloud):
    body = ztp.Body("b", "Particle")
    body.set_particles(cloud["positions"], voxel_size=0.2, mass=cloud["density"])
    order = body.set_particles(cloud["positions"][:10] + 100, voxel_size=1.0, mass=cloud["density"][:10])
    assert len(body.particles) == 10 and body.layout.voxel_size == 1.0
    np.testing.assert_array_equal(body.particles["mass"], cloud["density"][:10][order])
    np.testing.assert_array_equal(body.particles["position"], (cloud["positions"][:10] + 100)[order])


def test_bad_particle_arrays_are_refused_before_the_body_changes(cloud):
    body = ztp.Body("b", "Particle-Liquid")
    order = body.set_particles(cloud["positions"][:50], voxel_size=0.5)
    refusals = [
        (ValueError, "positions need shape \\(n, 3\\), not \\(50, 2\\)", lambda: body.set_particles(np.zeros((50, 2)))),
        (ValueError, "'density' needs an array of shape \\(4,\\), not \\(5,\\)",
         lambda: body.set_particles(np.zeros((4, 3)), density=np.zeros(5))),
        (TypeError, "'density' holds float32 values: complex128", lambda: body.set_particles(
            np.zeros((4, 3)), density=np.zeros(4, complex))),
        (TypeError, "'id64' holds int32 values: float64", lambda: body.set_particles(np.zeros((4, 3)), id64=np.zeros(4))),
        (ValueError, "'id64' holds int32 values: 0 .. 4294967296 do not fit",
         lambda: body.set_particles(np.zeros((2, 3)), id64=np.array([0, 2**32]))),
        (TypeError, "'name' needs numbers of shape \\(n,\\) or \\(n, 3\\)",
         lambda: body.set_particles(np.zeros((1, 3)), name=np.array(["a"]))),
        (ValueError, "names hold no blanks or dots: 'two words'",
         lambda: body.set_particles(np.zeros((1, 3)), **{"two words": np.zeros(1)})),
        (ValueError, "positions are given to set_particles", lambda: body.set_particles(np.zeros((1, 3)), position=np.zeros((1, 3)))),
        (ValueError, "voxel_size must be a positive number", lambda: body.set_particles(np.zeros((1, 3)), voxel_size=0.0)),
        (ValueError, "tile_size must lie in 1 .. 256", lambda: body.set_particles(np.zeros((1, 3)), tile_size=0)),
        (ztp.Error, "particle 1 at \\(nan, 0, 0\\) lies outside the voxel range",
         lambda: body.set_particles(np.array([[0, 0, 0], [np.nan, 0, 0]]))),
        (ztp.Error, "particle 0 at \\(1e\\+30, 0, 0\\) lies outside the voxel range",
         lambda: body.set_particles(np.array([[1e30, 0, 0]]))),
    ]
    for error, message, call in refusals:
        with pytest.raises(error, match=message):
            call()
    np.testing.assert_array_equal(body.particles["position"], cloud["positions"][:50][order])
    with pytest.raises(ztp.Error, match="set its particles with set_particles first"):
        ztp.Body("fresh", "Particle-Liquid").particles["density"] = np.zeros(3)


def test_write_refuses_what_it_cannot_write_whole(cloud, tmp_path):
    with pytest.raises(ztp.Error, match="Unknown body type 'No-Such-Type'"):
        ztp.Body("x", "No-Such-Type")
    body = ztp.Body("b", "Particle")
    body.set_particles(cloud["positions"], voxel_size=0.5)
    source = tmp_path / "source.ztp"
    ztp.write(source, [body])
    assert stat.S_IMODE(os.stat(source).st_mode) == 0o666 & ~_umask()
    with ztp.open(source) as cache:
        read = cache.bodies[0]
        with pytest.raises(ztp.Error, match="was read from .* and cannot be changed"):
            read.set_particles(cloud["positions"])
        with pytest.raises(ztp.Error, match="cannot be changed"):
            read.set_value("Stepping", "Substeps", 2)
        with pytest.raises(ztp.Error, match="Cannot write body 'b' over .*source.ztp, the file its data are read from"):
            ztp.write(source, [read])
        ztp.write(tmp_path / "copy.ztp", [read])
    with ztp.open(tmp_path / "copy.ztp") as copy:
        np.testing.assert_array_equal(copy.bodies[0].particles["position"], body.particles["position"])
    # A target that cannot be replaced leaves nothing behind.
    (tmp_path / "folder.ztp").mkdir()
    before = sorted(os.listdir(tmp_path))
    with pytest.raises(ztp.Error, match="Cannot rename"):
        ztp.write(tmp_path / "folder.ztp", [body])
    assert sorted(os.listdir(tmp_path)) == before


def _umask():
    mask = os.umask(0)
    os.umask(mask)
    return mask
