#include "cb/io/BodyReader.h"

#include "cb/model/Body.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

BodyTableEntry::BodyTableEntry(String bodyName, std::unique_ptr<Body> storedBody)
    : name(std::move(bodyName)), stored(std::move(storedBody)) {}
BodyTableEntry::BodyTableEntry(BodyTableEntry&&) noexcept = default;
BodyTableEntry& BodyTableEntry::operator=(BodyTableEntry&&) noexcept = default;
BodyTableEntry::~BodyTableEntry() = default;

BodyReader::BodyReader(String fileName, String bodyNamePattern, String signatureName)
    : BodyIo(std::move(fileName)),
      bodyNamePattern_(std::move(bodyNamePattern)),
      signatureName_(std::move(signatureName)) {}

BodyReader::~BodyReader() = default;

bool BodyReader::open(const String& fileName, const String& bodyNamePattern, const String& signatureName) {
    setFileName(fileName);
    setBodyNamePattern(bodyNamePattern);
    setSignatureName(signatureName);
    return false;
}

bool BodyReader::readHeaderInfo(const String&, double&) { return false; }

int BodyReader::bodyCount() const { return int(table_.size()); }

std::unique_ptr<Body> BodyReader::takeBody(int i) {
    if (i < 0 || i >= bodyCount())
        throw ztx::base(zt::cat("Cannot access out-of-bounds body index ", i, " in BodyReader"));
    BodyTableEntry& entry = table_[size_t(i)];
    if (!entry.handedOut) {
        const Body* stored = storedBody(i);
        if (!stored) return nullptr;
        entry.handedOut.reset(stored->cloneUnsolved());
        entry.handedOut->applyTransform(transform().data());
    }
    return std::move(entry.handedOut);
}

bool BodyReader::nameMatches(const String& pattern, const String& name) {
    if (pattern == "*") return true;
    size_t start = 0;
    while (start < pattern.size()) {
        const size_t end = pattern.find_first_of(" \t", start);
        const size_t stop = end == String::npos ? pattern.size() : end;
        if (stop > start && pattern.compare(start, stop - start, name) == 0 && stop - start == name.size())
            return true;
        start = stop + 1;
    }
    return false;
}

}  // namespace Cb
