// The ztp module: ZTP caches for Python scripts, particle and field channels
// as NumPy arrays.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <new>
#include <optional>

#include "Common.h"
#include "Fields.h"
#include "Files.h"
#include "Handles.h"
#include "Particles.h"
#include "Session.h"
#include "Values.h"
#include "cb/Log.h"
#include "cb/Version.h"
#include "cb/factory/Factory.h"
#include "cb/model/Body.h"
#include "zt/tile3.h"
#include "zt/tile_layout3.h"

namespace py = pybind11;
using namespace ztpy;

namespace {

const char* const kModuleDoc = R"(ZTP particle-simulation caches as Python objects and NumPy arrays.

    with ztp.open("frame.0101.ztp") as cache:
        for body in cache.bodies:
            if body.particles is not None:
                positions = body.particles["position"]   # (n, 3) float32

Reading leaves particle and field data in the file until a channel is asked
for; a channel is then read block by block straight into its array, with the
GIL released. ztp.write() builds caches from ztp.Body objects, and
ztp.to_txscene() runs the ztp2txscene conversion.

The library starts on first use. With CORIX_PATH set (not empty) it loads the
body signatures of $CORIX_PATH/server/standard-sig, $CORIX_USER_SIG_PATH and
$CORIX_PATH/server/user-sig, as the converter does. Without CORIX_PATH it
starts with the built-in body types only (Body, Particle, Particle-Liquid,
Field-Smoke, ...): caches of those types read, and bodies of them can be
built, but without the sections, values and channels a signature declares
(a type of a plug-in needs its signature).
Set CORIX_PATH before the first call (os.environ works).

Failures of the library raise ztp.Error (a RuntimeError) with the library's
message: unreadable or damaged files, unknown types, values that do not
parse. Calls into the library take one lock, so threads may share the
module; they run one at a time, with the GIL released while they work.)";

// A File: the cache and its Body objects, made once.
struct File {
    std::shared_ptr<Cache> cache;
    py::list bodies;
};

struct LayoutInfo {
    uint32_t tileSize = 0;
    float voxelSize = 0.0f;
    int64_t fineTiles = 0;
    int64_t coarseTiles = 0;
};

// Particle or field channels of one body.
struct Particles {
    std::shared_ptr<BodyHandle> body;
};
struct Fields {
    std::shared_ptr<BodyHandle> body;
};

LayoutInfo layoutOf(const BodyHandle& handle) {
    LibraryLock lock;
    const zt::tile_layout3& layout = handle.body().layout();
    LayoutInfo info{layout.tileSize(), layout.cellSize(), 0, 0};
    for (int64_t s = 0; s < layout.fineCount(); ++s) info.fineTiles += layout.fineTile(s) ? 1 : 0;
    for (int64_t s = 1; s < layout.coarseCount(); ++s) info.coarseTiles += layout.coarseTile(s) ? 1 : 0;
    return info;
}

py::list texts(const std::vector<std::string>& items) {
    py::list out;
    for (const std::string& s : items) out.append(text(s));
    return out;
}

using EntriesFn = std::vector<ChannelEntry> (*)(const BodyHandle&);

py::list namesOf(const std::vector<ChannelEntry>& entries) {
    py::list out;
    for (const ChannelEntry& e : entries) out.append(text(e.name));
    return out;
}

// The queries Particles and Fields share: channel names, their types,
// iteration over names and membership.
template <class View>
void addChannelQueries(py::class_<View>& view, EntriesFn entries) {
    view.def_property_readonly(
            "channels", [entries](const View& v) { return namesOf(entries(*v.body)); }, "Channel names in shape order.")
        .def_property_readonly(
            "types",
            [entries](const View& v) {
                py::dict out;
                for (const ChannelEntry& e : entries(*v.body)) out[text(e.name)] = text(e.type);
                return out;
            },
            "Channel name -> library type name (particle::vec3f, field::float, ...).")
        .def("keys", [entries](const View& v) { return namesOf(entries(*v.body)); })
        .def("__iter__", [entries](const View& v) { return py::iter(namesOf(entries(*v.body))); })
        .def("__contains__", [entries](const View& v, const py::object& name) {
            if (!py::isinstance<py::str>(name)) return false;
            const std::string wanted = textArg(name);
            for (const ChannelEntry& e : entries(*v.body))
                if (e.name == wanted) return true;
            return false;
        });
}

