"""Field channels as (values, tiles) arrays, checked against what the sample
generator put in them: a particle count per voxel, which the test counts
again from the particles."""
import numpy as np

import ztp
from conftest import voxel_of


def test_particle_counts_sit_in_the_voxels_of_their_particles(sample_cache):
    with ztp.open(sample_cache) as cache:
        assert [b.name for b in cache] == ["Pool", "Fountain", "Mist"]
        for body in (cache["Pool"], cache["Fountain"]):
            n, voxel = body.layout.tile_size, body.layout.voxel_size
            fields = body.fields
            assert fields.types == {"velocity": "field::vec3f", "fluid-distance": "field::fluid-distance",
                                    "particle-count": "field::particle-count"}
            count = fields["particle-count"]
            values, tiles = count
            assert (count.name, count.sample_set, count.background) == ("particle-count", 1, 0.0)
            assert values.shape == (body.layout.fine_tiles, n, n, n) and values.dtype == np.float32
            assert tiles.shape == (body.layout.fine_tiles, 3) and tiles.dtype == np.int32
            assert len(np.unique(tiles, axis=0)) == len(tiles)

            voxels = voxel_of(body.particles["position"], voxel)
            slot = {tuple(t): i for i, t in enumerate(tiles)}
            expected = np.zeros_like(values)
            for v in voxels:
                t = slot[tuple(v // n)]
                x, y, z = v - n * tiles[t]
                expected[t, x, y, z] += 1
            np.testing.assert_array_equal(values, expected)
            assert values.sum() == len(body.particles)

            velocity = fields["velocity"]
            assert velocity.values.shape == (len(tiles), n, n, n, 3) and velocity.background == (0.0, 0.0, 0.0)
            np.testing.assert_array_equal(velocity.tiles, tiles)
            distance = fields["fluid-distance"]
            assert distance.background == 100000.0 and distance.values.shape == values.shape


def test_field_values_sit_at_their_voxels_positions(sample_cache):
    """The mist is dense inside an ellipsoid (centre (0, 1.7, 0), radii 1.5,
    1.3, 1.5) and empty outside: each value, placed at its voxel's sample
    point, must be on the right side of it."""
    with ztp.open(sample_cache) as cache:
        mist = cache["Mist"]
        assert mist.particles is None and mist.shapes == ["Field"]
        density = mist.fields["density"]
        values, tiles = density
        assert density.type == "field::float" and len(tiles) == mist.layout.fine_tiles > 0
        n, voxel = mist.layout.tile_size, np.float32(mist.layout.voxel_size)
        offset = {0: 0.0, 1: 0.5}[density.sample_set] * voxel
        local = np.stack(np.meshgrid(np.arange(n), np.arange(n), np.arange(n), indexing="ij"), axis=-1)
        voxels = tiles[:, None, None, None, :] * n + local[None]
        points = voxels.astype(np.float32) * voxel + np.float32(offset)
        q = (((points - (0.0, 1.7, 0.0)) / (1.5, 1.3, 1.5)) ** 2).sum(axis=-1)
        assert (values[q >= 1.0] == 0).all()
        assert (values[q < 0.99] > 0).all() and (q < 0.99).sum() > 1000
        # Read twice, the same values: the first read left no state behind.
        np.testing.assert_array_equal(mist.fields["density"].values, values)
        assert "density" in mist.fields and "nothing" not in mist.fields and list(mist.fields) == ["velocity", "density", "temperature", "fuel"]
