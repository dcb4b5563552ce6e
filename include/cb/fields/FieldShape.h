#pragma once
// Cb::FieldShape ("Field"): the volumetric data of a body. Its channels are
// field channels, one value (or vector) per voxel of the body's tile layout;
// voxel positions come from the layout, so the shape has no master channel.

#include <cstdint>
#include <string>

#include "cb/model/Shape.h"

namespace Cb {

class FieldShape : public Shape {
public:
    // The flag is ignored: a field shape has no master channel to create.
    explicit FieldShape(bool withMaster = false);
    FieldShape(const FieldShape& other) = default;

    Shape* clone() const override;
    // Those of the first channel; 0 and true without channels.
    int64_t size() const override;
    bool empty() const override;
    // Nothing: there is no master to share.
    void adoptMaster(const Shape& other) override;
    // By the channel part of the name: "fluid-distance", "solid-distance" and
    // "particle-count" create those channels with their fixed names and
    // backgrounds (the default is not used); any other name a FieldChannel1f
    // with the default as background and the name as given.
    Channel* createChannel1f(const std::string& name, float defaultValue) override;
    Channel* createChannel1i(const std::string& name, int defaultValue) override;
    Channel* createChannel1i64(const std::string& name, int64_t defaultValue) override;
    Channel* createChannel3f(const std::string& name, const zt::vec3f& defaultValue) override;
    // Throws "Cannot create field3i channel".
    Channel* createChannel3i(const std::string& name, const zt::vec3i& defaultValue) override;
    // Null: positions come from the layout.
    Channel* masterChannel() const override { return nullptr; }

private:
    Channel* add(Channel* channel, const std::string& name);
};

}  // namespace Cb
