#include "fbx/fbx_scene.h"

namespace lumbrix::fbx {

Matrix Matrix::operator*(const Matrix& right) const {
    Matrix result;
    for (int column = 0; column < 4; ++column) {
        for (int row = 0; row < 4; ++row) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += m[k * 4 + row] * right.m[column * 4 + k];
            result.m[column * 4 + row] = sum;
        }
    }
    return result;
}

}  // namespace lumbrix::fbx
