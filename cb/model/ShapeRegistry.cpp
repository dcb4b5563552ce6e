#include <map>

#include "cb/model/Shape.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {
std::map<std::string, ShapeAllocFn>& shapeTable() {
    static std::map<std::string, ShapeAllocFn> table;
    return table;
}
}  // namespace

void registerShapeType(const std::string& kind, ShapeAllocFn create) { shapeTable()[kind] = create; }

Shape* createShape(const std::string& kind, bool withMaster) {
    const auto found = shapeTable().find(kind);
    if (found == shapeTable().end() || !found->second) throw ztx::base(zt::cat("Unknown shape: '", kind, "'"));
    return found->second(withMaster);
}

}  // namespace Cb
