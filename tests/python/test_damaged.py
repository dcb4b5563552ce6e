"""Damaged caches raise ztp.Error with the library's message and never take
the interpreter down: damaged records, damaged block data, closed files, and
hundreds of randomly damaged copies of the shared samples."""
import random
import sys

import numpy as np
import pytest

import ztp
from conftest import FIXTURES, SOURCE_DIR, read_everything

sys.path.insert(0, str(SOURCE_DIR / "tests"))
from mutate_fixtures import mutate  # noqa: E402  (the converter's damaged-sample generator)


def one_tile_cache(path, count=400):
    positions = np.random.default_rng(3).uniform(0.0, 0.8, (count, 3)).astype(np.float32)
    body = ztp.Body("cloud", "Particle")
    order = body.set_particles(positions, voxel_size=0.1)
    ztp.write(path, [body])
    return positions[order]


def test_a_damaged_record_fails_a_strict_open_and_keeps_the_bodies_before_otherwise(tmp_path):
    first, second = ztp.Body("first", "Particle"), ztp.Body("second", "Particle")
    first.set_particles(np.zeros((5, 3), np.float32))
    second.set_particles(np.ones((5, 3), np.float32))
    path = tmp_path / "two.ztp"
    ztp.write(path, [first, second])
    data = path.read_bytes()
    path.write_bytes(data[:len(data) - 40])
    with pytest.raises(ztp.Error, match="^Corrupt ZTP: .* in %s$" % path):
        ztp.open(path)
    with ztp.open(path, strict=False) as cache:
        assert [b.name for b in cache] == ["first"] and cache.damage.startswith("Corrupt ZTP: ")
        np.testing.assert_array_equal(cache["first"].particles["position"], np.zeros((5, 3), np.float32))
    with pytest.raises(ztp.Error, match="^ZtpReader: bad magic in "):
        path.write_bytes(b"\0" * 64)
        ztp.open(path)
    with pytest.raises(ztp.Error, match="^ZtpReader\\(.*missing.ztp\\) failed: Cannot open file: No such file"):
        ztp.open(tmp_path / "missing.ztp")
    with pytest.raises(ztp.Error, match="^ZtpReader: unsupported version 17 in "):
        path.write_bytes(data[:4] + (17).to_bytes(4, "little") + data[8:])
        ztp.open(path)


def test_damaged_block_data_raise_when_read_and_the_cache_stays_usable(tmp_path):
    path = tmp_path / "cloud.ztp"
    positions = one_tile_cache(path)
    data = bytearray(path.read_bytes())
    data[-4:] = bytes(b ^ 0xFF for b in data[-4:])  # the block's zlib check value
    path.write_bytes(bytes(data))
    with ztp.open(path) as cache:
        particles = cache["cloud"].particles
        assert len(particles) == len(positions)
        for _ in range(2):
            with pytest.raises(ztp.Error):
                particles["position"]
        assert cache["cloud"].values == {}


def test_messages_quote_bytes_that_are_not_text(tmp_path):
    path = tmp_path / "bad.ztp"
    body = ztp.Body("b", "Particle")
    body.set_particles(np.zeros((1, 3), np.float32), speed=np.zeros(1, np.float32))
    ztp.write(path, [body])
    data = path.read_bytes()
    at = data.index(b"particle::float")
    path.write_bytes(data[:at + 10] + b"\xb3" + data[at + 11:])
    with pytest.raises(ztp.Error, match=r"^Corrupt ZTP: Unknown channel type: 'particle::\\xb3loat' in "):
        ztp.open(path)


def test_a_closed_cache_refuses_its_bodies(tmp_path):
    path = tmp_path / "cloud.ztp"
    one_tile_cache(path)
    cache = ztp.open(path)
    body = cache.bodies[0]
    particles = body.particles
    cache.close()
    assert cache.closed and "closed" in repr(cache)
    for use in (lambda: body.values, lambda: body.particles, lambda: particles["position"], lambda: len(particles),
                lambda: body.layout, lambda: body.name):
        with pytest.raises(ztp.Error, match="^I/O operation on closed cache .*cloud.ztp$"):
            use()
    cache.close()


@pytest.mark.skipif(not FIXTURES.is_dir(), reason="the shared samples are not beside the checkout")
def test_randomly_damaged_samples_read_or_raise_ztp_error(tmp_path):
    cases = sorted(FIXTURES.glob("*.ztp"))
    rng = random.Random(20240611)
    outcomes = {"read": 0, "error": 0}
    for run in range(250):
        path = tmp_path / "damaged.ztp"
        path.write_bytes(bytes(mutate(bytearray(rng.choice(cases).read_bytes()), rng)))
        for strict in (True, False):
            try:
                with ztp.open(path, strict=strict) as cache:
                    read_everything(cache)
                outcomes["read"] += 1
            except ztp.Error as error:
                assert str(error), "run %d: an empty message" % run
                outcomes["error"] += 1
        try:
            ztp.to_txscene(path, tmp_path / "out.txscene", "p", 0.1, 24.0, 1.0)
        except ztp.Error as error:
            assert str(error), "run %d: an empty message" % run
    assert outcomes["read"] > 50 and outcomes["error"] > 50, outcomes
