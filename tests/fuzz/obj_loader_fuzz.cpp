// libFuzzer entry: any bytes through the OBJ reader must load or fail cleanly,
// whatever loads must be a well-formed mesh, and the one-thread, two-thread and
// general-rules-only readers must agree byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "model/obj_geometry.h"

namespace {

lumbrix::Expected<lumbrix::Mesh, lumbrix::OBJError> parse(const std::string& text, lumbrix::OBJThreading threading,
                                                          bool fastPaths = true) {
    lumbrix::OBJGeometryOptions options;
    options.threading = threading;
    options.fastPaths = fastPaths;
    return lumbrix::parseOBJText(text.data(), text.size(), options);
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
    const auto single = parse(text, lumbrix::OBJThreading::single);
    const auto parallel = parse(text, lumbrix::OBJThreading::parallel);
    const auto reference = parse(text, lumbrix::OBJThreading::single, false);
    if (!single) {
        check(!single.error().messages.empty());
        for (const auto* other : {&parallel, &reference}) {
            check(!other->hasValue());
            check(single.error().errorCase == other->error().errorCase);
            check(single.error().messages == other->error().messages);
        }
        return 0;
    }
    const lumbrix::Mesh& mesh = single.value();
    check(!mesh.vertices.empty() && !mesh.indices.empty() && mesh.indices.size() % 3 == 0);
    for (const uint32_t index : mesh.indices) check(index < mesh.vertices.size());
    for (const auto* other : {&parallel, &reference}) {
        check(other->hasValue());
        check(other->value().indices == mesh.indices && other->value().vertices.size() == mesh.vertices.size());
        check(std::memcmp(other->value().vertices.data(), mesh.vertices.data(),
                          mesh.vertices.size() * sizeof(lumbrix::Vertex)) == 0);
    }
    return 0;
}
