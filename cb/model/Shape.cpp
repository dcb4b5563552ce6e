#include "cb/model/Shape.h"

#include <algorithm>

#include "cb/Log.h"
#include "cb/encoding/ZtpEncoding.h"
#include "cb/io/ZtpReader.h"
#include "cb/io/ZtpWriter.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

// The words of a list, split at any of the delimiters; empty words dropped.
std::vector<std::string> splitWords(const std::string& text, const char* delimiters) {
    std::vector<std::string> words;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = std::min(text.find_first_of(delimiters, start), text.size());
        if (end > start) words.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

// Hooks and layout passes hand channels out for modification on the shape's
// own behalf; the flags a caller sees are those from before the pass.
class ModifiedFlagsKeeper {
public:
    explicit ModifiedFlagsKeeper(Shape& shape) : shape_(shape), flags_(shape.modifiedFlags()) {}
    ~ModifiedFlagsKeeper() { shape_.setModifiedFlags(flags_); }
    ModifiedFlagsKeeper(const ModifiedFlagsKeeper&) = delete;
    ModifiedFlagsKeeper& operator=(const ModifiedFlagsKeeper&) = delete;

private:
    Shape& shape_;
    uint32_t flags_;
};

}  // namespace

std::string shapePart(const std::string& qualifiedName) {
    const size_t dot = qualifiedName.find('.');
    return dot == std::string::npos ? std::string() : qualifiedName.substr(0, dot);
}

std::string channelPart(const std::string& qualifiedName) {
    const size_t dot = qualifiedName.find('.');
    return dot == std::string::npos ? qualifiedName : qualifiedName.substr(dot + 1);
}

Shape::Shape(std::string kind) : name_(std::move(kind)) {}

Shape::Shape(const Shape& other) : channels_(other.channels_), name_(other.name_), modified_(other.modified_) {}

Shape::~Shape() = default;

float Shape::memoryMB() const {
    float total = 0;
    for (const ChannelHandle& handle : channels_) total += handle->memoryMB();
    return total;
}

void Shape::updateLayout(const zt::tile_layout3& layout) {
    ModifiedFlagsKeeper keep(*this);
    for (ChannelHandle& handle : channels_) handle.mutableGet()->updateLayout(layout);
}

void Shape::compactBlocks() {
    ModifiedFlagsKeeper keep(*this);
    for (ChannelHandle& handle : channels_) handle.mutableGet()->compactBlocks();
}

void Shape::syncChannels() {}
void Shape::pushZtdBody(ztd::body&) {}
void Shape::stepHook() {}

void Shape::updateFromBody(const FrameTime& time, const Body& body) {
    ModifiedFlagsKeeper keep(*this);
    for (Channel* channel : hookOrder()) channel->updateFromBody(time, body);
}

void Shape::updateStep(const FrameTime& time, const Body& body) {
    ModifiedFlagsKeeper keep(*this);
    for (Channel* channel : hookOrder()) channel->updateStep(time, body);
}

void Shape::rebuildStep(const FrameTime& time, const Body& body) {
    ModifiedFlagsKeeper keep(*this);
    for (Channel* channel : hookOrder()) channel->rebuildStep(time, body);
}

std::vector<Channel*> Shape::hookOrder() {
    std::vector<Channel*> order;
    order.reserve(channels_.size());
    for (ChannelHandle& handle : channels_) order.push_back(handle.mutableGet());
    std::stable_sort(order.begin(), order.end(),
                     [](const Channel* a, const Channel* b) { return a->hookPriority() > b->hookPriority(); });
    return order;
}

void Shape::printMemory() const {
    if (logFile()) writeLogFile(zt::cat("         ", name_, "-shape: ", memoryMB(), " MB"));
    for (const ChannelHandle& handle : channels_) handle->printMemory();
}

void Shape::read(ZtpReader& reader) {
    // Each record is read before the next is counted, so an absurd count
    // ends at the end of the file instead of in an allocation.
    const int32_t count = reader.stream().readI32();
    for (int32_t i = 0; i < count; ++i) {
        ChannelHandle handle = readChannel(reader);
        requireNew(handle->name());
        channels_.push_back(std::move(handle));
    }
}

