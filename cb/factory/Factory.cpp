#include "cb/factory/Factory.h"

#include "cb/Log.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"
#include "cb/sig/SigRoot.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

std::unique_ptr<Factory>& singleton() {
    static std::unique_ptr<Factory> factory;
    return factory;
}

BodyReader* newZtpReader() { return new ZtpReader(); }
BodyWriter* newZtpWriter() { return new ZtpWriter(); }

// Keeps the first entry of a name; a later one only warns.
template <class Table, class Fn>
void registerOnce(Table& table, const std::string& name, Fn fn, const std::string& skipped) {
    if (!table.emplace(name, fn).second) logWarning(skipped);
}

template <class Table>
std::vector<std::string> keysOf(const Table& table) {
    std::vector<std::string> keys;
    keys.reserve(table.size());
    for (const auto& entry : table) keys.push_back(entry.first);
    return keys;
}

}  // namespace

ForeignFactory::~ForeignFactory() = default;

Factory::Factory() = default;

Factory::~Factory() {
    for (const auto& entry : cleanups_) entry.second();
    signatures_.clear();
    // Prototypes built by plug-in code run that code's destructors.
    prototypes_.clear();
    plugins_.clear();
    retained_.clear();
}

Factory& Factory::instance() {
    if (!singleton()) throw ztx::base("Factory NULL instance");
    return *singleton();
}

bool Factory::exists() { return singleton() != nullptr; }

Factory& Factory::create() {
    if (!singleton()) singleton() = std::make_unique<Factory>();
    return *singleton();
}

void Factory::destroy() { singleton().reset(); }

void Factory::registerBodyCode(const std::string& type, BodyAllocFn fn) {
    registerOnce(bodyCode_, type, fn, zt::cat("Skipping body '", type, "': body code has already been loaded."));
}

void Factory::registerBodyReader(const std::string& name) { registerBodyReader(name, &newZtpReader); }

void Factory::registerBodyWriter(const std::string& name) { registerBodyWriter(name, &newZtpWriter); }

void Factory::registerBodyReader(const std::string& name, BodyReaderAllocFn fn) {
    registerOnce(readers_, name, fn, zt::cat("Skipping body reader '", name, "': already loaded."));
}

void Factory::registerBodyWriter(const std::string& name, BodyWriterAllocFn fn) {
    registerOnce(writers_, name, fn, zt::cat("Skipping body writer '", name, "': already loaded."));
}

void Factory::registerCleanup(const void* key, CleanupFn fn) { cleanups_.emplace(key, fn); }

Body* Factory::allocBody(const std::string& type, const std::string& name) {
    const auto code = bodyCode_.find(type);
    if (code == bodyCode_.end() || !code->second)
        throw ztx::base(zt::cat("Error creating body of type '", type, "': not registered"));
    std::unique_ptr<Object> object(code->second(type.c_str(), name.c_str()));
    if (!object) throw ztx::base(zt::cat("Error allocating body of type '", type, "'"));
    Body* body = dynamic_cast<Body*>(object.get());
    if (!body) throw ztx::base(zt::cat("Error creating body of type '", type, "': type is not a body!"));
    object.release();
    return body;
}

Body* Factory::createFromSignature(const std::string& type) {
    const auto found = signatures_.find(type);
    if (found == signatures_.end())
        throw ztx::base(zt::cat("Can't create body of type '", type, "': missing .Sig"));
    std::unique_ptr<Body> body(allocBody(type, type));
    found->second->apply(body.get());
    return body.release();
}

std::unique_ptr<BodyReader> Factory::createBodyReader(const std::string& name) const {
    const auto found = readers_.find(name);
    if (found == readers_.end()) throw ztx::base(zt::cat("No body reader registered as '", name, "'"));
    return std::unique_ptr<BodyReader>(found->second());
}

std::unique_ptr<BodyWriter> Factory::createBodyWriter(const std::string& name) const {
    const auto found = writers_.find(name);
    if (found == writers_.end()) throw ztx::base(zt::cat("No body writer registered as '", name, "'"));
    return std::unique_ptr<BodyWriter>(found->second());
}

const Cbp::Root* Factory::signature(const std::string& name) const {
    const auto found = signatures_.find(name);
    return found == signatures_.end() ? nullptr : found->second.get();
}

const Body* Factory::prototype(const std::string& name) const {
    const auto found = prototypes_.find(name);
    return found == prototypes_.end() ? nullptr : found->second.get();
}

std::vector<std::string> Factory::signatureNames() const { return keysOf(signatures_); }

std::vector<std::string> Factory::bodyCodeNames() const { return keysOf(bodyCode_); }

}  // namespace Cb
