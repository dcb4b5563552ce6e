#include "Values.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include "Common.h"
#include "cb/model/Body.h"
#include "cb/qel/FrameTime.h"
#include "cb/qel/QelContext.h"
#include "cb/values/Value.h"
#include "cb/values/Value1e.h"
#include "cb/values/ValueSection.h"
#include "cb/values/ValueTypes.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace ztpy {

namespace {

Cb::ValueBase* findValue(const Cb::Body& body, const std::string& section, const std::string& name) {
    const Cb::ValueSection* s = body.section(section);
    return s ? s->findValue(name) : nullptr;
}

Cb::ValueBase& requireValue(const Cb::Body& body, const std::string& section, const std::string& name) {
    if (Cb::ValueBase* v = findValue(body, section, name)) return *v;
    throw py::key_error(zt::cat("Body '", body.name(), "' has no value '", name, "' in section '", section, "'"));
}

template <class T>
py::object typed(Cb::ValueBase& v, const Cb::FrameTime& t) {
    auto& value = static_cast<Cb::Value<T, 1>&>(v);
    if constexpr (std::is_same_v<T, float>)
        return py::float_(value.evaluate(t));
    else
        return py::int_(value.evaluate(t));
}

template <class T>
py::object typed3(Cb::ValueBase& v, const Cb::FrameTime& t) {
    auto& value = static_cast<Cb::Value<T, 3>&>(v);
    py::tuple out(3);
    for (int c = 0; c < 3; ++c) {
        const T x = value.evaluate(t, c);
        if constexpr (std::is_same_v<T, float>)
            out[size_t(c)] = py::float_(x);
        else
            out[size_t(c)] = py::int_(x);
    }
    return out;
}

py::object evaluate(Cb::ValueBase& v, const Cb::FrameTime& t) {
    if (dynamic_cast<Cb::Value<int, 1>*>(&v)) return typed<int>(v, t);
    if (dynamic_cast<Cb::Value<int64_t, 1>*>(&v)) return typed<int64_t>(v, t);
    if (dynamic_cast<Cb::Value<float, 1>*>(&v)) return typed<float>(v, t);
    if (dynamic_cast<Cb::Value<float, 3>*>(&v)) return typed3<float>(v, t);
    if (dynamic_cast<Cb::Value<int, 3>*>(&v)) return typed3<int>(v, t);
    // Strings, enumerations, toggles and value types of plug-ins: their text.
    std::string out;
    v.evalString(out, t, 0, 0);
    return text(out);
}

// Python ints and NumPy integers; bools are toggles, not numbers.
bool isInteger(const py::handle& value) {
    return !py::isinstance<py::bool_>(value) && (py::isinstance<py::int_>(value) || py::hasattr(value, "__index__"));
}

bool isReal(const py::handle& value) {
    return !py::isinstance<py::str>(value) && !isInteger(value) && py::hasattr(value, "__float__");
}

// Expression texts of a Python value: one per component.
std::vector<std::string> textsOf(const py::handle& value, int components) {
    std::vector<std::string> texts;
    auto one = [](const py::handle& item) -> std::string {
        if (py::isinstance<py::str>(item)) return item.cast<std::string>();
        if (py::isinstance<py::bool_>(item)) return item.cast<bool>() ? "1" : "0";
        if (isInteger(item)) return py::str(py::int_(py::reinterpret_borrow<py::object>(item))).cast<std::string>();
        if (isReal(item)) return numberText(py::float_(py::reinterpret_borrow<py::object>(item)).cast<double>());
        throw py::type_error(zt::cat("values are numbers or expression texts, not ",
                                     py::str(py::type::of(item).attr("__name__")).cast<std::string>()));
    };
    if (components == 1) {
        texts.push_back(one(value));
        return texts;
    }
    if (py::isinstance<py::str>(value) || !py::isinstance<py::sequence>(value) || py::len(value) != size_t(components))
        throw py::type_error(zt::cat("a vector value takes a sequence of ", components, " numbers or texts"));
    for (const py::handle item : value) texts.push_back(one(item));
    return texts;
}

bool isVector(const py::handle& value) {
    return !py::isinstance<py::str>(value) && py::isinstance<py::sequence>(value);
}

// The type a new value takes from its Python value.
std::string inferredType(const py::handle& value) {
    if (py::isinstance<py::bool_>(value)) return "toggle";
    if (isInteger(value)) {
        const py::int_ number(py::reinterpret_borrow<py::object>(value));
        const py::int_ lo(std::numeric_limits<int>::min()), hi(std::numeric_limits<int>::max());
        return number < lo || number > hi ? "value1i64" : "value1i";
    }
    if (isReal(value)) return "value1f";
    if (py::isinstance<py::str>(value)) return "value1s";
    if (isVector(value) && py::len(value) == 3) {
        for (const py::handle item : value)
            if (!isInteger(item)) return "value3f";
        return "value3i";
    }
    throw py::type_error("a new value takes a number, a bool, a text or 3 numbers");
}

std::string libraryType(const std::string& type) {
    if (type == "int64") return "value1i64";
    if (type == "bool") return "toggle";
    return Cb::mapValueTypeAlias(type);
}

}  // namespace

