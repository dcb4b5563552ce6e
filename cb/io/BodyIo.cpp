#include "cb/io/BodyIo.h"

namespace Cb {

BodyIo::~BodyIo() = default;

void BodyIo::close() {}

}  // namespace Cb
