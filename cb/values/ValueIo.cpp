#include "cb/values/ValueIo.h"

#include "cb/encoding/ZtpEncoding.h"
#include "cb/encoding/ZtpStream.h"
#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueTypes.h"

namespace Cb {

std::unique_ptr<ValueBase> readValue(ZtpInput& in) {
    const String type = readString(in);
    const String name = readString(in);
    std::unique_ptr<ValueBase> value(createValue(type, name));
    value->read(in);
    return value;
}

void writeValue(ZtpOutput& out, const ValueBase& value) {
    writeString(out, value.typeName());
    writeString(out, value.ownName());
    value.writePayload(out);
}

std::unique_ptr<EnumGroup> readEnumGroup(ZtpInput& in) {
    auto group = std::make_unique<EnumGroup>(readString(in));
    const int32_t n = in.readI32();
    for (int32_t i = 0; i < n; ++i) {
        String entry = readString(in);
        // Old files name the empty construction state "Live".
        if (group->name() == "Construction" && entry == "Live") entry = "Empty";
        group->addName(entry);
    }
    return group;
}

void writeEnumGroup(ZtpOutput& out, const EnumGroup& group) {
    writeString(out, group.name());
    out.writeI32(int32_t(group.names().size()));
    for (const auto& entry : group.names()) writeString(out, entry);
}

void Value1e::writePayload(ZtpOutput& out) const {
    if (group_)
        writeEnumGroup(out, *group_);
    else
        writeEnumGroup(out, EnumGroup(""));
    writeString(out, selected_);
}

void Value1e::read(ZtpInput& in) {
    std::unique_ptr<EnumGroup> group = readEnumGroup(in);
    String selected = readString(in);
    // A value saved without a group and selection reads back as such.
    if (group->count() > 0 || !selected.empty()) group->checkName(selected);
    adoptGroup(std::move(group));
    selected_ = selected;
}

}  // namespace Cb
