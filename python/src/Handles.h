#pragma once
// What the Python objects hold: an open cache (the reader with its bodies)
// and a handle on one body, either read from a cache or built from Python.
// A handle checks on every use that its body still exists; closing a cache
// frees its bodies, and handles on them then fail with a clear message.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Session.h"

namespace Cb {
class Body;
class ZtpReader;
}  // namespace Cb

namespace ztpy {

class Cache {
public:
    // Reads the file's body records (particle and field data stay in the
    // file). With `strict`, a damaged record fails the whole open instead of
    // leaving the bodies read before it.
    Cache(const std::string& path, const std::string& pattern, bool strict);
    ~Cache();

    // Frees the bodies and their data; later uses of them fail.
    void close();
    bool closed() const { return !reader_; }

    const std::string& path() const { return path_; }
    int version() const { return version_; }
    double time() const { return time_; }
    const std::string& damage() const { return damage_; }
    int bodyCount() const;
    // Throws "I/O operation on closed cache <path>" once closed.
    Cb::Body& body(int i) const;

private:
    std::shared_ptr<Session> session_;
    std::unique_ptr<Cb::ZtpReader> reader_;
    std::string path_;
    int version_ = 0;
    double time_ = 0.0;
    std::string damage_;
};

class BodyHandle {
public:
    // A body of an open cache.
    BodyHandle(std::shared_ptr<Cache> cache, int index);
    // A new body of a registered type, from its signature when one is loaded.
    BodyHandle(const std::string& name, const std::string& type);
    ~BodyHandle();

    Cb::Body& body() const;
    // Bodies read from a cache are not changed from Python.
    bool readOnly() const { return cache_ != nullptr; }
    // Throws "Body '<name>' was read from <file> and cannot be changed" for
    // a body read from a cache.
    Cb::Body& mutableBody();
    // The time values are evaluated at: the cache's, 0 for a built body.
    double time() const;
    // The file a read body came from; empty for a built body.
    std::string sourcePath() const;

    // Where each stored particle came from: stored row r holds the row
    // order[r] of the arrays given to the last setParticles; empty before.
    std::optional<std::vector<int64_t>>& particleOrder() { return order_; }

private:
    std::shared_ptr<Cache> cache_;
    int index_ = -1;
    std::shared_ptr<Session> session_;
    std::unique_ptr<Cb::Body> owned_;
    std::optional<std::vector<int64_t>> order_;
};

}  // namespace ztpy