void Shape::write(ZtpWriter& writer, const std::string& selection, bool compress) {
    ZtpOutput& out = writer.stream();
    writeString(out, name_);

    const bool everything = selection == "*";
    std::vector<std::string> wanted;  // channel parts of the tokens this shape writes
    bool star = everything;
    if (!everything) {
        for (const std::string& token : splitWords(selection, " ")) {
            if (token == "*") {
                star = true;
                continue;
            }
            const std::string shape = shapePart(token);
            if (!shape.empty() && shape != name_) {
                logWarning(zt::cat("Skipping channel '", token, "': cannot be written by ", name_, "-Shape"));
                continue;
            }
            if (indexOf(token) < 0)
                logWarning(zt::cat("Channel '", token, "' not found in ", name_,
                                   "-Shape: it will not be written to ", writer.fileName()));
            wanted.push_back(channelPart(token));
        }
    }

    writeList_.clear();
    for (ChannelHandle& handle : channels_) {
        if (star || std::find(wanted.begin(), wanted.end(), handle->name()) != wanted.end())
            writeList_.push_back(handle.get());
    }
    out.writeI32(int32_t(writeList_.size()));
    for (Channel* channel : writeList_) channel->write(writer, compress);
}

Channel* Shape::createChannel2i(const std::string&, const zt::vec2i&) {
    throw ztx::base(zt::cat("2i channels not supported in a ", name_, "-Shape"));
}

Channel* Shape::createChannel4i(const std::string&, const zt::vec4i&) {
    throw ztx::base(zt::cat("4i channels not supported in a ", name_, "-Shape"));
}

std::string Shape::positionSource() const { return std::string(); }

void Shape::applyTransform(const float*) {}

ChannelHandle& Shape::mutableChannel(int i) {
    ChannelHandle& handle = channels_[size_t(i)];
    markModified(handle->name());
    return handle;
}

int Shape::findChannel(const std::string& name) const {
    const std::string shape = shapePart(name);
    if (!shape.empty() && shape != name_)
        throw ztx::base(zt::cat("Channel '", name, " cannot be found in shape '", name_, "'"));
    const int i = indexOf(name);
    if (i < 0) throw ztx::base(zt::cat("Channel '", channelPart(name), "' not found in ", name_, "-shape"));
    return i;
}

ChannelHandle& Shape::channel(const std::string& name) { return channels_[size_t(findChannel(name))]; }

const ChannelHandle& Shape::channel(const std::string& name) const { return channels_[size_t(findChannel(name))]; }

ChannelHandle& Shape::mutableChannel(const std::string& name) { return mutableChannel(findChannel(name)); }

int Shape::indexOf(const std::string& name) const {
    const std::string wanted = channelPart(name);
    for (size_t i = 0; i < channels_.size(); ++i)
        if (channels_[i]->name() == wanted) return int(i);
    return -1;
}

bool Shape::hasChannels(const std::string& names, int typeCode) const {
    const std::vector<std::string> words = splitWords(names, " \t");
    if (words.empty()) return false;
    for (const std::string& word : words) {
        const int i = indexOf(word);
        if (i < 0) return false;
        if (typeCode != kTypeAny && channels_[size_t(i)]->typeCode() != typeCode) return false;
    }
    return true;
}

void Shape::requireNew(const std::string& name) const {
    const int i = indexOf(name);
    if (i >= 0)
        throw ztx::base(zt::cat("Cannot create channel '", name, "' in ", name_,
                                "-Shape: channel already exists (of type ", channels_[size_t(i)]->typeName(), ")"));
}

void Shape::requireObject(const ChannelHandle& handle) const {
    if (!handle) throw ztx::base(zt::cat("A channel handle without a channel cannot join a ", name_, "-Shape"));
}

void Shape::replaceChannel(const ChannelHandle& handle) {
    requireObject(handle);
    const std::string name = handle->name();
    const int i = indexOf(name);
    if (i < 0) throw ztx::base(zt::cat("Cannot replace channel '", name, "': channel does not exist."));
    channels_[size_t(i)] = handle;
}

void Shape::addMissingChannels(const Shape& other) {
    bool added = false;
    for (const ChannelHandle& handle : other.channels_) {
        if (indexOf(handle->name()) >= 0) continue;
        channels_.push_back(handle);
        added = true;
    }
    if (added && !syncDeferral_) syncChannels();
}

Channel* Shape::appendChannel(ChannelHandle handle) {
    requireObject(handle);
    requireNew(handle->name());
    channels_.push_back(std::move(handle));
    if (!syncDeferral_) {
        try {
            syncChannels();
        } catch (...) {
            channels_.pop_back();
            throw;
        }
    }
    return channels_.back().get();
}

void Shape::removeChannel(const std::string& name) {
    const int i = indexOf(name);
    if (i >= 0) channels_.erase(channels_.begin() + i);
}

void Shape::markModified(const std::string& channelName) {
    if (channelName == "position")
        modified_ |= kPositionModified;
    else if (channelName == "distance")
        modified_ |= kDistanceModified;
    else if (channelName == "velocity")
        modified_ |= kVelocityModified;
}

void Shape::wrongType(const std::string& name) const {
    throw ztx::base(zt::cat("Channel '", name, "' in ", name_, "-shape requested: wrong channel type"));
}

}  // namespace Cb
