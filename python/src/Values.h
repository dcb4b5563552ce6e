#pragma once
// A body's values as Python objects: numbers, 3-tuples and strings,
// evaluated through an expression context over the body at a given time;
// and values set from numbers or expression texts.

#include <pybind11/pybind11.h>

#include <optional>
#include <string>

#include "Handles.h"

namespace ztpy {

namespace py = pybind11;

// A number as expression text that reads back as the same float.
std::string numberText(double value);

// {section: {value name: value}} at the body's time (the cache's, 0 for a
// built body). int and int64 values give int, float values float, vec3f
// and vec3i values 3-tuples, strings, enumerations and toggles str.
py::dict bodyValues(const BodyHandle& body);
// The value's expression text; a 3-tuple of texts for vector values; the
// selected name for enumerations. Throws py::key_error when absent.
py::object valueExpression(const BodyHandle& body, const std::string& section, const std::string& name);
// The library's type name of the value ("value1f", "enum", ...).
std::string valueTypeName(const BodyHandle& body, const std::string& section, const std::string& name);
// Sets an existing value, or adds it (and its section): a number or a
// 3-sequence of numbers, an expression text (or 3 of them), a name of an
// enumeration, a bool for a toggle. A new value's type is `type` when given
// ("int", "int64", "float", "vec3f", "vec3i", "string", "toggle" or a
// library type name), else follows the Python value.
void setValue(BodyHandle& body, const std::string& section, const std::string& name, const py::object& value,
              const std::optional<std::string>& type);

}  // namespace ztpy
