#include "tools/inspect/inspect_report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <sstream>
#include <thread>

#include "model/fbx_scene_importer.h"
#include "model/obj_loader.h"
#include "tools/inspect/json_text.h"

namespace lumbrix::inspect {

namespace {

std::string lowerExtension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext;
}

Report failure(std::string kind, std::vector<std::string> messages) {
    Report report;
    report.kind = std::move(kind);
    report.messages = std::move(messages);
    return report;
}

std::string jsonVector(const std::array<float, 3>& v) {
    return "[" + jsonFloat(v[0]) + "," + jsonFloat(v[1]) + "," + jsonFloat(v[2]) + "]";
}

std::string textVector(const std::array<float, 3>& v) {
    std::ostringstream out;
    out << "(" << v[0] << ", " << v[1] << ", " << v[2] << ")";
    return out.str();
}

}  // namespace

ModelFormat formatForPath(const std::string& path) {
    const std::string ext = lowerExtension(path);
    if (ext == "obj") return ModelFormat::obj;
    if (ext == "fbx") return ModelFormat::fbx;
    return ModelFormat::unknown;
}

namespace {

// The bounds of one run of vertices: each component the least (greatest) value
// that is not NaN, the first seen of equal ones; NaN when there is none.
Bounds boundsOf(const Vertex* vertices, size_t count) {
    Bounds bounds;
    bounds.min.fill(NAN);
    bounds.max.fill(NAN);
    for (size_t i = 0; i < count; ++i) {
        const Vertex& vertex = vertices[i];
        for (int axis = 0; axis < 3; ++axis) {
            const float value = vertex.position[axis];
            if (std::isnan(value)) continue;
            if (std::isnan(bounds.min[axis]) || value < bounds.min[axis]) bounds.min[axis] = value;
            if (std::isnan(bounds.max[axis]) || value > bounds.max[axis]) bounds.max[axis] = value;
        }
    }
    return bounds;
}

// Below this many vertices one thread reads them all.
constexpr size_t kParallelVertices = size_t(1) << 18;

}  // namespace

std::optional<Bounds> meshBounds(const Vertex* vertices, size_t count) {
    if (count == 0) return std::nullopt;
    if (count < kParallelVertices || std::thread::hardware_concurrency() < 2) return boundsOf(vertices, count);
    // Two halves at once, then the later half's values only where they are strictly
    // beyond the earlier half's: the same choice among equal values (0 and -0) as
    // one pass from the start.
    const size_t half = count / 2;
    Bounds later;
    std::thread worker([&] { later = boundsOf(vertices + half, count - half); });
    Bounds bounds = boundsOf(vertices, half);
    worker.join();
    for (int axis = 0; axis < 3; ++axis) {
        const float lo = later.min[axis], hi = later.max[axis];
        if (!std::isnan(lo) && (std::isnan(bounds.min[axis]) || lo < bounds.min[axis])) bounds.min[axis] = lo;
        if (!std::isnan(hi) && (std::isnan(bounds.max[axis]) || hi > bounds.max[axis])) bounds.max[axis] = hi;
    }
    return bounds;
}

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        result.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return result;
        start = end + 1;
    }
}

Report inspectFBX(const std::string& path) {
    auto imported = FBXSceneImporter::loadSceneFromURL(path);
    if (!imported) {
        const Error& error = imported.error();
        return failure(error.code == FBXSceneImporter::readFailed ? "read" : "import", lines(error.description));
    }
    const FBXImportedScene& scene = *imported.value();
    Report report;
    report.ok = true;
    report.format = "fbx";
    report.sourceMeshCount = scene.sourceMeshCount();
    report.status = scene.statusText();
    report.warning = scene.warningText();
    report.cameras = scene.cameras();
    if (const auto& mesh = scene.mesh()) {
        report.vertices = static_cast<size_t>(mesh->vertexCount());
        report.indices = static_cast<size_t>(mesh->indexCount());
        const auto& bytes = mesh->vertexData();
        if (bytes.size() / sizeof(Vertex) >= report.vertices) {
            // The importer's bytes are whole FBXVertexPU records, as aligned as any
            // allocation: read in place, no copy.
            report.bounds = meshBounds(reinterpret_cast<const Vertex*>(bytes.data()), report.vertices);
        } else {
            // Fewer bytes than records: the missing ones are default vertices.
            std::vector<Vertex> vertices(report.vertices);
            std::memcpy(static_cast<void*>(vertices.data()), bytes.data(), bytes.size());
            report.bounds = meshBounds(vertices.data(), vertices.size());
        }
    }
    return report;
}

}  // namespace

