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

bool isZero(const Vec3& v) { return v.x == 0 && v.y == 0 && v.z == 0; }

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
    // Axes in the order they turn; column vectors put each later turn on the left.
    static constexpr int kAxes[6][3] = {{0, 1, 2}, {0, 2, 1}, {1, 2, 0}, {1, 0, 2}, {2, 0, 1}, {2, 1, 0}};
    const double angles[3] = {degrees.x, degrees.y, degrees.z};
    Matrix rotation;
    bool first = true;
    for (int axis : kAxes[static_cast<int>(order)]) {
        if (angles[axis] == 0) continue;
        rotation = first ? axisRotation(axis, angles[axis]) : axisRotation(axis, angles[axis]) * rotation;
        first = false;
    }
    return rotation;
}

Matrix transposed(const Matrix& matrix) {
    Matrix t;
    for (int column = 0; column < 4; ++column)
        for (int row = 0; row < 4; ++row) t.m[column * 4 + row] = matrix.m[row * 4 + column];
    return t;
}

Matrix localTransform(const NodeTransform& node) {
    Matrix rotation = eulerRotationMatrix(node.rotation, node.rotationOrder);
    if (!isZero(node.preRotation)) rotation = eulerRotationMatrix(node.preRotation, RotationOrder::xyz) * rotation;
    if (!isZero(node.postRotation))
        rotation = rotation * transposed(eulerRotationMatrix(node.postRotation, RotationOrder::xyz));

    // Every model pays for this, so the eleven factors fold by hand: translations
    // commute, which leaves T(before) x R x T(between) x S x T(-Sp).
    const Vec3& t = node.translation;
    const Vec3& s = node.scaling;
    const Vec3 before{t.x + node.rotationOffset.x + node.rotationPivot.x, t.y + node.rotationOffset.y + node.rotationPivot.y,
                      t.z + node.rotationOffset.z + node.rotationPivot.z};
    const Vec3 between{node.scalingOffset.x + node.scalingPivot.x - node.rotationPivot.x,
                       node.scalingOffset.y + node.scalingPivot.y - node.rotationPivot.y,
                       node.scalingOffset.z + node.scalingPivot.z - node.rotationPivot.z};
    // T(between) x S x T(-Sp) moves the origin to between - S * Sp.
    const double inner[3] = {between.x - s.x * node.scalingPivot.x, between.y - s.y * node.scalingPivot.y,
                             between.z - s.z * node.scalingPivot.z};
    const double scale[3] = {s.x, s.y, s.z};
    const double offset[3] = {before.x, before.y, before.z};
    Matrix local;
    for (int row = 0; row < 3; ++row) {
        double moved = offset[row];
        for (int column = 0; column < 3; ++column) {
            local.m[column * 4 + row] = rotation.m[column * 4 + row] * scale[column];
            moved += rotation.m[column * 4 + row] * inner[column];
        }
        local.m[12 + row] = moved;
    }
    return local;
}

Matrix geometricTransform(const NodeTransform& node) {
    return translationMatrix(node.geometricTranslation) *
           eulerRotationMatrix(node.geometricRotation, RotationOrder::xyz) * scalingMatrix(node.geometricScaling);
}

}  // namespace lumbrix::fbx
