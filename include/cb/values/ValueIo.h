#pragma once
// Value and enumerated-group records of ZTP files.
//
//   value record  type name (string), value name (string), payload: one
//                 string per component, or for "enum"/"toggle" a group
//                 record and the selected entry (string)
//   group record  name (string), i32 entry count, the entries (strings);
//                 a "Construction" group stored with "Live" reads "Empty"

#include <memory>

namespace Cb {

class EnumGroup;
class ValueBase;
class ZtpInput;
class ZtpOutput;

// Creates the value through the value type registry (an unknown type name is
// the registry's error) and reads its payload.
std::unique_ptr<ValueBase> readValue(ZtpInput& in);
// Type name, the value's own name, payload.
void writeValue(ZtpOutput& out, const ValueBase& value);

std::unique_ptr<EnumGroup> readEnumGroup(ZtpInput& in);
void writeEnumGroup(ZtpOutput& out, const EnumGroup& group);

}  // namespace Cb
