#pragma once
// The mesh element shapes: EdgeShape ("Edge"), TriangleShape ("Triangle")
// and TetShape ("Tet"). Each has the master "index", a buffer channel of 2,
// 3 or 4 point indices per element into the body's "Point" shape (not
// checked against the point count); an element's position is the centre of
// its points.

#include "cb/model/BufferShape.h"

namespace Cb {

class EdgeShape : public BufferShape {
public:
    // With the flag, "index" with default (0, 0).
    explicit EdgeShape(bool withMaster);
    EdgeShape(const EdgeShape& other) = default;
    Shape* clone() const override;
};

class TriangleShape : public BufferShape {
public:
    // With the flag, "index" with default (0, 0, 0).
    explicit TriangleShape(bool withMaster);
    TriangleShape(const TriangleShape& other) = default;
    Shape* clone() const override;
};

class TetShape : public BufferShape {
public:
    // With the flag, "index" with default (0, 0, 0, 0).
    explicit TetShape(bool withMaster);
    TetShape(const TetShape& other) = default;
    Shape* clone() const override;
};

}  // namespace Cb
