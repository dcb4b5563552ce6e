#include "cb/sig/SigRoot.h"

namespace Cbp {

const StringConstant* Root::description() const { return childAs<StringConstant>(1); }

const Node* Root::items() const { return slotCount() > 2 ? child(2) : nullptr; }

}  // namespace Cbp