// A body's Particles or Fields, or None without that shape.
template <class View>
py::object viewOf(const std::shared_ptr<BodyHandle>& body, const char* kind) {
    {
        LibraryLock lock;
        if (!body->body().hasShape(kind)) return py::none();
    }
    return py::cast(View{body});
}

std::string bodyName(const BodyHandle& handle) {
    LibraryLock lock;
    return handle.body().name();
}

py::array anyArray(const py::handle& values) {
    py::array array = py::array::ensure(values);
    if (!array) throw py::type_error("particle channels take arrays of numbers");
    return array;
}

void registerErrors(py::module_& m) {
    static PyObject* error = PyErr_NewExceptionWithDoc(
        "ztp.Error", "A failure of the ZTP library: its message says what and where.", PyExc_RuntimeError, nullptr);
    m.attr("Error") = py::handle(error);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const py::builtin_exception&) {
            throw;
        } catch (const py::error_already_set&) {
            throw;
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            // Messages quote bytes from the file, which need not be UTF-8.
            const std::string message = e.what();
            PyObject* text = PyUnicode_DecodeUTF8(message.data(), py::ssize_t(message.size()), "backslashreplace");
            PyErr_SetObject(error, text);
            Py_XDECREF(text);
        }
    });
}

void bindFile(py::module_& m) {
    py::class_<File>(m, "File", "An open ZTP cache: its header and bodies. Use as a context manager.")
        .def_property_readonly(
            "path", [](const File& f) { return text(f.cache->path()); }, "The file's path.")
        .def_property_readonly(
            "version", [](const File& f) { return f.cache->version(); }, "The file's layout version (1 to 16).")
        .def_property_readonly(
            "time", [](const File& f) { return f.cache->time(); },
            "The time stored in the header; values are evaluated at it.")
        .def_property_readonly(
            "bodies", [](const File& f) { return f.bodies; },
            "The bodies whose names matched the pattern, in file order.")
        .def_property_readonly(
            "damage", [](const File& f) { return text(f.cache->damage()); },
            "Why reading stopped early (open(..., strict=False) only); '' for a whole file.")
        .def_property_readonly("closed", [](const File& f) { return f.cache->closed(); })
        .def(
            "close", [](File& f) { f.cache->close(); },
            "Frees every body and its data; using them afterwards raises ztp.Error.")
        .def(
            "__enter__", [](File& f) -> File& { return f; }, py::return_value_policy::reference)
        .def("__exit__", [](File& f, const py::args&) { f.cache->close(); })
        .def("__len__", [](const File& f) { return py::len(f.bodies); })
        .def("__iter__", [](const File& f) { return py::iter(f.bodies); })
        .def(
            "__getitem__",
            [](const File& f, const py::object& key) -> py::object {
                if (!py::isinstance<py::str>(key)) return f.bodies[key];
                for (const py::handle body : f.bodies)
                    if (text(bodyName(*body.cast<std::shared_ptr<BodyHandle>>())).equal(key))
                        return py::reinterpret_borrow<py::object>(body);
                throw py::key_error(py::str("no body named {!r} in {}").format(key, text(f.cache->path())));
            },
            "A body by position or by name.")
        .def("__repr__", [](const File& f) {
            return py::str("<ztp.File {!r} version {} time {} with {} bodies{}>")
                .format(text(f.cache->path()), f.cache->version(), f.cache->time(), py::len(f.bodies),
                        f.cache->closed() ? ", closed" : "");
        });

    m.def(
        "open",
        [](const py::object& path, const std::string& pattern, bool strict) {
            auto cache = std::make_shared<Cache>(pathArg(path), pattern, strict);
            File file{cache, py::list()};
            for (int i = 0; i < cache->bodyCount(); ++i) file.bodies.append(std::make_shared<BodyHandle>(cache, i));
            return file;
        },
        py::arg("path"), py::arg("pattern") = "*", py::arg("strict") = true,
        R"(Opens a ZTP cache (versions 1 to 16) and reads its body records.

pattern: "*" for every body, else body names separated by blanks.
strict: a damaged body record raises ztp.Error; with strict=False the
    bodies read before it are kept and File.damage says what happened.
Particle and field data stay in the file until asked for, so the file must
stay in place while the cache is open.)");
}

