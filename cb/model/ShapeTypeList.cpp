// The built-in shape kinds, registered at start-up in this order: "Field",
// "Particle", then the buffer shapes.
#include "cb/fields/FieldShape.h"
#include "cb/model/MeshShapes.h"
#include "cb/model/ParticleShape.h"
#include "cb/model/PointShape.h"
#include "cb/model/Shape.h"

namespace Cb {

void registerShapeTypes() {
    registerShapeType("Field", &newShapeOf<FieldShape>);

    registerShapeType("Particle", &newShapeOf<ParticleShape>);

    registerShapeType("Triangle", &newShapeOf<TriangleShape>);
    registerShapeType("Point", &newShapeOf<PointShape>);
    registerShapeType("Edge", &newShapeOf<EdgeShape>);
    registerShapeType("Tet", &newShapeOf<TetShape>);
}

}  // namespace Cb
