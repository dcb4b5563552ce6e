#pragma once
// The txscene writer: the four list parameters of a GeomParticleSystem plugin
// in their hexadecimal form (each 32-bit value as eight upper-case hex digits
// of its little-endian bytes), or in the plain text form when hex is false.
// Every writer returns false as soon as a write fails.

#include <cstdint>
#include <cstdio>

class Sequence;

// Minimum x, y, z then maximum x, y, z of the written positions. The minima
// start at 100000 and the maxima at -100000, so an empty export keeps them.
struct BoundingBox {
    float min[3] = {100000.0f, 100000.0f, 100000.0f};
    float max[3] = {-100000.0f, -100000.0f, -100000.0f};

    // min takes the coordinate when min >= it, max unless max > it; so a NaN
    // leaves the minimum and makes the maximum NaN.
    void widen(const float p[3]) {
        for (int a = 0; a < 3; ++a) {
            if (min[a] >= p[a]) min[a] = p[a];
            if (!(max[a] > p[a])) max[a] = p[a];
        }
    }
};

// The eight characters of one 32-bit value and a terminating zero.
void hexWord(uint32_t value, char out[9]);
void hexWord(float value, char out[9]);

// Positions: widens `box` by every element.
bool writeListVectorHex(FILE* file, Sequence& positions, const char* listName, BoundingBox& box,
                        bool hex, float keyTime);
// Velocities: every component multiplied by *scale.
bool writeListVectorHex(FILE* file, Sequence& velocities, const char* listName, const float* scale,
                        bool hex, float keyTime);
// The running numbers 0 .. count - 1.
bool writeListIntHex(FILE* file, int count, bool hex, float keyTime);
// `radius`, count times.
bool writeListFloatHex(FILE* file, float radius, int count, bool hex, float keyTime);
