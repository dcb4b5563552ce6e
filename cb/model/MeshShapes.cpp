#include "cb/model/MeshShapes.h"

namespace Cb {

EdgeShape::EdgeShape(bool withMaster) : BufferShape("Edge") {
    if (withMaster) createChannel2i("index", {0, 0});
}

Shape* EdgeShape::clone() const { return new EdgeShape(*this); }

TriangleShape::TriangleShape(bool withMaster) : BufferShape("Triangle") {
    if (withMaster) createChannel3i("index", {0, 0, 0});
}

Shape* TriangleShape::clone() const { return new TriangleShape(*this); }

TetShape::TetShape(bool withMaster) : BufferShape("Tet") {
    if (withMaster) createChannel4i("index", {0, 0, 0, 0});
}

Shape* TetShape::clone() const { return new TetShape(*this); }

}  // namespace Cb
