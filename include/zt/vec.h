#pragma once
// zt::vec<N,T>: a plain array of N components (x, y, z, w order). Its memory
// image is exactly N * sizeof(T) bytes, which the file formats rely on.

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace zt {

template <int N, class T>
struct vec {
    static_assert(N >= 2 && N <= 4, "vectors have 2, 3 or 4 components");
    using value_type = T;
    static constexpr int size = N;

    T v[N];

    constexpr T& operator[](int i) { return v[i]; }
    constexpr const T& operator[](int i) const { return v[i]; }

    constexpr T& x() { return v[0]; }
    constexpr T& y() { return v[1]; }
    constexpr T& z() requires(N >= 3) { return v[2]; }
    constexpr T& w() requires(N >= 4) { return v[3]; }
    constexpr const T& x() const { return v[0]; }
    constexpr const T& y() const { return v[1]; }
    constexpr const T& z() const requires(N >= 3) { return v[2]; }
    constexpr const T& w() const requires(N >= 4) { return v[3]; }

    friend constexpr bool operator==(const vec& a, const vec& b) {
        for (int i = 0; i < N; ++i)
            if (!(a.v[i] == b.v[i])) return false;
        return true;
    }
};

using vec2i = vec<2, int>;
using vec2f = vec<2, float>;
using vec3i = vec<3, int>;
using vec3f = vec<3, float>;
using vec4i = vec<4, int>;
using vec4f = vec<4, float>;

static_assert(sizeof(vec3f) == 12 && std::is_trivially_copyable_v<vec3f>);
static_assert(sizeof(vec4i) == 16 && std::is_trivially_copyable_v<vec4i>);

template <class T> struct is_vec : std::false_type {};
template <int N, class T> struct is_vec<vec<N, T>> : std::true_type {};

// Number of components of an element type (1 for scalars).
template <class T> struct components { static constexpr int value = 1; };
template <int N, class T> struct components<vec<N, T>> { static constexpr int value = N; };

// Scalar type of an element type.
template <class T> struct scalar_of { using type = T; };
template <int N, class T> struct scalar_of<vec<N, T>> { using type = T; };

}  // namespace zt
