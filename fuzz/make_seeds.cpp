// Writes the starting corpora of the harnesses into a folder:
//   ztp/  small caches made with the library's own writer, each a few
//         kilobytes (under libFuzzer's default input size), holding what large
//         samples never let the fuzzer reach: every value type, every
//         particle, buffer and field channel type, and the mesh shapes Point,
//         Edge, Triangle and Tet; compressed and stored raw.
//   qel/  one file per line of fuzz/seeds/qel.txt.
//   sig/  the repository's signatures and fuzz/seeds/*.sig.
// Usage: fuzz_seeds <output-folder> <source-folder>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "RichBodies.h"
#include "cb/io/ZtpWriter.h"
#include "cb/model/Body.h"

namespace fs = std::filesystem;

namespace {

using Build = std::function<void(Cb::Body&)>;

std::unique_ptr<Cb::Body> smallBody(const std::string& name, const std::vector<zt::vec3i>& tiles, const Build& build) {
    auto body = std::make_unique<Cb::Body>(name);
    body->setSignatureName("Particle-Liquid");
    testsupport::setRichLayout(*body, 2, tiles);
    build(*body);
    return body;
}

void writeCache(const fs::path& path, const std::vector<Cb::Body*>& bodies, bool compress) {
    Cb::ZtpWriter writer;
    writer.open(path.string());
    for (Cb::Body* body : bodies) writer.writeBody(*body, "*.*", compress);
    writer.close();
    std::printf("%s: %ju bytes\n", path.c_str(), std::uintmax_t(fs::file_size(path)));
}

void writeCaches(const fs::path& dir) {
    fs::create_directories(dir);
    const std::vector<zt::vec3i> one = {{{0, 0, 0}}};
    const auto values = smallBody("Values", one, [](Cb::Body& b) {
        const float m[16] = {2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0.5f, 0, 1.25f, -2, 3, 1};
        b.setTransformMatrix(m);
        b.setExtraText("seed");
        testsupport::addRichValues(b);
    });
    const auto particles = smallBody("Particles", one, [](Cb::Body& b) { testsupport::addRichParticles(b, 12); });
    const auto meshes = smallBody("Meshes", one, [](Cb::Body& b) { testsupport::addRichMeshes(b, 6, 2, 2); });
    const auto fields = smallBody("Fields", one, [](Cb::Body& b) { testsupport::addRichFields(b); });
    const auto plain = testsupport::makePlainBody("Plain");
    for (bool compress : {true, false}) {
        const std::string suffix = compress ? ".ztp" : "-raw.ztp";
        writeCache(dir / ("values" + suffix), {values.get()}, compress);
        writeCache(dir / ("particles" + suffix), {particles.get()}, compress);
        writeCache(dir / ("meshes" + suffix), {meshes.get()}, compress);
        writeCache(dir / ("fields" + suffix), {fields.get()}, compress);
        writeCache(dir / ("two-bodies" + suffix), {plain.get(), values.get()}, compress);
    }
    writeCache(dir / "empty.ztp", {}, true);
}

void splitLines(const fs::path& from, const fs::path& dir) {
    fs::create_directories(dir);
    std::ifstream in(from);
    if (!in) throw std::runtime_error("cannot read " + from.string());
    std::string line;
    for (int n = 0; std::getline(in, line);)
        if (!line.empty()) std::ofstream(dir / (std::to_string(n++) + ".qel")) << line;
}

void copySignatures(const std::vector<fs::path>& folders, const fs::path& dir) {
    fs::create_directories(dir);
    for (const fs::path& folder : folders)
        for (const auto& entry : fs::directory_iterator(folder))
            if (entry.path().extension() == ".sig")
                fs::copy_file(entry.path(), dir / entry.path().filename(), fs::copy_options::overwrite_existing);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s output_folder source_folder\n", argv[0]);
        return 1;
    }
    const fs::path out = argv[1], source = argv[2];
    try {
        fuzzsupport::initialize();
        {
            fuzzsupport::Library library;
            writeCaches(out / "ztp");
        }
        splitLines(source / "fuzz/seeds/qel.txt", out / "qel");
        copySignatures({source / "share/corix/server/standard-sig", source / "fuzz/seeds"}, out / "sig");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fuzz_seeds: %s\n", e.what());
        return 1;
    }
    return 0;
}
