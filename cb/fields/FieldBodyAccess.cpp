#include "FieldBodyAccess.h"

#include <algorithm>


namespace Cb::detail {

Body& mutableBody(const Body& body) { return const_cast<Body&>(body); }

double bodyNumber(const Body& body, const std::string& name, const FrameTime& time, double fallback) {
    return body.valueNumber(name, time, fallback);
}

std::string bodyText(const Body& body, const std::string& name, const FrameTime& time) {
    return body.valueText(name, time);
}

const ParticleShape* particlesOf(const Body& body) {
    return body.hasShape("Particle") ? body.particleShape() : nullptr;
}

template <class T>
std::vector<ParticleBlockView> blockViews(const ParticleShape& shape, const ParticleChannel<T>* values, int first,
                                          bool fineOnly) {
    std::vector<ParticleBlockView> views;
    const ParticleChannel<zt::vec3f>* positions = shape.positions();
    if (!positions) return views;
    const int d = shape.indexOf("droplet");
    const auto* droplet = d >= 0 ? dynamic_cast<const ParticleChannel<float>*>(shape.channel(d).get()) : nullptr;
    positions->makeResident();
    if (values) values->makeResident();
    if (droplet) droplet->makeResident();
    const zt::block3_array_base& storage = positions->rawStorage();
    const int64_t blocks = fineOnly ? storage.listCount(0) : storage.blockCount();
    views.reserve(size_t(std::max<int64_t>(blocks, 0)));
    for (int64_t g = 0; g < blocks; ++g) {
        std::span<const zt::vec3f> p = positions->blockElements(g);
        ParticleBlockView view;
        if (values) {
            const std::span<const T> v = values->blockElements(g);
            p = p.first(std::min(p.size(), v.size()));
            view.values = reinterpret_cast<const float*>(v.data()) + first;
            view.valueStride = int(sizeof(T) / sizeof(float));
        }
        if (droplet) view.droplet = droplet->blockElements(g);
        view.positions = p;
        views.push_back(view);
    }
    return views;
}

template std::vector<ParticleBlockView> blockViews(const ParticleShape&, const ParticleChannel<float>*, int, bool);
template std::vector<ParticleBlockView> blockViews(const ParticleShape&, const ParticleChannel<zt::vec3f>*, int,
                                                   bool);

}  // namespace Cb::detail
