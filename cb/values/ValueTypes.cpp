#include "cb/values/ValueTypes.h"

#include "cb/values/EnumGroup.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace Cb {

namespace {

std::unique_ptr<EnumGroup>& toggleGroupSlot() {
    static std::unique_ptr<EnumGroup> group;
    return group;
}

template <class V>
ValueBase* allocate(const std::string& name) {
    return new V(name);
}

template <class V>
bool isA(const ValueBase* value) {
    return dynamic_cast<const V*>(value) != nullptr;
}

template <class V>
void registerType(const char* typeName) {
    // A name registered twice keeps its first entry.
    valueAllocators().emplace(typeName, &allocate<V>);
    valueTypeTests().emplace(typeName, &isA<V>);
}

}  // namespace

ValueAllocTable& valueAllocators() {
    static ValueAllocTable table;
    return table;
}

ValueTypeTestTable& valueTypeTests() {
    static ValueTypeTestTable table;
    return table;
}

EnumGroup* toggleGroup() { return toggleGroupSlot().get(); }

void registerValueTypes() {
    registerType<Value<int, 1>>("value1i");
    registerType<Value<int64_t, 1>>("value1i64");
    registerType<Value<float, 1>>("value1f");
    registerType<Value<float, 3>>("value3f");
    registerType<Value<int, 3>>("value3i");
    registerType<Value<String, 1>>("value1s");
    registerType<Value1e>("enum");
    registerType<ValueToggle>("toggle");
    registerType<ThreadCountValue>("threadcount");
    registerType<FpsValue>("fps");
    toggleGroupSlot() = std::make_unique<EnumGroup>("Toggle", std::vector<std::string>{"Off", "On"});
}

void releaseValueTypes() {
    valueAllocators().clear();
    valueTypeTests().clear();
    toggleGroupSlot().reset();
}

std::string mapValueTypeAlias(const std::string& typeName) {
    if (typeName == "float") return "value1f";
    if (typeName == "int") return "value1i";
    if (typeName == "int64_t") return "value1i64";
    if (typeName == "vec3f") return "value3f";
    if (typeName == "vec3i") return "value3i";
    if (typeName == "string") return "value1s";
    return typeName;
}

ValueBase* createValue(const std::string& typeName, const std::string& valueName) {
    auto it = valueAllocators().find(mapValueTypeAlias(typeName));
    if (it == valueAllocators().end()) throw ztx::base(zt::cat("Unknown value type: '", typeName, "'"));
    return it->second(valueName);
}

bool isValueType(const ValueBase* value, const std::string& typeName) {
    auto it = valueTypeTests().find(mapValueTypeAlias(typeName));
    if (it == valueTypeTests().end()) throw ztx::base(zt::cat("Unknown value type: '", typeName, "'"));
    return it->second(value);
}

}  // namespace Cb