void bindLayout(py::module_& m) {
    py::class_<LayoutInfo>(m, "Layout", "A body's sparse tile layout: tiles of N^3 voxels.")
        .def_readonly("tile_size", &LayoutInfo::tileSize, "N: voxels along a tile's edge.")
        .def_readonly("voxel_size", &LayoutInfo::voxelSize, "Edge of one voxel.")
        .def_readonly("fine_tiles", &LayoutInfo::fineTiles, "Tiles holding particle blocks and field voxels.")
        .def_readonly("coarse_tiles", &LayoutInfo::coarseTiles, "Placeholder tiles around the fine ones.")
        .def("__repr__", [](const LayoutInfo& l) {
            return py::str("<ztp.Layout tile_size={} voxel_size={} fine_tiles={} coarse_tiles={}>")
                .format(l.tileSize, l.voxelSize, l.fineTiles, l.coarseTiles);
        });
}

void bindParticles(py::module_& m) {
    py::class_<Particles> particles(m, "Particles", R"(The particle channels of a body.

particles["position"] is an array of shape (n, 3) float32; int channels give
int32, int64 (id64) and int8 arrays, vec3i (n, 3) int32, scalars shape (n,).
Rows follow the converter's export order: the blocks of the layout's fine
tiles in layout order (blocks of coarse tiles are left out), and row i is
the same particle in every channel. len() is the number of rows.)");
    addChannelQueries(particles, &particleChannels);
    particles.def("__len__", [](const Particles& p) { return particleCount(*p.body); })
        .def(
            "__getitem__",
            [](const Particles& p, const py::str& name) { return readParticleChannel(*p.body, textArg(name)); },
            "The channel as a new array, read block by block from the file.")
        .def(
            "__setitem__",
            [](Particles& p, const py::str& name, const py::object& values) {
                setParticleChannel(*p.body, textArg(name), anyArray(values));
            },
            "Adds or replaces a channel of a built body, rows in the order given to set_particles.")
        .def("__repr__", [](const Particles& p) {
            return py::str("<ztp.Particles of {!r}: {} particles, channels {}>")
                .format(text(bodyName(*p.body)), particleCount(*p.body), namesOf(particleChannels(*p.body)));
        });
}

void bindFields(py::module_& m) {
    py::class_<FieldData>(m, "FieldChannel", R"(One field channel's values: unpacks as (values, tiles).

values: (tiles, N, N, N) for scalar channels, (tiles, N, N, N, 3) for vec3f,
    indexed [tile, x, y, z] (a view; np.ascontiguousarray copies it).
tiles: (tiles, 3) int32 tile coordinates; voxel (x, y, z) of tile t is the
    voxel N * tiles[t] + (x, y, z), whose value sits at
    voxel * voxel_size + the offset of sample_set.)")
        .def_readonly("name", &FieldData::name)
        .def_readonly("type", &FieldData::type, "Library type name (field::float, field::vec3f, ...).")
        .def_readonly("values", &FieldData::values)
        .def_readonly("tiles", &FieldData::tiles)
        .def_readonly("background", &FieldData::background, "The value everywhere outside the fine tiles.")
        .def_readonly("sample_set", &FieldData::sampleSet,
                      "0 low corner of the voxel, 1 its centre, 2/3/4 the centre of its high x/y/z face.")
        .def("__len__", [](const FieldData&) { return 2; })
        .def("__iter__", [](const FieldData& f) { return py::iter(py::make_tuple(f.values, f.tiles)); })
        .def("__getitem__", [](const FieldData& f, int i) { return py::make_tuple(f.values, f.tiles)[py::int_(i)]; })
        .def("__repr__", [](const FieldData& f) {
            return py::str("<ztp.FieldChannel {!r} {} of {} tiles>").format(f.name, f.type, f.tiles.shape(0));
        });

    py::class_<Fields> fields(m, "Fields", "The field channels of a body; fields[name] gives a FieldChannel.");
    addChannelQueries(fields, &fieldChannels);
    fields.def("__len__", [](const Fields& f) { return fieldChannels(*f.body).size(); })
        .def("__getitem__",
             [](const Fields& f, const py::str& name) { return readFieldChannel(*f.body, textArg(name)); })
        .def("__repr__", [](const Fields& f) {
            return py::str("<ztp.Fields of {!r}: {}>").format(text(bodyName(*f.body)), namesOf(fieldChannels(*f.body)));
        });
}

