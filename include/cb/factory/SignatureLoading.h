#pragma once
// Compiling a signature file from disk; the factory's loading of signature
// folders and plug-ins is declared in Factory.h.

#include <string>

#include "cb/sig/SigRoot.h"

namespace Cb {

// Reads `path` with Cb::readFile and compiles it as compileSignatureWith
// does; the caller owns the returned root.
Cbp::Root* compileSignature(const std::string& path);

}  // namespace Cb
