#include "Handles.h"

#include "cb/factory/Factory.h"
#include "cb/io/ZtpReader.h"
#include "cb/model/Body.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace ztpy {

Cache::Cache(const std::string& path, const std::string& pattern, bool strict)
    : session_(Session::acquire()), path_(path) {
    LibraryLock lock;
    reader_ = std::make_unique<Cb::ZtpReader>(path, pattern, "Body");
    version_ = reader_->version();
    time_ = reader_->time();
    damage_ = reader_->damage();
    // The stream is only needed while the records are read: particle and
    // field data reopen the file by name when they are loaded.
    reader_->close();
    if (strict && !damage_.empty()) {
        reader_.reset();
        throw ztx::base(zt::cat(damage_, " in ", path_));
    }
}

Cache::~Cache() { close(); }

void Cache::close() {
    LibraryLock lock;
    reader_.reset();
}

int Cache::bodyCount() const { return reader_ ? reader_->bodyCount() : 0; }

Cb::Body& Cache::body(int i) const {
    if (!reader_) throw ztx::base(zt::cat("I/O operation on closed cache ", path_));
    Cb::Body* body = reader_->storedBody(i);
    if (!body) throw ztx::base(zt::cat("Body ", i, " of ", path_, " holds no body"));
    return *body;
}

BodyHandle::BodyHandle(std::shared_ptr<Cache> cache, int index) : cache_(std::move(cache)), index_(index) {}

BodyHandle::BodyHandle(const std::string& name, const std::string& type) : session_(Session::acquire()) {
    LibraryLock lock;
    // Made under the lock, and freed under it when anything below fails.
    std::unique_ptr<Cb::Body> body;
    Cb::Factory& factory = Cb::Factory::instance();
    if (factory.signature(type)) {
        body.reset(factory.createFromSignature(type));
    } else if (factory.hasBodyCode(type)) {
        body.reset(factory.allocBody(type, name));
    } else {
        throw ztx::base(zt::cat("Unknown body type '", type, "': no signature",
                                session_->withSignatures() ? "" : " (CORIX_PATH is not set)",
                                " and no built-in code of that name, so no reader could create it again"));
    }
    body->setName(name);
    // As a body matched against its signature states it, so that readers
    // create the body again as this type.
    body->setSignatureName(type);
    owned_ = std::move(body);
}

BodyHandle::~BodyHandle() {
    LibraryLock lock;
    owned_.reset();
    cache_.reset();
}

Cb::Body& BodyHandle::body() const {
    if (cache_) return cache_->body(index_);
    return *owned_;
}

Cb::Body& BodyHandle::mutableBody() {
    if (cache_) {
        throw ztx::base(zt::cat("Body '", body().name(), "' was read from ", cache_->path(),
                                " and cannot be changed: build a new ztp.Body to write changed data"));
    }
    return *owned_;
}

double BodyHandle::time() const { return cache_ ? cache_->time() : 0.0; }

std::string BodyHandle::sourcePath() const { return cache_ ? cache_->path() : std::string(); }

}  // namespace ztpy