void bindBody(py::module_& m) {
    py::class_<BodyHandle, std::shared_ptr<BodyHandle>>(m, "Body", R"(A simulation body: values, a tile layout, shapes.

Bodies of an open File are read-only views that live until the file closes.
ztp.Body(name, type) builds a new body for ztp.write(): from the type's
signature when one is loaded (its sections, values and channels), else as a
plain body of a built-in type.)")
        .def(py::init([](const std::string& name, const std::string& type) {
                 return std::make_shared<BodyHandle>(name, type);
             }),
             py::arg("name"), py::arg("type") = "Body")
        .def_property_readonly("name", [](const BodyHandle& b) { return text(bodyName(b)); })
        .def_property_readonly(
            "type",
            [](const BodyHandle& b) {
                LibraryLock lock;
                return text(b.body().signatureName());
            },
            "The body's signature name (its type).")
        .def_property_readonly("values", &bodyValues,
                               "{section: {name: value}} evaluated at the file's time (0 for a built body).")
        .def(
            "expression",
            [](const BodyHandle& b, const py::str& section, const py::str& name) {
                return valueExpression(b, textArg(section), textArg(name));
            },
            py::arg("section"), py::arg("name"),
            "A value's expression text (a 3-tuple for vectors, the selected name for enumerations).")
        .def(
            "value_type",
            [](const BodyHandle& b, const py::str& section, const py::str& name) {
                return valueTypeName(b, textArg(section), textArg(name));
            },
            py::arg("section"), py::arg("name"),
            "A value's library type: value1i, value1i64, value1f, value3f, value3i, value1s, enum, toggle.")
        .def(
            "set_value",
            [](BodyHandle& b, const py::str& section, const py::str& name, const py::object& value,
               const std::optional<std::string>& type) { setValue(b, textArg(section), textArg(name), value, type); },
            py::arg("section"), py::arg("name"), py::arg("value"), py::arg("type") = py::none(),
            R"(Sets a value of a built body, adding it (and its section) when missing.

value: a number, 3 numbers, an expression text (or 3 texts for vectors), a
    name for an enumeration, a bool for a toggle.
type: for a new value: "int", "int64", "float", "vec3f", "vec3i", "string",
    "toggle"; by default it follows the Python value (a str gives a string).)")
        .def_property_readonly("layout", &layoutOf)
        .def_property_readonly(
            "shapes",
            [](const BodyHandle& b) {
                LibraryLock lock;
                std::vector<std::string> kinds;
                for (const auto& entry : b.body().shapes()) kinds.push_back(entry.first);
                return texts(kinds);
            },
            "Shape kinds: Particle, Field, Point, ...")
        .def_property_readonly(
            "particles", [](const std::shared_ptr<BodyHandle>& b) { return viewOf<Particles>(b, "Particle"); },
            "The Particle shape's channels, or None.")
        .def_property_readonly(
            "fields", [](const std::shared_ptr<BodyHandle>& b) { return viewOf<Fields>(b, "Field"); },
            "The Field shape's channels, or None.")
        .def(
            "set_particles",
            [](BodyHandle& b, const py::object& positions, std::optional<double> voxelSize, int tileSize,
               const py::kwargs& channels) {
                return setParticles(b, anyArray(positions), channels, voxelSize, tileSize);
            },
            py::arg("positions"), py::arg("voxel_size") = py::none(), py::arg("tile_size") = 9,
            R"(Gives a built body its particles: positions (n, 3) and channels as keywords.

The layout is built around the particles: one fine tile of tile_size^3
voxels of voxel_size (default: the body's "Master Voxel Size", else its
layout's) per occupied tile, in order of each tile's first particle, with
its shell of coarse tiles. Particles are stored by tile, in their given
order within a tile. Returns the stored order: stored row r is given row
order[r]. Channels the body's signature declares keep their type (arrays are
converted); new ones take it from the array: float -> float, vec3f for
(n, 3); int8/bool -> int8, smaller ints -> int, int64 -> int64, "id64" ->
running ids. Channels not given take their default value.)")
        .def_property_readonly(
            "source",
            [](const BodyHandle& b) -> py::object {
                const std::string path = b.sourcePath();
                return path.empty() ? py::none() : py::object(text(path));
            },
            "The cache a read body comes from; None for a built body.")
        .def_property_readonly("read_only", &BodyHandle::readOnly)
        .def("__repr__", [](const BodyHandle& b) {
            LibraryLock lock;
            return py::str("<ztp.Body {!r} of type {!r}>")
                .format(text(b.body().name()), text(b.body().signatureName()));
        });
}

