#pragma once
// Cb::Factory: the process-wide registry through which bodies are created by
// type name. It holds the body code (allocation functions), the compiled
// signatures with one prototype body each, the body readers and writers, the
// clean-up functions and the plug-in libraries that supply user body code.
// Library start-up creates it and shutdown destroys it.
//
// Plug-ins are shared libraries named after a signature, found beside it
// (<dir>/<name>.so, else <dir>/<name>d.so), exporting with C linkage:
//   Cb::Object* UserBodyAlloc(const char* typeName, const char* bodyName);
//   bool BeginPlugin(Cb::ForeignFactory* host);   // false: the load fails
//   void EndPlugin();                              // required, never called

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cb/factory/SharedLibrary.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/values/ValueTypes.h"

namespace Cbp {
class Root;
}

namespace Cb {

class Object;
class Body;
class BodyReader;
class BodyWriter;
class Factory;

// A new library object (the caller owns it) or null. Built-in body code
// ignores the type name and returns a plain Body named bodyName.
using BodyAllocFn = Object* (*)(const char* typeName, const char* bodyName);
using BodyReaderAllocFn = BodyReader* (*)();
using BodyWriterAllocFn = BodyWriter* (*)();
using CleanupFn = void (*)();

// What a plug-in receives from BeginPlugin: the host's factory and registry
// tables, so it registers into them rather than into copies of its own.
// Nothing here is owned; the record lives only for the call.
class ForeignFactory {
public:
    ForeignFactory(Factory* factory, ChannelCreateTable* channelAllocators, ChannelTestTable* channelTests,
                   ValueAllocTable* valueAllocators, ValueTypeTestTable* valueTests)
        : factory(factory),
          channelAllocators(channelAllocators),
          channelTests(channelTests),
          valueAllocators(valueAllocators),
          valueTests(valueTests) {}
    virtual ~ForeignFactory();

    Factory* factory;
    ChannelCreateTable* channelAllocators;
    ChannelTestTable* channelTests;
    ValueAllocTable* valueAllocators;
    ValueTypeTestTable* valueTests;
};

// The plug-in exports other than UserBodyAlloc (a BodyAllocFn).
using PluginBeginFn = bool (*)(ForeignFactory* host);
using PluginEndFn = void (*)();

class Factory {
public:
    Factory();
    // In order: calls every clean-up function, deletes the signature trees,
    // deletes the prototype bodies, then unloads every plug-in library (a
    // plug-in's prototypes need its code until they are gone).
    virtual ~Factory();
    Factory(const Factory&) = delete;
    Factory& operator=(const Factory&) = delete;

    // The singleton; throws "Factory NULL instance" when there is none.
    static Factory& instance();
    static bool exists();
    // Creates the singleton unless one exists; returns it.
    static Factory& create();
    // Destroys the singleton, if any.
    static void destroy();

    // The first registration of a type wins; later ones log "Skipping body
    // '<type>': body code has already been loaded.".
    void registerBodyCode(const std::string& type, BodyAllocFn fn);
    // Registers the ZTP reader (writer) under `name`; a present name logs
    // "Skipping body reader '<name>': already loaded." ("... writer ...").
    void registerBodyReader(const std::string& name);
    void registerBodyWriter(const std::string& name);
    void registerBodyReader(const std::string& name, BodyReaderAllocFn fn);
    void registerBodyWriter(const std::string& name, BodyWriterAllocFn fn);
    // A function called first by the destructor; one per key, the first kept.
    void registerCleanup(const void* key, CleanupFn fn);

    // A new body of a registered type (the caller owns it). Throws "Error
    // creating body of type '<type>': not registered", "Error allocating body
    // of type '<type>'" (null from the code), or "Error creating body of type
    // '<type>': type is not a body!" (an object of another class).
    Body* allocBody(const std::string& type, const std::string& name);
    // A body named after its type, built by applying the type's signature.
    // Throws "Can't create body of type '<type>': missing .Sig".
    Body* createFromSignature(const std::string& type);
    // A new reader (writer) of a registered name; throws "No body reader
    // registered as '<name>'" ("No body writer ...").
    std::unique_ptr<BodyReader> createBodyReader(const std::string& name) const;
    std::unique_ptr<BodyWriter> createBodyWriter(const std::string& name) const;

    // The signature directories: $CORIX_PATH/server/standard-sig, the
    // non-empty pieces of $CORIX_USER_SIG_PATH split at ";", then
    // $CORIX_PATH/server/user-sig. Throws the corixRoot() message first.
    static std::vector<std::string> signatureDirectories();
    // Scans every signature directory in order; all but the first are user
    // directories.
    void loadSignatures();
    // Compiles and loads each a.sig / a.Sig file of `dir` in name order; logs
    // "Scanning <dir> ..." when the directory holds any file.
    void scanSignatureDirectory(const std::string& dir, bool isUser);
    // Stores the signature (the first of a name wins: later ones log
    // "Skipping signature '<name>': signature has already been declared."),
    // loads its body code and builds its prototype.
    void loadSignature(const std::string& dir, std::unique_ptr<Cbp::Root> root, bool isUser);
    // Finds body code for a stored signature: registered code is kept (a user
    // directory logs "Skipping body '<name>': already loaded"); otherwise the
    // plug-in <dir>/<name>.so or <dir>/<name>d.so is loaded and started.
    void loadBodyCode(const std::string& dir, const std::string& name, bool isUser);

    bool hasBodyCode(const std::string& type) const { return bodyCode_.count(type) != 0; }
    bool hasBodyReader(const std::string& name) const { return readers_.count(name) != 0; }
    bool hasBodyWriter(const std::string& name) const { return writers_.count(name) != 0; }
    bool hasPlugin(const std::string& name) const { return plugins_.count(name) != 0; }
    // Null when absent.
    const Cbp::Root* signature(const std::string& name) const;
    const Body* prototype(const std::string& name) const;
    // Names in key order.
    std::vector<std::string> signatureNames() const;
    std::vector<std::string> bodyCodeNames() const;

private:
    // Members in the order the tables are described; the destructor empties
    // them in its own order.
    std::map<std::string, SharedLibrary> plugins_;
    std::map<const void*, CleanupFn> cleanups_;
    std::map<std::string, std::unique_ptr<Cbp::Root>> signatures_;
    std::map<std::string, std::unique_ptr<Body>> prototypes_;
    std::map<std::string, BodyAllocFn> bodyCode_;
    std::map<std::string, BodyReaderAllocFn> readers_;
    std::map<std::string, BodyWriterAllocFn> writers_;
    // Libraries whose load failed after their UserBodyAlloc was registered:
    // kept loaded so the registered code stays callable, unloaded last.
    std::vector<SharedLibrary> retained_;
};

}  // namespace Cb