std::string numberText(double value) {
    if (!std::isfinite(value)) throw py::value_error("values must be finite numbers");
    // Values are 32-bit floats: nine significant digits give the same float back.
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.9g", value);
    std::string text = buffer;
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return text;
}

py::dict bodyValues(const BodyHandle& handle) {
    LibraryLock lock;
    Cb::Body& body = handle.body();
    Cb::FrameTime time;
    time.time = handle.time();
    // Binds the body's values to a context over the body while they evaluate.
    Cb::QelContext context(&body, "", time);
    py::dict sections;
    for (int s = 0; s < body.sectionCount(); ++s) {
        const Cb::ValueSection& section = *body.sectionAt(s);
        py::dict values;
        for (int v = 0; v < section.valueCount(); ++v) {
            Cb::ValueBase& value = *section.valueAt(v);
            try {
                values[text(value.ownName())] = evaluate(value, time);
            } catch (const py::error_already_set&) {
                throw;
            } catch (const std::exception& e) {
                throw ztx::base(
                    zt::cat("Cannot evaluate '", value.ownName(), "' of body '", body.name(), "': ", e.what()));
            }
        }
        sections[text(section.name())] = values;
    }
    return sections;
}

py::object valueExpression(const BodyHandle& handle, const std::string& section, const std::string& name) {
    LibraryLock lock;
    const Cb::ValueBase& value = requireValue(handle.body(), section, name);
    if (value.componentCount() == 1) return text(value.expression(0));
    py::tuple texts(size_t(value.componentCount()));
    for (int c = 0; c < value.componentCount(); ++c) texts[size_t(c)] = text(value.expression(c));
    return texts;
}

std::string valueTypeName(const BodyHandle& handle, const std::string& section, const std::string& name) {
    LibraryLock lock;
    return requireValue(handle.body(), section, name).typeName();
}

void setValue(BodyHandle& handle, const std::string& sectionName, const std::string& name, const py::object& value,
              const std::optional<std::string>& type) {
    LibraryLock lock;
    Cb::Body& body = handle.mutableBody();
    Cb::ValueBase* target = findValue(body, sectionName, name);
    std::unique_ptr<Cb::ValueBase> created;
    if (!target) {
        created.reset(Cb::createValue(type ? libraryType(*type) : inferredType(value), name));
        // Owned by the body for its messages; added to the section once set.
        created->setOwner(&body);
        target = created.get();
    }
    if (auto* choice = dynamic_cast<Cb::Value1e*>(target)) {
        if (py::isinstance<py::bool_>(value) && dynamic_cast<Cb::ValueToggle*>(choice))
            choice->select(value.cast<bool>() ? "On" : "Off");
        else if (py::isinstance<py::str>(value))
            choice->select(value.cast<std::string>());
        else
            throw py::type_error(zt::cat("value '", name, "' is an enumeration: give the name to select"));
    } else {
        const std::vector<std::string> texts = textsOf(value, target->componentCount());
        for (int c = 0; c < target->componentCount(); ++c) target->setExpression(texts[size_t(c)], c);
    }
    if (!created) return;
    Cb::ValueSection* section = body.section(sectionName);
    if (!section) section = body.addSection(sectionName);
    section->addValue(std::move(created));
}

}  // namespace ztpy
