// Which shapes and channels a selection writes, and what it says about the
// names that match nothing.
#include <gtest/gtest.h>

#include "RichBody.h"
#include "WriterTestSupport.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"

using namespace Cb;
using writertest::channelNames;
using writertest::warningLine;

namespace {

using Names = std::vector<std::string>;

class Selection : public writertest::WriterTest {
protected:
    // Particles (position, velocity, density), ten points with a mass, and
    // an edge shape without channels.
    void SetUp() override {
        WriterTest::SetUp();
        body = writertest::makeParticleOnlyBody("Sel");
        auto* points = static_cast<PointShape*>(body->addShape(new PointShape(true)));
        points->resizeElements(10);
        points->createChannel1f("mass", 1.0f);
        body->addShape(new EdgeShape(false));
    }
    void TearDown() override {
        reader.reset();
        body.reset();
        WriterTest::TearDown();
    }

    // Writes the body with the selection and reads it back; the writer's log
    // goes to `log`.
    const Body& roundTrip(const std::string& selection) {
        path = file("sel.ztp");
        log = write(path, {body.get()}, selection);
        reader = read(path);
        EXPECT_EQ(1, reader->bodyCount());
        return *reader->storedBody(0);
    }

    std::string shapeWarning(const std::string& kind) const {
        return warningLine("Shape '" + kind + "' not found in body 'Sel': it will not be written to " + path);
    }

    static Names kinds(const Body& b) {
        Names out;
        for (const auto& [kind, shape] : b.shapes()) out.push_back(kind);
        return out;
    }

    std::unique_ptr<Body> body;
    std::unique_ptr<ZtpReader> reader;
    std::string path, log;
};

}  // namespace

TEST_F(Selection, StarDotStarWritesEveryShapeThatHasChannels) {
    const Body& back = roundTrip("*.*");
    EXPECT_EQ("", log);
    EXPECT_EQ((Names{"Particle", "Point"}), kinds(back));  // the empty edge shape is left out
    writertest::expectSameShapes(*body, back);
}

TEST_F(Selection, ParticlePositionWritesThatChannelAlone) {
    const Body& back = roundTrip("Particle.position");
    EXPECT_EQ("", log);
    EXPECT_EQ(Names{"Particle"}, kinds(back));
    EXPECT_EQ(Names{"position"}, channelNames(back, "Particle"));
    writertest::expectSameChannel(*body->shape("Particle")->channel("position"),
                                  *back.shape("Particle")->channel("position"));
    // The body's values and layout are written whatever the selection.
    writertest::expectSameLayout(*body, back);
}

TEST_F(Selection, StarShapePartPicksTheChannelInEveryShape) {
    const Body& back = roundTrip("*.position");
    EXPECT_EQ("", log);
    EXPECT_EQ((Names{"Particle", "Point"}), kinds(back));
    EXPECT_EQ(Names{"position"}, channelNames(back, "Particle"));
    EXPECT_EQ(Names{"position"}, channelNames(back, "Point"));
}

TEST_F(Selection, BlanksAndTabsSeparateSelectors) {
    const Body& back = roundTrip("  Point.*\tParticle.density ");
    EXPECT_EQ("", log);
    EXPECT_EQ((Names{"Particle", "Point"}), kinds(back));
    EXPECT_EQ(Names{"density"}, channelNames(back, "Particle"));
    EXPECT_EQ((Names{"position", "mass"}), channelNames(back, "Point"));
}

TEST_F(Selection, MissingShapeIsReportedAndWritesNothingForIt) {
    const Body& back = roundTrip("Field.distance Particle.velocity Tet.*");
    EXPECT_EQ(shapeWarning("Field") + shapeWarning("Tet"), log);
    EXPECT_EQ(Names{"Particle"}, kinds(back));
    EXPECT_EQ(Names{"velocity"}, channelNames(back, "Particle"));
}

TEST_F(Selection, LoneStarHasAnEmptyShapePart) {
    const Body& back = roundTrip("*");
    EXPECT_EQ(shapeWarning(""), log);
    EXPECT_TRUE(kinds(back).empty());
    writertest::expectSameValues(*body, back);
    writertest::expectSameLayout(*body, back);
}

TEST_F(Selection, EmptySelectionWritesTheBodyWithoutShapes) {
    const Body& back = roundTrip("");
    EXPECT_EQ("", log);
    EXPECT_TRUE(kinds(back).empty());
    EXPECT_EQ("Sel", back.name());
}

TEST_F(Selection, ChannelMatchedTwiceIsWrittenOnce) {
    const Body& back = roundTrip("Particle.position *.position Particle.* *.*");
    EXPECT_EQ("", log);
    const Shape& written = *body->shape("Particle");
    ASSERT_EQ(3u, written.writeList().size());
    EXPECT_EQ((Names{"position", "velocity", "density"}), channelNames(back, "Particle"));
    writertest::expectSameShapes(*body, back);
}

TEST_F(Selection, ChannelNameThatMatchesNothingWritesNoShape) {
    // Only channels that exist reach the shape, so nothing is said.
    const Body& back = roundTrip("Particle.nothing");
    EXPECT_EQ("", log);
    EXPECT_TRUE(kinds(back).empty());
}

TEST_F(Selection, QualifiedChannelNamesMeetTheShapeWarnings) {
    // Channels keep a qualified name as given; a shape cannot write such a
    // channel under its own name, and says so.
    ParticleShape* shape = body->mutableParticleShape();
    shape->createChannel1f("Field.temperature", 0.0f);
    shape->createChannel1f("Particle.extra", 0.0f);
    const Body& back = roundTrip("Particle.*");
    EXPECT_EQ(warningLine("Skipping channel 'Field.temperature': cannot be written by Particle-Shape") +
                  warningLine("Channel 'Particle.extra' not found in Particle-Shape: it will not be written to " + path),
              log);
    EXPECT_EQ((Names{"position", "velocity", "density"}), channelNames(back, "Particle"));
}
