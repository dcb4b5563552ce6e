#include "SceneWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "HexText.h"
#include "Sequence.h"

namespace {

inline uint32_t bitsOf(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// Lists are encoded into this buffer and written in large pieces; the first
// failed write sticks and makes the list writer return false.
class ListOut {
public:
    static constexpr size_t kSize = size_t(1) << 20;

    explicit ListOut(FILE* file) : file_(file), buffer_(new char[kSize]) {}

    // Room for at least `n` more characters.
    char* reserve(size_t n) {
        if (used_ + n > kSize) drain();
        return buffer_.get() + used_;
    }
    void commit(char* end) { used_ = size_t(end - buffer_.get()); }

    void text(const char* s, size_t n) {
        if (n > kSize) {
            drain();
            if (ok_ && std::fwrite(s, 1, n, file_) != n) ok_ = false;
            return;
        }
        char* p = reserve(n);
        std::memcpy(p, s, n);
        commit(p + n);
    }

    template <class... Args>
    void format(const char* fmt, Args... args) {
        char local[256];
        int n = std::snprintf(local, sizeof local, fmt, args...);
        if (n < 0) {
            ok_ = false;
            return;
        }
        if (size_t(n) < sizeof local) {
            text(local, size_t(n));
        } else {
            std::vector<char> big(size_t(n) + 1);
            std::snprintf(big.data(), big.size(), fmt, args...);
            text(big.data(), size_t(n));
        }
    }

    // Writes what is buffered and flushes the stream so that a failure shows
    // here, at the list that caused it.
    bool finish() {
        drain();
        if (ok_ && std::fflush(file_) != 0) ok_ = false;
        return ok_;
    }

    bool ok() const { return ok_; }

private:
    void drain() {
        if (used_ > 0 && ok_ && std::fwrite(buffer_.get(), 1, used_, file_) != used_) ok_ = false;
        used_ = 0;
    }

    FILE* file_;
    std::unique_ptr<char[]> buffer_;
    size_t used_ = 0;
    bool ok_ = true;
};

struct Vec3 {
    float x, y, z;
};

bool writeVectorList(FILE* file, Sequence& seq, const char* listName, BoundingBox* box, const float* scale,
                     bool hex, float keyTime) {
    ListOut out(file);
    const int32_t count = seq.count();
    seq.rewind();
    if (hex) {
        out.format("  %s=interpolate((%f, ListVectorHex(\"", listName, double(keyTime));
        // Runs of elements are encoded straight from the sequence's blocks;
        // scaled velocities go through a small local copy first.
        constexpr int32_t kRun = 4096;
        std::vector<Vec3> scaled(scale ? size_t(kRun) : 0);
        int32_t left = count;
        while (left > 0 && out.ok()) {
            int32_t n = 0;
            const Vec3* run = static_cast<const Vec3*>(seq.nextRun(std::min(left, kRun), &n));
            if (!run) break;
            left -= n;
            if (box)
                for (int32_t i = 0; i < n; ++i) box->widen(&run[i].x);
            if (scale) {
                const float s = *scale;
                for (int32_t i = 0; i < n; ++i) scaled[size_t(i)] = {run[i].x * s, run[i].y * s, run[i].z * s};
                run = scaled.data();
            }
            const size_t bytes = size_t(n) * sizeof(Vec3);
            char* p = out.reserve(2 * bytes);
            out.commit(hexBytesText(p, run, bytes));
        }
        out.text("\")));\n", 6);
    } else {
        out.format("  %s=interpolate((%f,\n    ListVector(\n", listName, double(keyTime));
        for (int32_t i = 0; i < count && out.ok(); ++i) {
            Vec3 v = *seq.nextAs<Vec3>();
            if (box) box->widen(&v.x);
            if (scale) v = {v.x * *scale, v.y * *scale, v.z * *scale};
            if (i + 1 < count)
                out.format("      Vector(%f,%f,%f),\n", double(v.x), double(v.y), double(v.z));
            else
                out.format("      Vector(%f,%f,%f)\n", double(v.x), double(v.y), double(v.z));
        }
        out.text("  ))\n    );\n", 12);
    }
    return out.finish();
}

}  // namespace

void hexWord(uint32_t value, char out[9]) {
    hexWordText(out, value);
    out[8] = '\0';
}

void hexWord(float value, char out[9]) { hexWord(bitsOf(value), out); }

bool writeListVectorHex(FILE* file, Sequence& positions, const char* listName, BoundingBox& box, bool hex,
                        float keyTime) {
    return writeVectorList(file, positions, listName, &box, nullptr, hex, keyTime);
}

bool writeListVectorHex(FILE* file, Sequence& velocities, const char* listName, const float* scale, bool hex,
                        float keyTime) {
    return writeVectorList(file, velocities, listName, nullptr, scale, hex, keyTime);
}

bool writeListIntHex(FILE* file, int count, bool hex, float keyTime) {
    ListOut out(file);
    if (hex) {
        out.format("  ids=interpolate((%f, ListIntHex(\"", double(keyTime));
        for (int i = 0; i < count && out.ok(); ++i) {
            char* p = out.reserve(8);
            out.commit(hexWordText(p, uint32_t(i)));
        }
        out.text("\")));\n", 6);
    } else {
        out.format("  ids=interpolate((%f, ListInt(", double(keyTime));
        for (int i = 0; i + 1 < count && out.ok(); ++i) out.format("%d,", i);
        if (count > 0)
            out.format("%d)));\n", count - 1);
        else
            out.text(")));\n", 5);
    }
    return out.finish();
}

bool writeListFloatHex(FILE* file, float radius, int count, bool hex, float keyTime) {
    ListOut out(file);
    if (hex) {
        out.format("  radii=interpolate((%f, ListFloatHex(\"", double(keyTime));
        char word[8];
        hexWordText(word, bitsOf(radius));
        for (int i = 0; i < count && out.ok(); ++i) {
            char* p = out.reserve(8);
            std::memcpy(p, word, 8);
            out.commit(p + 8);
        }
        out.text("\")));\n", 6);
    } else {
        out.format("  radii=interpolate((%f, ListFloat(", double(keyTime));
        for (int i = 0; i + 1 < count && out.ok(); ++i) out.format("%f,", double(radius));
        if (count > 0)
            out.format("%f)));\n", double(radius));
        else
            out.text(")));\n", 5);
    }
    return out.finish();
}
