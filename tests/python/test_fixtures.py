"""Every shared sample read through the module agrees with what the converter
writes for it: the same particles in the same order, bit for bit, and the
same summary from to_txscene; a sample the converter refuses raises
ztp.Error with the converter's reason."""
import hashlib

import numpy as np
import pytest

import ztp
from conftest import FIXTURES, exported, fixture_cases, read_everything, txscene_particles


def bits(a):
    return np.ascontiguousarray(a, np.float32).view(np.uint32)


def summary_lines(summary):
    lo, hi, centre = summary.min, summary.max, summary.centre
    return ("exported %d particles\n" % summary.particles
            + "bounding box is (%.3f, %.3f, %.3f):(%.3f, %.3f, %.3f)\n" % (*lo, *hi)
            + "center of the bounding box is (%.3f, %.3f, %.3f)\n" % centre)


@pytest.mark.parametrize("case", fixture_cases())
def test_particles_match_the_converter_output(case, tmp_path):
    path = FIXTURES / case["ztp"]
    radius, fps, frame = (float(a) for a in case["args"][3:6]) if case["exit_code"] == 0 else (0.1, 24.0, 1.0)
    failure = [r for r in case["stderr_required"] if r.startswith("Unhandled exception: ")]
    if failure:
        reason = failure[0][len("Unhandled exception: "):].rstrip("\n").replace("{input}", str(path))
        with pytest.raises(ztp.Error, match="^%s$" % reason.replace("(", r"\(").replace(")", r"\)")):
            ztp.open(path)
        with pytest.raises(ztp.Error) as raised:
            ztp.to_txscene(path, tmp_path / "out.txscene", "particles", radius, fps, frame)
        assert str(raised.value) == "Unhandled exception: " + reason
        assert not (tmp_path / "out.txscene").exists()
        return
    with ztp.open(path) as cache:
        assert cache.version == case["ztp_version"]
        positions, velocities = exported(cache)
        read_everything(cache)
    expected = (FIXTURES / case["txscene"]["file"]).read_text()
    expected_positions, expected_velocities, ids = txscene_particles(expected)
    np.testing.assert_array_equal(bits(positions), bits(expected_positions))
    scale = np.float32(1.0) / np.float32(fps)
    np.testing.assert_array_equal(bits(velocities * scale), bits(expected_velocities))
    np.testing.assert_array_equal(ids, np.arange(len(positions)))
    assert case["stdout"].startswith("exported %d particles\n" % len(positions))

    output = tmp_path / "out.txscene"
    summary = ztp.to_txscene(str(path), output, "particles", radius, fps, frame)
    assert summary_lines(summary) == case["stdout"]
    data = output.read_bytes()
    assert (len(data), hashlib.sha256(data).hexdigest()) == (case["txscene"]["length"], case["txscene"]["sha256"])
