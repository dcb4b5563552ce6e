#pragma once
// Compiling body signatures into Cbp trees. The caller owns the returned root.

#include <functional>
#include <memory>
#include <string>

#include "cb/sig/SigRoot.h"

namespace Cb {

// Parses a whole signature text. Throws "Syntax error on line " + N + ": " +
// the rest of that line from the point of the error.
std::unique_ptr<Cbp::Root> parseSignature(const std::string& text);

// Reads the text through `load(path)`, parses it and logs "Compiled SIG: " +
// name. A ztx::base from reading or parsing is rethrown as "Error parsing " +
// path + ": " + its message; any other failure as "-------- Bad body
// signature: " + path. Signature files are read by the factory's
// compileSignature (cb/factory/SignatureLoading.h).
Cbp::Root* compileSignatureWith(const std::string& path, const std::function<std::string(const std::string&)>& load);

// As compileSignatureWith, with the text already in memory; `path` names it
// in messages.
Cbp::Root* compileSignatureText(const std::string& text, const std::string& path);

}  // namespace Cb
