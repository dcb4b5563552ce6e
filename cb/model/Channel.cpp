#include "cb/model/Channel.h"

#include "cb/Log.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/io/ZtpWriter.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

Channel::Channel(const Channel& other)
    : storedCount_(other.storedCount_),
      min_(other.min_),
      max_(other.max_),
      mean_(other.mean_),
      recordOffset_(other.recordOffset_),
      recordDataOffset_(other.recordDataOffset_),
      recordBytes_(other.recordBytes_) {
    setName(other.name_);
}

Channel::~Channel() = default;

void Channel::setName(const std::string& name) {
    if (name.find(' ') != std::string::npos)
        throw ztx::base(zt::cat("Cannot set channel name '", name, "': Spaces are ", " not allowed in channel names"));
    name_ = name;
}

void Channel::setStoredStatistics(uint64_t count, const zt::vec3f& min, const zt::vec3f& max, const zt::vec3f& mean) {
    storedCount_ = count;
    min_ = min;
    max_ = max;
    mean_ = mean;
}

void Channel::removeOccluder(const Object*) {}

void Channel::printMemory() const {
    if (logFile()) writeLogFile(zt::cat("            Channel ", name_, ": ", memoryMB(), " MB"));
}

void Channel::updateLayout(const zt::tile_layout3&) {}
void Channel::compactBlocks() {}
void Channel::stepHookA(const FrameTime&, const Body&) {}
void Channel::stepHookB(const FrameTime&, const Body&) {}
void Channel::updateFromBody(const FrameTime&, const Body&) {}
void Channel::updateStep(const FrameTime&, const Body&) {}
void Channel::rebuildStep(const FrameTime&, const Body&) {}
int Channel::hookPriority() const { return 1; }
void Channel::loadAllBlocks() {}

void Channel::write(ZtpWriter& writer, bool) { writeHeader(writer); }

void Channel::writeHeader(ZtpWriter& writer) {
    setStoredStatistics(size(), min3f(), max3f(), mean3f());
    ZtpOutput& out = writer.stream();
    writeString(out, typeName());
    writeString(out, name_);
    out.writeU64(storedCount_);
    out.writeVec3f(min_);
    out.writeVec3f(max_);
    out.writeVec3f(mean_);
}

}  // namespace Cb