Report inspectFile(const std::string& path) {
    switch (formatForPath(path)) {
        case ModelFormat::fbx:
            return inspectFBX(path);
        case ModelFormat::unknown:
            return failure("unsupported", {"Unsupported file type (expected an .obj or .fbx file): " + path});
        case ModelFormat::obj:
            break;
    }
    auto loaded = OBJLoader::load(path);
    if (!loaded) {
        const OBJLoadError& error = loaded.error();
        if (const auto* system = std::get_if<Error>(&error)) return failure("read", {system->description});
        const OBJError& objError = std::get<OBJError>(error);
        switch (objError.errorCase) {
            case OBJErrorCase::invalidUTF8: return failure("invalid-utf8", objError.messages);
            case OBJErrorCase::validationFailed: return failure("validation", objError.messages);
            case OBJErrorCase::parseFailed: return failure("parse", objError.messages);
        }
    }
    const Mesh& mesh = loaded.value();
    Report report;
    report.ok = true;
    report.format = "obj";
    report.vertices = mesh.vertices.size();
    report.indices = mesh.indices.size();
    report.bounds = meshBounds(mesh);
    return report;
}

std::string toJson(const Report& report) {
    if (!report.ok) {
        return "{\"ok\":false,\"kind\":" + jsonString(report.kind) +
               ",\"messages\":" + jsonStringArray(report.messages) + "}";
    }
    std::string json = "{\"ok\":true,\"format\":" + jsonString(report.format) +
                       ",\"vertices\":" + std::to_string(report.vertices) +
                       ",\"indices\":" + std::to_string(report.indices) +
                       ",\"triangles\":" + std::to_string(report.indices / 3);
    if (report.bounds) {
        json += ",\"min\":" + jsonVector(report.bounds->min) + ",\"max\":" + jsonVector(report.bounds->max);
    }
    if (report.format == "fbx") {
        json += ",\"meshes\":" + std::to_string(report.sourceMeshCount) + ",\"status\":" + jsonString(report.status) +
                ",\"warning\":" + jsonString(report.warning) + ",\"cameras\":[";
        for (size_t i = 0; i < report.cameras.size(); ++i) {
            const FBXImportedCamera& c = *report.cameras[i];
            if (i > 0) json += ",";
            json += "{\"name\":" + jsonString(c.name()) + ",\"position\":" + jsonVector(c.position()) +
                    ",\"forward\":" + jsonVector(c.forward()) + ",\"fovHDegrees\":" + jsonFloat(c.fovHDegrees()) +
                    ",\"fovYDegrees\":" + jsonFloat(c.fovYDegrees()) + ",\"nearPlane\":" + jsonFloat(c.nearPlane()) +
                    ",\"farPlane\":" + jsonFloat(c.farPlane()) + ",\"focalLengthMm\":" + jsonFloat(c.focalLengthMm()) +
                    ",\"sensorWidthMm\":" + jsonFloat(c.sensorWidthMm()) +
                    ",\"sensorHeightMm\":" + jsonFloat(c.sensorHeightMm()) + "}";
        }
        json += "]";
    }
    json += "}";
    return json;
}

std::string toText(const std::string& path, const Report& report) {
    std::ostringstream out;
    if (!report.ok) {
        out << path << ": cannot be loaded (" << report.kind << ")\n";
        for (const auto& message : report.messages) out << "  " << message << "\n";
        return out.str();
    }
    out << path << "\n";
    out << "  format:    " << report.format << "\n";
    out << "  vertices:  " << report.vertices << "\n";
    out << "  triangles: " << report.indices / 3 << " (" << report.indices << " indices)\n";
    if (report.bounds) {
        out << "  bounds:    min " << textVector(report.bounds->min) << "  max " << textVector(report.bounds->max)
            << "\n";
    }
    if (report.format == "fbx") {
        out << "  meshes in file: " << report.sourceMeshCount << "\n";
        out << "  status:    " << report.status << "\n";
        if (!report.warning.empty()) out << "  warning:   " << report.warning << "\n";
        out << "  cameras:   " << report.cameras.size() << "\n";
        for (const auto& camera : report.cameras) {
            out << "    " << camera->name() << ": position " << textVector(camera->position()) << ", forward "
                << textVector(camera->forward()) << ", fov " << camera->fovHDegrees() << " x " << camera->fovYDegrees()
                << " deg, focal " << camera->focalLengthMm() << " mm, sensor " << camera->sensorWidthMm() << " x "
                << camera->sensorHeightMm() << " mm, clip " << camera->nearPlane() << " .. " << camera->farPlane()
                << "\n";
        }
    }
    return out.str();
}

}  // namespace lumbrix::inspect
