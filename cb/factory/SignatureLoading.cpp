// Finding, compiling and loading body signatures, and the plug-in libraries
// that supply code for user body types.
#include "cb/factory/SignatureLoading.h"

#include "cb/Log.h"
#include "cb/factory/Factory.h"
#include "cb/factory/Files.h"
#include "cb/model/Body.h"
#include "cb/sig/SigCompiler.h"
#include "cb/sig/SigRoot.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// The pieces of a ";"-separated list. Empty pieces (doubled, leading or
// trailing separators) name no directory and are dropped: read as "" they
// would send the scan to the file-system root.
std::vector<std::string> splitPathList(const std::string& list) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(';', start);
        std::string piece = list.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!piece.empty()) pieces.push_back(std::move(piece));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return pieces;
}

// Looks an export up; a missing one fails the load.
void* requireExport(const SharedLibrary& library, const char* exportName, const std::string& path) {
    void* address = library.symbol(exportName);
    if (!address) throw ztx::base(zt::cat("Error retrieving '", exportName, "' from: ", path));
    return address;
}

}  // namespace

Cbp::Root* compileSignature(const std::string& path) { return compileSignatureWith(path, readFile); }

std::vector<std::string> Factory::signatureDirectories() {
    const std::string root = corixRoot();
    std::vector<std::string> dirs{root + "/server/standard-sig"};
    for (std::string& piece : splitPathList(getEnv("CORIX_USER_SIG_PATH"))) dirs.push_back(std::move(piece));
    dirs.push_back(root + "/server/user-sig");
    return dirs;
}

void Factory::loadSignatures() {
    const std::vector<std::string> dirs = signatureDirectories();
    for (size_t i = 0; i < dirs.size(); ++i) scanSignatureDirectory(dirs[i], i != 0);
}

void Factory::scanSignatureDirectory(const std::string& dir, bool isUser) {
    const std::vector<std::string> files = listDirectory(dir);
    if (!files.empty()) logInfo(zt::cat("Scanning ", dir, " ..."));
    for (const std::string& file : files) {
        if (!hasExtension(file, "sig") && !hasExtension(file, "Sig")) continue;
        std::unique_ptr<Cbp::Root> root(compileSignature(dir + "/" + file));
        loadSignature(dir, std::move(root), isUser);
    }
}

void Factory::loadSignature(const std::string& dir, std::unique_ptr<Cbp::Root> root, bool isUser) {
    const std::string name = root->name();
    if (signatures_.count(name)) {
        logWarning(zt::cat("Skipping signature '", name, "': signature has already been declared."));
        return;
    }
    signatures_.emplace(name, std::move(root));
    loadBodyCode(dir, name, isUser);
    if (prototypes_.count(name)) throw ztx::base(zt::cat("Attempting to add duplicate Body Signature '", name, "'"));
    std::unique_ptr<Body> prototype(createFromSignature(name));
    prototypes_.emplace(name, std::move(prototype));
    if (verbose()) logInfo(zt::cat("Loaded Body Signature '", name, "'"));
}

void Factory::loadBodyCode(const std::string& dir, const std::string& name, bool isUser) {
    if (!signatures_.count(name))
        throw ztx::base(zt::cat("Found code for user body '", name, "' but no matching .Sig file"));
    if (bodyCode_.count(name) || plugins_.count(name)) {
        if (isUser) logWarning(zt::cat("Skipping body '", name, "': already loaded"));
        return;
    }

    const std::string path = dir + "/" + name + ".so";
    SharedLibrary library = SharedLibrary::open(path);
    if (!library.loaded()) library = SharedLibrary::open(stripExtension(path) + "d.so");
    if (!library.loaded()) throw ztx::base(zt::cat("Error opening ", path, " to load user body code."));

    const auto alloc = reinterpret_cast<BodyAllocFn>(requireExport(library, "UserBodyAlloc", path));
    registerBodyCode(name, alloc);
    try {
        const auto begin = reinterpret_cast<PluginBeginFn>(requireExport(library, "BeginPlugin", path));
        requireExport(library, "EndPlugin", path);
        ForeignFactory host(this, &channelCreateTable(), &channelTestTable(), &valueAllocators(),
                            &valueTypeTests());
        if (!begin(&host)) throw ztx::base(zt::cat("BeginPlugin(", path, ") failed"));
    } catch (...) {
        // UserBodyAlloc stays registered, so its code must stay loaded.
        retained_.push_back(std::move(library));
        throw;
    }
    plugins_.emplace(name, std::move(library));
    logInfo(zt::cat("Loaded user body code: ", name));
}

}  // namespace Cb
