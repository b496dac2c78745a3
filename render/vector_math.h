#pragma once
// The few vector and matrix types the camera and renderer need. Everything is single
// precision: camera numbers are persisted and compared as floats, and doubles here
// would make saved viewpoints drift on a round trip.
#include <array>
#include <cmath>

namespace lumbrix {

struct Float3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    friend bool operator==(const Float3&, const Float3&) = default;

    Float3& operator+=(const Float3& o) { x += o.x; y += o.y; z += o.z; return *this; }
    Float3& operator-=(const Float3& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
};

inline Float3 operator+(Float3 a, const Float3& b) { return a += b; }
inline Float3 operator-(Float3 a, const Float3& b) { return a -= b; }
inline Float3 operator-(const Float3& a) { return {-a.x, -a.y, -a.z}; }
inline Float3 operator*(const Float3& a, float s) { return {a.x * s, a.y * s, a.z * s}; }
inline Float3 operator*(float s, const Float3& a) { return {s * a.x, s * a.y, s * a.z}; }

inline float dot(const Float3& a, const Float3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

inline Float3 cross(const Float3& a, const Float3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

inline float length(const Float3& a) { return std::sqrt(dot(a, a)); }

// No guard against zero length: callers keep their inputs away from it (the camera's
// pitch clamp), and a silent fallback direction would hide the bug.
inline Float3 normalize(const Float3& a) {
    float len = length(a);
    return {a.x / len, a.y / len, a.z / len};
}

struct Float4 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
    float w = 0.0f;

    friend bool operator==(const Float4&, const Float4&) = default;
};

// Column-major, so the bytes go to a std140 uniform block unchanged.
struct Float4x4 {
    std::array<Float4, 4> columns{};

    static Float4x4 identity() {
        return {{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}}};
    }

    friend bool operator==(const Float4x4&, const Float4x4&) = default;
};

static_assert(sizeof(Float4x4) == 64, "Float4x4 must be 16 tightly packed floats");

inline Float4 operator*(const Float4x4& m, const Float4& v) {
    const auto& c = m.columns;
    return {c[0].x * v.x + c[1].x * v.y + c[2].x * v.z + c[3].x * v.w,
            c[0].y * v.x + c[1].y * v.y + c[2].y * v.z + c[3].y * v.w,
            c[0].z * v.x + c[1].z * v.y + c[2].z * v.z + c[3].z * v.w,
            c[0].w * v.x + c[1].w * v.y + c[2].w * v.z + c[3].w * v.w};
}

inline Float4x4 operator*(const Float4x4& a, const Float4x4& b) {
    Float4x4 r;
    for (size_t i = 0; i < 4; ++i) {
        r.columns[i] = a * b.columns[i];
    }
    return r;
}

}  // namespace lumbrix
