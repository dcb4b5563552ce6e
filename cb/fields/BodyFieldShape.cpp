// The body's typed access to its "Field" shape.
#include "cb/fields/FieldShape.h"
#include "cb/model/Body.h"

namespace Cb {

const FieldShape* Body::fieldShape() const {
    const auto* s = dynamic_cast<const FieldShape*>(shape("Field").get());
    if (!s) badShapeType("Field");
    return s;
}

FieldShape* Body::mutableFieldShape() {
    fieldShape();  // the lookup's errors
    return static_cast<FieldShape*>(mutableShape("Field"));
}

}  // namespace Cb
