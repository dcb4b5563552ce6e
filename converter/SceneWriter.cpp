#include "SceneWriter.h"

#include <cstring>
#include <algorithm>
#include <memory>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "Sequence.h"

namespace {

inline char* putWord(char* out, uint32_t value) {
    // Least significant byte first, high nibble first within a byte: spread
    // the nibbles so that byte k of `n` holds the digit of character k, then
    // turn all eight into ASCII at once.
    uint64_t y = value;
    y = (y | (y << 16)) & 0x0000FFFF0000FFFFull;
    y = (y | (y << 8)) & 0x00FF00FF00FF00FFull;
    const uint64_t n = ((y >> 4) & 0x000F000F000F000Full) | ((y & 0x000F000F000F000Full) << 8);
    const uint64_t letters = ((n + 0x0606060606060606ull) >> 4) & 0x0101010101010101ull;
    const uint64_t ascii = n + 0x3030303030303030ull + letters * 7;
    std::memcpy(out, &ascii, 8);
    return out + 8;
}

// Hex digits of `n` bytes (a multiple of 4) in memory order: the same as one
// putWord per 32-bit value of a little-endian array.
char* putBytes(char* out, const unsigned char* bytes, size_t n) {
    size_t i = 0;
#ifdef __SSE2__
    const __m128i low4 = _mm_set1_epi8(0x0F);
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i seven = _mm_set1_epi8(7);
    const __m128i zero = _mm_set1_epi8('0');
    for (; i + 16 <= n; i += 16) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i hi = _mm_and_si128(_mm_srli_epi16(in, 4), low4);
        const __m128i lo = _mm_and_si128(in, low4);
        __m128i a = _mm_unpacklo_epi8(hi, lo);
        __m128i b = _mm_unpackhi_epi8(hi, lo);
        a = _mm_add_epi8(_mm_add_epi8(a, zero), _mm_and_si128(_mm_cmpgt_epi8(a, nine), seven));
        b = _mm_add_epi8(_mm_add_epi8(b, zero), _mm_and_si128(_mm_cmpgt_epi8(b, nine), seven));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), b);
        out += 32;
    }
#endif
    for (; i < n; i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes + i, 4);
        out = putWord(out, word);
    }
    return out;
}

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
            out.commit(putBytes(p, reinterpret_cast<const unsigned char*>(run), bytes));
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
    putWord(out, value);
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
            out.commit(putWord(p, uint32_t(i)));
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
        putWord(word, bitsOf(radius));
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
