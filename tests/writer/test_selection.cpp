// Which shapes and channels a selection writes, and the warnings for the
// names that match nothing.
#include <gtest/gtest.h>

#include <map>

#include "WriterTestSupport.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"

using namespace Cb;
using writertest::Names;
using writertest::warningLine;

namespace {

using Written = std::map<std::string, Names>;  // shape kind -> channel names

class Selection : public writertest::WriterTest {
protected:
    void SetUp() override {
        WriterTest::SetUp();
        body = writertest::makePlainBody("Sel");
        auto* points = static_cast<PointShape*>(body->addShape(new PointShape(true)));
        points->resizeElements(5);
        points->createChannel1f("mass", 2.0f);
        body->addShape(new EdgeShape(false));  // no channels
    }
    void TearDown() override {
        body.reset();
        WriterTest::TearDown();
    }

    // Writes the body with the selection; checks the log and what was
    // written, every channel equal to the body's, values and layout whatever
    // the selection.
    void expectWritten(const std::string& selection, const std::string& log, const Written& expected) {
        SCOPED_TRACE("selection '" + selection + "'");
        EXPECT_EQ(log, write(file("sel.ztp"), {body.get()}, selection));
        auto reader = read(file("sel.ztp"));
        ASSERT_EQ(1, reader->bodyCount());
        const Body& back = *reader->storedBody(0);
        Written got;
        for (const auto& [kind, shape] : back.shapes()) {
            got[kind] = writertest::channelNames(back, kind);
            for (const std::string& name : got[kind])
                EXPECT_EQ(writertest::describe(*body->shape(kind)->channel(name)),
                          writertest::describe(*shape->channel(name)));
        }
        EXPECT_EQ(expected, got);
        EXPECT_EQ(writertest::describe(*body, false), writertest::describe(back, false));
    }

    std::string shapeWarning(const std::string& kind) const {
        return warningLine("Shape '" + kind + "' not found in body 'Sel': it will not be written to " + file("sel.ztp"));
    }

    std::unique_ptr<Body> body;
};

}  // namespace

TEST_F(Selection, ShapesAndChannelsWritten) {
    const Names all{"position", "velocity", "density"};
    // "*.*" leaves out the edge shape, which has no channels.
    expectWritten("*.*", "", {{"Particle", all}, {"Point", {"position", "mass"}}});
    expectWritten("Particle.position", "", {{"Particle", {"position"}}});
    expectWritten("*.position", "", {{"Particle", {"position"}}, {"Point", {"position"}}});
    // Blanks and tabs separate selectors.
    expectWritten("  Point.*\tParticle.density ", "", {{"Particle", {"density"}}, {"Point", {"position", "mass"}}});
    // A channel matched twice is written once.
    expectWritten("Particle.position *.position Particle.* *.*", "",
                  {{"Particle", all}, {"Point", {"position", "mass"}}});
    // Only channels that exist reach the shape, so nothing is said.
    expectWritten("Particle.nothing", "", {});
    expectWritten("", "", {});
}

TEST_F(Selection, NamesThatMatchNothingAreReported) {
    expectWritten("Field.distance Particle.velocity Tet.*", shapeWarning("Field") + shapeWarning("Tet"),
                  {{"Particle", {"velocity"}}});
    // A lone star has an empty shape part.
    expectWritten("*", shapeWarning(""), {});
    // Channels keep a qualified name as given; a shape cannot write such a
    // channel under its own name, and says so.
    ParticleShape* shape = body->mutableParticleShape();
    shape->createChannel1f("Field.temperature", 0.0f);
    shape->createChannel1f("Particle.extra", 0.0f);
    expectWritten("Particle.*",
                  warningLine("Skipping channel 'Field.temperature': cannot be written by Particle-Shape") +
                      warningLine("Channel 'Particle.extra' not found in Particle-Shape: it will not be written to " +
                                  file("sel.ztp")),
                  {{"Particle", {"position", "velocity", "density"}}});
}