void bindFunctions(py::module_& m) {
    m.def(
        "write",
        [](const py::object& path, const std::vector<std::shared_ptr<BodyHandle>>& bodies, double time, bool compress) {
            writeCache(pathArg(path), bodies, time, compress);
        },
        py::arg("path"), py::arg("bodies"), py::arg("time") = 0.0, py::arg("compress") = true,
        R"(Writes the bodies to a version-16 ZTP cache, as the library's writer does.

The file appears whole or not at all (written beside it, then renamed).
Bodies read from another cache are written with all their data.)");

    py::class_<ExportResult>(m, "ExportSummary", "What to_txscene wrote: the particle count and bounding box.")
        .def_readonly("particles", &ExportResult::particles)
        .def_property_readonly("min",
                               [](const ExportResult& r) { return py::make_tuple(r.min[0], r.min[1], r.min[2]); })
        .def_property_readonly("max",
                               [](const ExportResult& r) { return py::make_tuple(r.max[0], r.max[1], r.max[2]); })
        .def_property_readonly(
            "centre", [](const ExportResult& r) { return py::make_tuple(r.centre[0], r.centre[1], r.centre[2]); })
        .def("__repr__", [](const ExportResult& r) {
            return py::str("<ztp.ExportSummary {} particles, box ({}, {}, {}):({}, {}, {})>")
                .format(r.particles, r.min[0], r.min[1], r.min[2], r.max[0], r.max[1], r.max[2]);
        });

    m.def(
        "to_txscene",
        [](const py::object& input, const py::object& output, const std::string& plugin, float radius, float fps,
           float frame) { return exportTxscene(pathArg(input), pathArg(output), plugin, radius, fps, frame); },
        py::arg("input"), py::arg("output"), py::arg("plugin_name"), py::arg("radius"), py::arg("fps"),
        py::arg("frame"),
        R"(Converts a cache to a txscene file as ztp2txscene does, and returns its summary.

Diagnostics go to standard error as the converter prints them; a failure
raises ztp.Error with the converter's message. Unlike the command, this
runs without CORIX_PATH (see the module's help).)");

    m.def(
        "body_types",
        [] {
            const auto session = Session::acquire();
            LibraryLock lock;
            return texts(Cb::Factory::instance().bodyCodeNames());
        },
        "The body types bodies can be read and built as (built-in and from signatures).");
    m.def(
        "set_verbosity",
        [](const std::string& level) {
            if (level != "SILENT" && level != "QUIET" && level != "NORMAL" && level != "VERBOSE")
                throw py::value_error("verbosity is SILENT, QUIET, NORMAL or VERBOSE");
            LibraryLock lock;
            Cb::verbosity = level;
        },
        py::arg("level"), "The library's log on standard error: NORMAL (default), QUIET (warnings), SILENT, VERBOSE.");
    m.def("verbosity", [] {
        LibraryLock lock;
        return Cb::verbosity;
    });
}

}  // namespace

PYBIND11_MODULE(ztp, m) {
    m.doc() = kModuleDoc;
    m.attr("__version__") = CB_VERSION_STRING;
    registerErrors(m);
    bindFile(m);
    bindLayout(m);
    bindParticles(m);
    bindFields(m);
    bindBody(m);
    bindFunctions(m);
    // The module's hold on the library ends with the interpreter; objects
    // still alive keep it up until they go.
    py::module_::import("atexit").attr("register")(py::cpp_function([] { Session::releaseModuleReference(); }));
}
