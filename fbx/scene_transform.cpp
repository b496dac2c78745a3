#include "fbx/scene_transform.h"

#include <cmath>
#include <numbers>

namespace lumbrix::fbx {
namespace {

// Writers store axis swaps as whole quarter turns; exact sines keep the zeros
// of such matrices exact instead of 6e-17.
void sineCosine(double degrees, double& sine, double& cosine) {
    if (std::isfinite(degrees) && std::fmod(degrees, 90.0) == 0.0) {
        double quarter = std::fmod(degrees / 90.0, 4.0);
        if (quarter < 0) quarter += 4.0;
        static constexpr double kSine[4] = {0, 1, 0, -1};
        static constexpr double kCosine[4] = {1, 0, -1, 0};
        int q = static_cast<int>(quarter);
        sine = kSine[q];
        cosine = kCosine[q];
        return;
    }
    double radians = degrees * (std::numbers::pi / 180.0);
    sine = std::sin(radians);
    cosine = std::cos(radians);
}

Matrix axisRotation(int axis, double degrees) {
    double s = 0, c = 1;
    sineCosine(degrees, s, c);
    Matrix r;
    // The two axes turned, in right-handed order: X turns Y to Z, Y turns Z to X, Z turns X to Y.
    int a = (axis + 1) % 3;
    int b = (axis + 2) % 3;
    r.m[a * 4 + a] = c;
    r.m[a * 4 + b] = s;
    r.m[b * 4 + a] = -s;
    r.m[b * 4 + b] = c;
    return r;
}

}  // namespace

RotationOrder rotationOrderFromEnum(int64_t value) {
    if (value < 0 || value > 5) return RotationOrder::xyz;
    return static_cast<RotationOrder>(value);
}

Matrix translationMatrix(const Vec3& t) {
    Matrix m;
    m.m[12] = t.x;
    m.m[13] = t.y;
    m.m[14] = t.z;
    return m;
}

Matrix scalingMatrix(const Vec3& s) {
    Matrix m;
    m.m[0] = s.x;
    m.m[5] = s.y;
    m.m[10] = s.z;
    return m;
}

Matrix eulerRotationMatrix(const Vec3& degrees, RotationOrder order) {
    if (degrees.x == 0 && degrees.y == 0 && degrees.z == 0) return Matrix{};
    Matrix x = axisRotation(0, degrees.x);
    Matrix y = axisRotation(1, degrees.y);
    Matrix z = axisRotation(2, degrees.z);
    // Column vectors: the rotation applied first stands rightmost.
    switch (order) {
    case RotationOrder::xyz: return z * y * x;
    case RotationOrder::xzy: return y * z * x;
    case RotationOrder::yzx: return x * z * y;
    case RotationOrder::yxz: return z * x * y;
    case RotationOrder::zxy: return y * x * z;
    case RotationOrder::zyx: return x * y * z;
    }
    return z * y * x;
}

Matrix transposed(const Matrix& matrix) {
    Matrix t;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) t.m[column * 4 + row] = matrix.m[row * 4 + column];
    return t;
}

Matrix localTransform(const NodeTransform& node) {
    auto negated = [](const Vec3& v) { return Vec3{-v.x, -v.y, -v.z}; };
    Matrix rotationPart = translationMatrix(node.rotationPivot) *
                          eulerRotationMatrix(node.preRotation, RotationOrder::xyz) *
                          eulerRotationMatrix(node.rotation, node.rotationOrder) *
                          transposed(eulerRotationMatrix(node.postRotation, RotationOrder::xyz)) *
                          translationMatrix(negated(node.rotationPivot));
    Matrix scalingPart = translationMatrix(node.scalingOffset) * translationMatrix(node.scalingPivot) *
                         scalingMatrix(node.scaling) * translationMatrix(negated(node.scalingPivot));
    return translationMatrix(node.translation) * translationMatrix(node.rotationOffset) * rotationPart *
           scalingPart;
}

Matrix geometricTransform(const NodeTransform& node) {
    return translationMatrix(node.geometricTranslation) *
           eulerRotationMatrix(node.geometricRotation, RotationOrder::xyz) * scalingMatrix(node.geometricScaling);
}

}  // namespace lumbrix::fbx
