// ZtpReader's body records: the header, each body with its sections,
// layout and shapes, and the header-only read.
#include "cb/io/ZtpReader.h"

#include <memory>

#include "cb/Log.h"
#include "cb/encoding/LayoutRecord.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"
#include "cb/model/ChannelRegistry.h"
#include "cb/model/Shape.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueBase.h"
#include "cb/values/ValueIo.h"
#include "cb/values/ValueSection.h"
#include "zt/cat.h"
#include "zt/tile_layout3.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// Versions that added fields to the body record.
constexpr int32_t kSignatureNameVersion = 9;
constexpr int32_t kExtraTextVersion = 16;

// Files before signature names knew no "Motion Type"; their bodies are
// unsolved.
void addUnsolvedMotionType(Body& body) {
    EnumGroup* group = body.hasEnumGroup("MotionTypeEnum")
                           ? body.enumGroup("MotionTypeEnum")
                           : body.addEnumGroup(std::make_unique<EnumGroup>(
                                 "MotionTypeEnum", std::vector<std::string>{"Dynamic", "Kinematic", "User", "Unsolved"}));
    ValueSection* section = body.section("Motion Type");
    if (!section) section = body.addSection("Motion Type");
    section->addValue(std::make_unique<Value1e>("Motion Type", group, "Unsolved"));
}

// A shape record: a stored channel replaces one of the same name. Channels are
// appended without bringing them into step with the master: that would load
// the particle data, which stays in the file until used.
std::unique_ptr<Shape> readShapeRecord(ZtpReader& reader) {
    ZtpInput& in = reader.stream();
    std::unique_ptr<Shape> shape(createShape(readString(in), false));
    const uint64_t deferral = shape->syncDeferral();
    shape->setSyncDeferral(deferral + 1);
    const int32_t n = in.readI32();
    for (int32_t c = 0; c < n; ++c) {
        ChannelHandle channel = readChannel(reader);
        shape->removeChannel(channel->name());
        shape->appendChannel(channel);
    }
    shape->setSyncDeferral(deferral);
    return shape;
}

}  // namespace

ZtpReader::ZtpReader(const String& fileName, const String& bodyNamePattern, const String& signatureName)
    : BodyReader(fileName, bodyNamePattern, signatureName) {
    open(fileName, bodyNamePattern, signatureName);
}

Body* ZtpReader::storedBody(int i) const { return table_.at(size_t(i)).stored.get(); }

bool ZtpReader::open(const String& fileName, const String& bodyNamePattern, const String& signatureName) {
    if (isOpen()) return false;
    BodyReader::open(fileName, bodyNamePattern, signatureName);
    damage_.clear();
    headerBodyCount_ = 0;
    if (!openStream(fileName, kUnreadVersion)) return false;
    logInfo(zt::cat("Reading ZTP: ", fileName));
    ZtpInput& in = stream();
    if (in.readU32() != kMagic) throw ztx::base(zt::cat("ZtpReader: bad magic in ", fileName));
    const int32_t version = in.readI32();
    // A layout newer than this reader knows would be misread, not read.
    if (version < 1 || version > kNewestVersion)
        throw ztx::base(zt::cat("ZtpReader: unsupported version ", version, " in ", fileName));
    in.setVersion(version);
    setVersion(version);
    setTime(in.readF64());
    const int32_t count = in.readI32();
    headerBodyCount_ = count;

    for (int32_t k = 0; k < count; ++k) {
        std::unique_ptr<Body> body;
        try {
            body = readBody(signatureName);
        } catch (const std::exception& e) {
            damage_ = e.what();
            logWarning(damage_);
            break;
        }
        String name = body->name();
        if (nameMatches(bodyNamePattern, name)) table_.emplace_back(std::move(name), std::move(body));
    }
    return true;
}

std::unique_ptr<Body> ZtpReader::readBody(const String& requested) {
    try {
        ZtpInput& in = stream();
        const String name = readString(in);
        String stored;
        String type = requested;
        if (version() >= kSignatureNameVersion) {
            stored = readString(in);
            if (requested == "Body") type = stored;
        }
        std::unique_ptr<Body> body(Factory::instance().allocBody(type, name));
        body->setSignatureName(type);
        readBodyRecord(*body, stored);
        return body;
    } catch (const std::exception& e) {
        throw ztx::base(zt::cat("Corrupt ZTP: ", e.what()));
    } catch (...) {
        throw ztx::base("Corrupt ZTP");
    }
}

void ZtpReader::readBodyRecord(Body& body, const String& storedSignature) {
    ZtpInput& in = stream();
    if (version() >= kExtraTextVersion) body.setExtraText(readString(in));
    float transform[16];
    in.readExact(transform, sizeof transform, "Error reading ztp value");
    body.setTransformMatrix(transform);
    if (storedSignature == body.signatureName()) body.readHook(*this);

    const int32_t sections = in.readI32();
    for (int32_t s = 0; s < sections; ++s) {
        ValueSection* section = body.addSection(readString(in));
        const int32_t values = in.readI32();
        for (int32_t v = 0; v < values; ++v) section->addValue(readValue(in));
    }

    body.setLayout(readLayoutRecord(in).release());

    const int32_t shapes = in.readI32();
    for (int32_t s = 0; s < shapes; ++s) body.setShape(readShapeRecord(*this).release());

    if (version() < kSignatureNameVersion && !body.hasValue("Motion Type")) addUnsolvedMotionType(body);
}

bool ZtpReader::readHeaderInfo(const String& fileName, double& time) {
    FilePtr file = openFile(fileName, "rb");
    if (!file) return false;
    ZtpInput in(std::move(file), fileName, kUnreadVersion);
    if (in.readU32() != kMagic) throw ztx::base(zt::cat("bad magic in ztp ", fileName));
    in.readI32();
    time = in.readF64();
    return true;
}

}  // namespace Cb
