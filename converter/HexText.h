#pragma once
// The hexadecimal text of 32-bit values that every txscene list holds: each
// value's four bytes in little-endian memory order, two upper-case digits per
// byte, high nibble first (1.0f is "0000803F", the integer 1 "01000000").

#include <cstddef>
#include <cstdint>

// The eight characters of one value; returns the position after them.
char* hexWordText(char* out, uint32_t value);

// The 2 × n characters of n bytes (a multiple of 4), the same as hexWordText
// of each 32-bit word in memory order. Uses AVX2 where the processor has it.
char* hexBytesText(char* out, const void* bytes, size_t n);
