// libFuzzer entry: any bytes through the OBJ reader must load or fail cleanly,
// and whatever loads must be a well-formed mesh.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "model/obj_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto result =
        lumbrix::OBJLoader::loadFromMemory(std::string_view(reinterpret_cast<const char*>(data), size));
    if (result) {
        const lumbrix::Mesh& mesh = result.value();
        if (mesh.vertices.empty() || mesh.indices.empty() || mesh.indices.size() % 3 != 0) std::abort();
        for (const uint32_t index : mesh.indices) {
            if (index >= mesh.vertices.size()) std::abort();
        }
    } else if (lumbrix::describe(result.error()).empty()) {
        std::abort();
    }
    return 0;
}
