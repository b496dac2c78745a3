#pragma once
// An indexed triangle list: every three indices form one triangle, in file winding.
#include <cstdint>
#include <vector>

#include "model/vertex.h"

namespace lumbrix {

struct Mesh {
    std::vector<Vertex> vertices;
    std::vector<uint32_t> indices;

    size_t triangleCount() const { return indices.size() / 3; }
};

}  // namespace lumbrix
