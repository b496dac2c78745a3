#pragma once
// Result records of the FBX importer: shared reference objects with plain accessors.
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fbx/page_memory.h"
#include "model/mesh.h"

namespace lumbrix {

// Merged triangle mesh: vertexCount records of FBXVertexPU and indexCount uint32 indices.
// The bytes are held in arrays the importer fills without zeroing them first; they
// offer data(), size() and empty() as a vector of bytes would.
class FBXImportedMesh {
public:
    using Bytes = PodArray<uint8_t>;

    const Bytes& vertexData() const { return vertexData_; }
    void setVertexData(Bytes bytes) { vertexData_ = std::move(bytes); }
    void setVertexData(const std::vector<uint8_t>& bytes) { vertexData_ = copyOf(bytes); }
    const Bytes& indexData() const { return indexData_; }
    void setIndexData(Bytes bytes) { indexData_ = std::move(bytes); }
    void setIndexData(const std::vector<uint8_t>& bytes) { indexData_ = copyOf(bytes); }
    int64_t vertexCount() const { return vertexCount_; }
    void setVertexCount(int64_t count) { vertexCount_ = count; }
    int64_t indexCount() const { return indexCount_; }
    void setIndexCount(int64_t count) { indexCount_ = count; }

    // The records as a Mesh, whole records only, in order: copied once into fresh
    // memory on huge pages, with no value-initialisation first (a resize and a memcpy
    // write every byte twice and fault page by page).
    Mesh toMesh() const {
        Mesh mesh;
        const auto* vertices = reinterpret_cast<const Vertex*>(vertexData_.data());
        const size_t vertexCount = vertexData_.size() / sizeof(Vertex);
        mesh.vertices.reserve(vertexCount);
        adviseHugePages(mesh.vertices.data(), vertexCount * sizeof(Vertex));
        mesh.vertices.insert(mesh.vertices.end(), vertices, vertices + vertexCount);
        const auto* indices = reinterpret_cast<const uint32_t*>(indexData_.data());
        const size_t indexCount = indexData_.size() / sizeof(uint32_t);
        mesh.indices.reserve(indexCount);
        adviseHugePages(mesh.indices.data(), indexCount * sizeof(uint32_t));
        mesh.indices.insert(mesh.indices.end(), indices, indices + indexCount);
        return mesh;
    }

private:
    static Bytes copyOf(const std::vector<uint8_t>& bytes) {
        Bytes copy(bytes.size());
        if (!bytes.empty()) std::memcpy(copy.data(), bytes.data(), bytes.size());
        return copy;
    }

    Bytes vertexData_;
    Bytes indexData_;
    int64_t vertexCount_ = 0;
    int64_t indexCount_ = 0;
};

class FBXImportedCamera {
public:
    const std::string& name() const { return name_; }
    void setName(std::string value) { name_ = std::move(value); }
    const std::array<float, 3>& position() const { return position_; }
    void setPosition(const std::array<float, 3>& value) { position_ = value; }
    const std::array<float, 3>& forward() const { return forward_; }
    void setForward(const std::array<float, 3>& value) { forward_ = value; }
    float fovYDegrees() const { return fovYDegrees_; }
    void setFovYDegrees(float value) { fovYDegrees_ = value; }
    float fovHDegrees() const { return fovHDegrees_; }
    void setFovHDegrees(float value) { fovHDegrees_ = value; }
    float nearPlane() const { return nearPlane_; }
    void setNearPlane(float value) { nearPlane_ = value; }
    float farPlane() const { return farPlane_; }
    void setFarPlane(float value) { farPlane_ = value; }
    float focalLengthMm() const { return focalLengthMm_; }
    void setFocalLengthMm(float value) { focalLengthMm_ = value; }
    float sensorWidthMm() const { return sensorWidthMm_; }
    void setSensorWidthMm(float value) { sensorWidthMm_ = value; }
    float sensorHeightMm() const { return sensorHeightMm_; }
    void setSensorHeightMm(float value) { sensorHeightMm_ = value; }

private:
    std::string name_;
    std::array<float, 3> position_{0.0f, 0.0f, 0.0f};
    std::array<float, 3> forward_{0.0f, 0.0f, 0.0f};
    float fovYDegrees_ = 0.0f;
    float fovHDegrees_ = 0.0f;
    float nearPlane_ = 0.0f;
    float farPlane_ = 0.0f;
    float focalLengthMm_ = 0.0f;
    float sensorWidthMm_ = 0.0f;
    float sensorHeightMm_ = 0.0f;
};

class FBXImportedScene {
public:
    // "FBX: —" with an em dash: the model panel's text before anything is known.
    static constexpr const char* kDefaultStatusText = "FBX: \u2014";

    const std::shared_ptr<FBXImportedMesh>& mesh() const { return mesh_; }
    void setMesh(std::shared_ptr<FBXImportedMesh> value) { mesh_ = std::move(value); }
    const std::vector<std::shared_ptr<FBXImportedCamera>>& cameras() const { return cameras_; }
    void setCameras(std::vector<std::shared_ptr<FBXImportedCamera>> value) { cameras_ = std::move(value); }
    int64_t sourceMeshCount() const { return sourceMeshCount_; }
    void setSourceMeshCount(int64_t value) { sourceMeshCount_ = value; }
    int64_t cameraCount() const { return cameraCount_; }
    void setCameraCount(int64_t value) { cameraCount_ = value; }
    const std::string& statusText() const { return statusText_; }
    void setStatusText(std::string value) { statusText_ = std::move(value); }
    const std::string& warningText() const { return warningText_; }
    void setWarningText(std::string value) { warningText_ = std::move(value); }

private:
    std::shared_ptr<FBXImportedMesh> mesh_;
    std::vector<std::shared_ptr<FBXImportedCamera>> cameras_;
    int64_t sourceMeshCount_ = 0;
    int64_t cameraCount_ = 0;
    std::string statusText_ = kDefaultStatusText;
    std::string warningText_;
};

}  // namespace lumbrix
