#include "cb/sig/SigCompiler.h"

#include "cb/Log.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

Cbp::Root* compileSignatureWith(const std::string& path, const std::function<std::string(const std::string&)>& load) {
    std::unique_ptr<Cbp::Root> root;
    try {
        root = parseSignature(load(path));
    } catch (const ztx::base& error) {
        throw ztx::base(zt::cat("Error parsing ", path, ": ", error.what()));
    } catch (...) {
        throw ztx::base(zt::cat("-------- Bad body signature: ", path));
    }
    logInfo("Compiled SIG: " + root->name());
    return root.release();
}

Cbp::Root* compileSignatureText(const std::string& text, const std::string& path) {
    return compileSignatureWith(path, [&text](const std::string&) { return text; });
}

}  // namespace Cb
