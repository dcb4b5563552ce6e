#include "HexText.h"

#include <cstring>

#ifdef __x86_64__
#include <immintrin.h>
#endif

namespace {

// Digits of the bytes [i, n) one 32-bit word at a time.
char* wordsText(char* out, const unsigned char* bytes, size_t i, size_t n) {
    for (; i < n; i += 4) {
        uint32_t word;
        std::memcpy(&word, bytes + i, 4);
        out = hexWordText(out, word);
    }
    return out;
}

#ifdef __x86_64__
// Sixteen bytes into 32 digits: the nibbles of each byte spread into two
// bytes, high first, then mapped through a digit table.
char* sse2Text(char* out, const unsigned char* bytes, size_t n) {
    const __m128i low4 = _mm_set1_epi8(0x0F);
    const __m128i nine = _mm_set1_epi8(9);
    const __m128i seven = _mm_set1_epi8(7);
    const __m128i zero = _mm_set1_epi8('0');
    size_t i = 0;
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
    return wordsText(out, bytes, i, n);
}

// Thirty-two bytes into 64 digits per step.
__attribute__((target("avx2"))) char* avx2Text(char* out, const unsigned char* bytes, size_t n) {
    const __m256i digits = _mm256_setr_epi8('0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B', 'C', 'D',
                                            'E', 'F', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'A', 'B',
                                            'C', 'D', 'E', 'F');
    const __m256i low4 = _mm256_set1_epi16(0x000F);
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        // Each byte widened to 16 bits: its low byte becomes the high nibble,
        // its high byte the low nibble, so the digits come out in order.
        __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i)));
        __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i + 16)));
        a = _mm256_or_si256(_mm256_srli_epi16(a, 4), _mm256_slli_epi16(_mm256_and_si256(a, low4), 8));
        b = _mm256_or_si256(_mm256_srli_epi16(b, 4), _mm256_slli_epi16(_mm256_and_si256(b, low4), 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_shuffle_epi8(digits, a));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32), _mm256_shuffle_epi8(digits, b));
        out += 64;
    }
    return sse2Text(out, bytes + i, n - i);
}

const bool kAvx2 = __builtin_cpu_supports("avx2");
#endif

}  // namespace

char* hexWordText(char* out, uint32_t value) {
    // Spread the nibbles so that byte k holds the digit of character k, then
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

char* hexBytesText(char* out, const void* bytes, size_t n) {
    const auto* b = static_cast<const unsigned char*>(bytes);
#ifdef __x86_64__
    return kAvx2 ? avx2Text(out, b, n) : sse2Text(out, b, n);
#else
    return wordsText(out, b, 0, n);
#endif
}
