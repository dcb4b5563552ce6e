#include "Common.h"

#include "cb/model/Shape.h"
#include "zt/cat.h"
#include "zt/ztx.h"

namespace ztpy {

py::str text(const std::string& s) {
    PyObject* object = PyUnicode_DecodeUTF8(s.data(), py::ssize_t(s.size()), "surrogateescape");
    if (!object) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(object);
}

std::string textArg(const py::handle& s) {
    if (!py::isinstance<py::str>(s)) throw py::type_error("names are str");
    const py::bytes bytes =
        py::reinterpret_steal<py::bytes>(PyUnicode_AsEncodedString(s.ptr(), "utf-8", "surrogateescape"));
    if (!bytes) throw py::error_already_set();
    return bytes.cast<std::string>();
}

std::string describe(const py::handle& object) { return py::str(object).cast<std::string>(); }

std::string pathArg(const py::handle& path) {
    const py::object fspath = py::module_::import("os").attr("fspath")(path);
    if (!py::isinstance<py::str>(fspath)) throw py::type_error("paths must be str or os.PathLike[str]");
    return fspath.cast<std::string>();
}

void throwUnsupported(const Cb::Channel& channel) {
    throw ztx::base(zt::cat("Channel '", channel.name(), "' of type '", channel.typeName(), "' has no array form"));
}

void throwUnsupported(const std::string& name, int typeCode) {
    throw ztx::base(zt::cat("Channel '", name, "' of type code ", typeCode, " has no array form"));
}

std::vector<ChannelEntry> channelEntries(const Cb::Shape& shape) {
    std::vector<ChannelEntry> entries;
    for (int c = 0; c < shape.channelCount(); ++c)
        entries.push_back({shape.channel(c)->name(), shape.channel(c)->typeName()});
    return entries;
}

}  // namespace ztpy
