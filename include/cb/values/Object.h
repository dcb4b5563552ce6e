#pragma once
// Cb::Object: a named object with a metadata table (key -> value, in key order).

#include <iosfwd>
#include <map>
#include <string>

namespace Cb {

class Object {
public:
    Object() = default;
    explicit Object(std::string name) : name_(std::move(name)) {}
    Object(const Object&) = default;
    Object& operator=(const Object&) = default;
    virtual ~Object();

    virtual std::string name() const = 0;
    virtual void setName(const std::string& name);
    // One line per metadata entry: format 0 `SetMeta "NAME" "KEY" "VALUE"`,
    // format 1 `PyKo.SetMeta ( "NAME", "KEY", "VALUE" )`; other formats
    // write nothing. Texts are written unescaped.
    virtual void printMetadata(std::ostream& os, int format) const;

    // The object's own name, without any qualification.
    const std::string& ownName() const { return name_; }
    std::map<std::string, std::string>& metadata() { return metadata_; }
    const std::map<std::string, std::string>& metadata() const { return metadata_; }

protected:
    std::string name_;
    std::map<std::string, std::string> metadata_;
};

}  // namespace Cb
