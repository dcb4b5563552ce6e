// Field channels as grids: every voxel of every fine tile at the world
// position where the library samples it, with its exact value, active
// exactly when it differs from the background; the coarse tiles' values in
// their own grid; scalar, integer and vector channels (shared, staggered and
// mixed sample sets); cell sizes that are no power of two; fields whose
// values do not cover their layout.
#include <set>
#include <type_traits>

#include "ParticleBodies.h"
#include "VdbTestSupport.h"
#include "cb/Version.h"
#include "cb/fields/FieldChannel.h"
#include "cb/fields/FieldShape.h"
#include "zt/tile_layout3.h"

using namespace vdbtest;

namespace {

using Coords = std::set<openvdb::Coord>;

// About a third of the voxels keep the background; the others vary.
template <class T>
T varied(int64_t i, int salt, T background) {
    if ((i + salt) % 3 == 0) return background;
    if constexpr (std::is_same_v<T, float>) return float((i * 37 + salt * 11) % 1000) * 0.125f - 60.0f;
    if constexpr (std::is_same_v<T, int>) return int((i * 37 + salt) % 2001) - 1000;
    if constexpr (std::is_same_v<T, int64_t>) return (int64_t(i) << 33) + salt;
}

template <class T>
void fill(zt::field3<T>& field, int salt, bool coarse = true) {
    for (int64_t i = 0; i < field.fineValues().count(); ++i) field.at(i) = varied(i, salt, field.background());
    if (coarse)
        for (int64_t s = 1; s < field.coarseValues().count(); ++s) field.at(-s) = varied(s, salt, field.background());
}

// Tile size 4; fine tiles on both sides of the origin and their coarse shell.
std::unique_ptr<Cb::Body> smokeBody(float cellSize) {
    auto body = std::make_unique<Cb::Body>("Smoke");
    body->setSignatureName("Field-Smoke");
    zt::tile_layout3& layout = body->mutableLayout();
    layout.reset(cellSize, 4);
    for (const zt::vec3i& t :
         {zt::vec3i{{0, 0, 0}}, zt::vec3i{{1, 0, 0}}, zt::vec3i{{-1, -1, 0}}, zt::vec3i{{0, 2, -3}}})
        layout.addTile(t[0], t[1], t[2], false);
    layout.updateNeighbours(true);
    auto* shape = static_cast<Cb::FieldShape*>(body->addShape(new Cb::FieldShape(false)));
    shape->createChannel1f("density", 0.0f);
    shape->createChannel1f("temperature", 20.0f);
    shape->createChannel1i("flags", -1);
    shape->createChannel1i64("stamp", 7);
    shape->createChannel3f("velocity", {{0, 0, 0}});
    shape->createChannel3f("mac", {{0.5f, 0, 0}});
    shape->createChannel3f("mixed", {{0, 1, 2}});
    shape->createChannel1f("particle-count", 0.0f);
    shape->updateLayout(layout);
    auto& density = shape->mutableChannelAs<Cb::FieldChannel1f>("density")->field();
    fill(density, 1);
    density.at(1) = -0.0f;  // differs from the background 0 bit for bit
    auto& temperature = shape->mutableChannelAs<Cb::FieldChannel1f>("temperature")->field();
    temperature.setSampleSet(1);
    fill(temperature, 2, false);
    fill(shape->mutableChannelAs<Cb::FieldChannel1i>("flags")->field(), 3);
    fill(shape->mutableChannelAs<Cb::FieldChannel1i64>("stamp")->field(), 4);
    fill(shape->mutableChannelAs<Cb::FieldChannel1f>("particle-count")->field(), 5, false);
    const int sets[3][3] = {{1, 1, 1}, {2, 3, 4}, {0, 1, 2}};
    const char* vectors[3] = {"velocity", "mac", "mixed"};
    for (int v = 0; v < 3; ++v) {
        auto* channel = shape->mutableChannelAs<Cb::FieldChannel3f>(vectors[v]);
        for (int c = 0; c < 3; ++c) {
            channel->field(c).setSampleSet(sets[v][c]);
            fill(channel->field(c), 6 + 3 * v + c);
        }
    }
    return body;
}

template <class T, class V>
T componentOf(const V& value, int c) {
    if constexpr (std::is_same_v<V, openvdb::Vec3s>)
        return value[c];
    else
        return value;
}

openvdb::Vec3d worldOf(const openvdb::math::Transform& xf, const openvdb::Coord& ijk, int staggerAxis) {
    openvdb::Vec3d index = ijk.asVec3d();
    if (staggerAxis >= 0) index[staggerAxis] -= 0.5;
    return xf.indexToWorld(index);
}

// Component c of the grid against the field's fine voxels. Library to grid:
// the voxel at the layout's voxel coordinates (one further along the axis
// for a staggered component) holds the value bit for bit, at the voxel's
// sample point (within `tolerance`). With tolerance 0, grid to library too:
// each active voxel's position finds its value through the library's own
// lookup and sampling. Voxels that must be active are added to `active`.
template <class GridT, class T>
void expectFine(const GridT& grid, int c, const zt::field3<T>& field, const zt::tile_layout3& layout, int staggerAxis,
                double tolerance, Coords& active) {
    using V = typename GridT::ValueType;
    const openvdb::math::Transform& xf = grid.transform();
    const T background = field.background();
    const int set = field.sampleSet();
    EXPECT_TRUE(sameBits(componentOf<T>(grid.background(), c), background));
    const int n = int(layout.tileSize());
    for (int64_t s = 0; s < layout.fineCount(); ++s) {
        const zt::tile3& tile = *layout.fineTile(s);
        for (int z = 0; z < n; ++z)
            for (int y = 0; y < n; ++y)
                for (int x = 0; x < n; ++x) {
                    const int64_t index = tile.voxelIndex(x, y, z);
                    openvdb::Coord ijk(tile.origin()[0] + x, tile.origin()[1] + y, tile.origin()[2] + z);
                    if (staggerAxis >= 0) ijk[staggerAxis] += 1;
                    const T stored = field.at(index);
                    ASSERT_TRUE(sameBits(componentOf<T>(grid.tree().getValue(ijk), c), stored)) << ijk;
                    if (!sameBits(stored, background)) active.insert(ijk);
                    const zt::vec3f p = layout.positionOf(index, set);
                    const openvdb::Vec3d w = worldOf(xf, ijk, staggerAxis);
                    for (int a = 0; a < 3; ++a) {
                        if (tolerance == 0) {
                            ASSERT_EQ(p[a], float(w[a])) << ijk;
                        } else {
                            ASSERT_NEAR(p[a], w[a], tolerance) << ijk;
                        }
                    }
                }
    }
    if (tolerance != 0) return;
    for (auto it = grid.cbeginValueOn(); it; ++it) {
        ASSERT_TRUE(it.isVoxelValue());
        const openvdb::Vec3d w = worldOf(xf, it.getCoord(), staggerAxis);
        const zt::vec3f p{{float(w[0]), float(w[1]), float(w[2])}};
        const T value = componentOf<T, V>(*it, c);
        zt::vec3i voxel;
        ASSERT_TRUE(layout.voxelAt(p, set, voxel));
        const zt::tile3* tile = layout.findTile(layout.tileOfVoxel(voxel));
        if (!tile || !tile->isFine()) {
            EXPECT_TRUE(sameBits(value, background)) << it.getCoord();
            continue;
        }
        const int64_t index = layout.indexAt(p, set);
        EXPECT_EQ(layout.positionOf(index, set), p);
        EXPECT_TRUE(sameBits(value, field.at(index))) << it.getCoord();
        if constexpr (std::is_same_v<T, float>) {
            EXPECT_EQ(field.sample(p, layout), value) << it.getCoord();
        }
    }
}

// Component c of the coarse grid against the field's coarse values: one
// voxel per coarse tile at its tile coordinates, centred on the sample
// point of the tile's middle voxel for sample set `set`.
template <class GridT, class T>
void expectCoarse(const GridT& grid, int c, const zt::field3<T>& field, const zt::tile_layout3& layout, int set,
                  Coords& active) {
    EXPECT_NEAR(layout.cellSize() * layout.tileSize(), grid.voxelSize()[0], 1e-6);
    for (int64_t s = 1; s < layout.coarseCount(); ++s) {
        const zt::tile3* tile = layout.coarseTile(s);
        if (!tile) continue;
        const openvdb::Coord ijk(tile->i(), tile->j(), tile->k());
        const T stored = field.coarseValues()[s];
        EXPECT_TRUE(sameBits(componentOf<T>(grid.tree().getValue(ijk), c), stored)) << ijk;
        if (!sameBits(stored, field.background())) active.insert(ijk);
        const zt::vec3f p = layout.positionOf(-s, set);
        const openvdb::Vec3d w = grid.transform().indexToWorld(ijk);
        for (int a = 0; a < 3; ++a) EXPECT_EQ(p[a], float(w[a])) << ijk;
    }
}

template <class GridT>
void expectActive(const GridT& grid, const Coords& active) {
    EXPECT_EQ(active.size(), grid.activeVoxelCount());
    for (const openvdb::Coord& ijk : active) EXPECT_TRUE(grid.tree().isValueOn(ijk)) << ijk;
}

template <class GridT, class T>
void expectScalar(const VdbFile& file, const std::string& name, const zt::field3<T>& field,
                  const zt::tile_layout3& layout, double tolerance = 0, bool coarse = true) {
    SCOPED_TRACE(name);
    const auto grid = file.get<GridT>(name);
    ASSERT_TRUE(grid);
    Coords active;
    expectFine(*grid, 0, field, layout, -1, tolerance, active);
    expectActive(*grid, active);
    EXPECT_EQ(field.sampleSet(), grid->template metaValue<int32_t>("ztp_sample_set"));
    if (!coarse) return;
    const auto coarseGrid = file.get<GridT>(name + "@coarse");
    ASSERT_TRUE(coarseGrid);
    Coords coarseActive;
    expectCoarse(*coarseGrid, 0, field, layout, field.sampleSet(), coarseActive);
    expectActive(*coarseGrid, coarseActive);
}

void expectVector(const VdbFile& file, const std::string& name, const Cb::FieldChannel3f& channel,
                  const zt::tile_layout3& layout, bool staggered) {
    SCOPED_TRACE(name);
    const auto grid = file.get<openvdb::Vec3SGrid>(name);
    const auto coarse = file.get<openvdb::Vec3SGrid>(name + "@coarse");
    ASSERT_TRUE(grid && coarse);
    EXPECT_EQ(staggered ? openvdb::GRID_STAGGERED : openvdb::GRID_UNKNOWN, grid->getGridClass());
    Coords active, coarseActive;
    for (int c = 0; c < 3; ++c) {
        expectFine(*grid, c, channel.field(c), layout, staggered ? c : -1, 0, active);
        expectCoarse(*coarse, c, channel.field(c), layout, staggered ? 1 : channel.field(c).sampleSet(), coarseActive);
    }
    expectActive(*grid, active);
    expectActive(*coarse, coarseActive);
}

class VdbFields : public VdbTest {
protected:
    void writeSmoke(float cellSize) {
        Library library;
        const std::unique_ptr<Cb::Body> body = smokeBody(cellSize);
        testsupport::writeBodies(ztp, {body.get()});
    }
};

}  // namespace

