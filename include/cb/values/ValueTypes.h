#pragma once
// The value type registry: type name -> allocator and type test, created by
// library start-up and released by shutdown, with the "Toggle" group.

#include <map>
#include <memory>
#include <string>

namespace Cb {

class EnumGroup;
class ValueBase;

using ValueAllocFn = ValueBase* (*)(const std::string& valueName);
using ValueTypeTestFn = bool (*)(const ValueBase* value);
using ValueAllocTable = std::map<std::string, ValueAllocFn>;
using ValueTypeTestTable = std::map<std::string, ValueTypeTestFn>;

// Registers "value1i", "value1i64", "value1f", "value3f", "value3i",
// "value1s", "enum", "toggle", "threadcount", "fps" (in that order), then
// creates the "Toggle" group ("Off", "On").
void registerValueTypes();
// Frees both tables and the "Toggle" group.
void releaseValueTypes();

// "float", "int", "int64_t", "vec3f", "vec3i", "string" -> the type names.
std::string mapValueTypeAlias(const std::string& typeName);
// A new value (caller owns); throws "Unknown value type: '...'".
ValueBase* createValue(const std::string& typeName, const std::string& valueName);
// Whether the value is of the class registered under the name (or derived);
// throws "Unknown value type: '...'" for an unknown name.
bool isValueType(const ValueBase* value, const std::string& typeName);

// The live tables (for plug-ins); empty outside a started library.
ValueAllocTable& valueAllocators();
ValueTypeTestTable& valueTypeTests();

// The process-wide "Toggle" group; null outside a started library.
EnumGroup* toggleGroup();

}  // namespace Cb