TEST_F(VdbFields, EveryVoxelSitsWhereTheLibrarySamplesItWithItsExactValue) {
    writeSmoke(0.25f);
    const ProgramRun run = runProgram({ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    const VdbFile file(vdb);
    // Coarse grids only where a coarse value differs from the background.
    EXPECT_EQ((std::vector<std::string>{
                  "Smoke/density", "Smoke/density@coarse", "Smoke/flags", "Smoke/flags@coarse", "Smoke/mac",
                  "Smoke/mac@coarse", "Smoke/mixed.x", "Smoke/mixed.x@coarse", "Smoke/mixed.y", "Smoke/mixed.y@coarse",
                  "Smoke/mixed.z", "Smoke/mixed.z@coarse", "Smoke/particle-count", "Smoke/stamp", "Smoke/stamp@coarse",
                  "Smoke/temperature", "Smoke/velocity", "Smoke/velocity@coarse"}),
              file.names);

    const ZtpFile source(ztp);
    const Cb::Body& body = source.body("Smoke");
    const zt::tile_layout3& layout = body.layout();
    const Cb::Shape& shape = *body.shape("Field");
    const auto& density = shape.channelAs<Cb::FieldChannel1f>("density")->field();
    ASSERT_TRUE(sameBits(-0.0f, density.at(1)));
    expectScalar<openvdb::FloatGrid>(file, "Smoke/density", density, layout);
    expectScalar<openvdb::FloatGrid>(file, "Smoke/temperature",
                                     shape.channelAs<Cb::FieldChannel1f>("temperature")->field(), layout, 0, false);
    expectScalar<openvdb::FloatGrid>(file, "Smoke/particle-count",
                                     shape.channelAs<Cb::FieldChannel1f>("particle-count")->field(), layout, 0, false);
    expectScalar<openvdb::Int32Grid>(file, "Smoke/flags", shape.channelAs<Cb::FieldChannel1i>("flags")->field(),
                                     layout);
    expectScalar<openvdb::Int64Grid>(file, "Smoke/stamp", shape.channelAs<Cb::FieldChannel1i64>("stamp")->field(),
                                     layout);
    expectVector(file, "Smoke/velocity", *shape.channelAs<Cb::FieldChannel3f>("velocity"), layout, false);
    expectVector(file, "Smoke/mac", *shape.channelAs<Cb::FieldChannel3f>("mac"), layout, true);
    const auto& mixed = *shape.channelAs<Cb::FieldChannel3f>("mixed");
    for (int c = 0; c < 3; ++c)
        expectScalar<openvdb::FloatGrid>(file, std::string("Smoke/mixed.") + "xyz"[c], mixed.field(c), layout);

    // What each grid says about where it comes from.
    const openvdb::GridBase& grid = *file.grids.at("Smoke/stamp@coarse");
    EXPECT_EQ("Smoke", grid.metaValue<std::string>("ztp_body"));
    EXPECT_EQ("Field-Smoke", grid.metaValue<std::string>("ztp_body_type"));
    EXPECT_EQ("stamp", grid.metaValue<std::string>("ztp_channel"));
    EXPECT_EQ("field::int64", grid.metaValue<std::string>("ztp_channel_type"));
    EXPECT_EQ("coarse", grid.metaValue<std::string>("ztp_level"));
    EXPECT_EQ(4, grid.metaValue<int32_t>("ztp_tile_size"));
    EXPECT_EQ(source.reader.time(), grid.metaValue<double>("ztp_time"));
    EXPECT_EQ("fine", file.meta("Smoke/particle-count", "ztp_level"));
    EXPECT_EQ("field::particle-count", file.meta("Smoke/particle-count", "ztp_channel_type"));
    EXPECT_EQ(openvdb::Vec3i(2, 3, 4), file.grids.at("Smoke/mac")->metaValue<openvdb::Vec3i>("ztp_sample_sets"));
    EXPECT_EQ("ztp2vdb " CB_VERSION_STRING, file.metadata->metaValue<std::string>("creator"));
    EXPECT_EQ(ztp, file.metadata->metaValue<std::string>("ztp_source"));

    // A voxel far from every tile is background.
    EXPECT_EQ(-1, file.get<openvdb::Int32Grid>("Smoke/flags")->tree().getValue(openvdb::Coord(400, 0, 0)));
}

TEST_F(VdbFields, CellSizesThatAreNoPowerOfTwoPlaceVoxelsWithinRounding) {
    writeSmoke(0.1f);
    const ProgramRun run = runProgram({"--fine-only", "--channels", "density,mac", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    const VdbFile file(vdb);
    EXPECT_EQ((std::vector<std::string>{"Smoke/density", "Smoke/mac"}), file.names);
    const ZtpFile source(ztp);
    const Cb::Body& body = source.body("Smoke");
    const Cb::Shape& shape = *body.shape("Field");
    expectScalar<openvdb::FloatGrid>(file, "Smoke/density", shape.channelAs<Cb::FieldChannel1f>("density")->field(),
                                     body.layout(), 1e-6, false);
    const auto mac = file.get<openvdb::Vec3SGrid>("Smoke/mac");
    ASSERT_TRUE(mac);
    Coords active;
    for (int c = 0; c < 3; ++c)
        expectFine(*mac, c, shape.channelAs<Cb::FieldChannel3f>("mac")->field(c), body.layout(), c, 1e-6, active);
    expectActive(*mac, active);
}

TEST_F(VdbFields, ValuesThatDoNotCoverTheLayoutLeaveItsVoxelsAtTheBackground) {
    {
        Library library;
        const std::unique_ptr<Cb::Body> body = smokeBody(0.5f);
        auto& density = body->mutableFieldShape()->mutableChannelAs<Cb::FieldChannel1f>("density")->field();
        density.fineValues().resize(70);  // tile 0 and part of tile 1 of four 64-voxel tiles
        testsupport::writeBodies(ztp, {body.get()});
    }
    const ProgramRun run = runProgram({"--channels", "density", ztp, vdb});
    ASSERT_EQ(0, run.code) << run.err;
    EXPECT_NE(std::string::npos,
              run.err.find("ztp2vdb: warning: field channel 'density' of body 'Smoke' holds 70 fine and 75 coarse "
                           "values for 256 fine voxels and 75 coarse tiles: voxels without a value are background\n"))
        << run.err;
    const VdbFile file(vdb);
    const ZtpFile source(ztp);
    const Cb::Body& body = source.body("Smoke");
    const auto grid = file.get<openvdb::FloatGrid>("Smoke/density");
    ASSERT_TRUE(grid);
    int64_t expected = 0;
    for (int64_t i = 0; i < 70; ++i) {
        const float v = body.shape("Field")->channelAs<Cb::FieldChannel1f>("density")->field().at(i);
        expected += !sameBits(v, 0.0f);
    }
    EXPECT_EQ(expected, int64_t(grid->activeVoxelCount()));
    for (auto it = grid->cbeginValueOn(); it; ++it) {
        const openvdb::Vec3d w = grid->transform().indexToWorld(it.getCoord());
        EXPECT_LT(body.layout().indexAt({{float(w[0]), float(w[1]), float(w[2])}}, 0), 70);
    }
}
