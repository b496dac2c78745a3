#include "fbx/scene_builder.h"

#include <type_traits>
#include <utility>

#include "fbx/scene_properties.h"
#include "fbx/scene_transform.h"

namespace lumbrix::fbx {

std::unique_ptr<Scene> SceneBuilder::build(std::string& error) {
    auto scene = std::make_unique<Scene>();
    scene->version_ = document_.version();
    const Node& root = document_.root();
    if (const Node* objects = root.child("Objects")) collectObjects(*objects);
    if (const Node* connections = root.child("Connections")) readConnections(*connections);
    createModelObjects(*scene);
    resolveHierarchy();
    if (!buildMeshes(*scene, error)) return nullptr;
    buildCameras(*scene);
    return scene;
}

bool SceneBuilder::countMeshes(int& meshes, std::string& error) {
    meshes = 0;
    Scene scene;
    const Node& root = document_.root();
    if (const Node* objects = root.child("Objects")) collectObjects(*objects);
    if (const Node* connections = root.child("Connections")) readConnections(*connections);
    createModelObjects(scene);
    // Transforms and cameras change no count and cannot fail: only the geometry is looked at.
    for (ModelRecord& model : models_) {
        if (!model.mesh) continue;
        GeometryRecord& geometry = geometries_[static_cast<size_t>(model.geometry)];
        if (!geometry.decoded) {
            if (!checkGeometry(*geometry.node, error)) return false;
            geometry.decoded = true;
        }
        ++meshes;
    }
    return true;
}

const SceneBuilder::Ref* SceneBuilder::find(uint64_t id) const {
    auto it = ids_.find(id);
    return it == ids_.end() ? nullptr : &it->second;
}

void SceneBuilder::collectObjects(const Node& objects) {
    // Only these four kinds feed the scene: deformers, animation, video and
    // everything else are passed over unread, which is all the skip flags ask.
    for (const Node* node = objects.firstChild(); node; node = node->nextSibling()) {
        std::string_view type = node->name();
        Role role;
        if (type == "Model") role = Role::model;
        else if (type == "Geometry") role = Role::geometry;
        else if (type == "NodeAttribute") role = Role::cameraAttribute;
        else if (type == "Material") role = Role::material;
        else continue;
        if (node->propertyCount() < 1) continue;
        const uint64_t id = static_cast<uint64_t>(node->property(0).toInt64());
        if (id == 0) continue;  // the scene root's id; no object may take it
        std::string_view objectClass = propertyText(*node, 2);
        if (role == Role::geometry && objectClass != "Mesh") continue;
        if (role == Role::cameraAttribute && objectClass != "Camera") continue;

        uint32_t index = 0;
        if (role == Role::model) index = static_cast<uint32_t>(models_.size());
        else if (role == Role::geometry) index = static_cast<uint32_t>(geometries_.size());
        else if (role == Role::cameraAttribute) index = static_cast<uint32_t>(cameraAttributes_.size());
        // A repeated id cannot be told apart in the connections: the first object keeps it.
        if (!ids_.emplace(id, Ref{role, index}).second) continue;

        if (role == Role::model) {
            ModelRecord& model = models_.emplace_back();
            model.id = id;
            model.node = node;
            model.meshClass = objectClass == "Mesh";
        } else if (role == Role::geometry) {
            geometries_.emplace_back().node = node;
        } else if (role == Role::cameraAttribute) {
            AttributeRecord& attribute = cameraAttributes_.emplace_back();
            attribute.id = id;
            attribute.node = node;
        }
    }
}

void SceneBuilder::readConnections(const Node& connections) {
    for (const Node* c = connections.firstChild(); c; c = c->nextSibling()) {
        if (c->name() != "C" || c->propertyCount() < 3 || c->property(0).toStringView() != "OO") continue;
        const Ref* child = find(static_cast<uint64_t>(c->property(1).toInt64()));
        if (!child) continue;
        const uint64_t parentId = static_cast<uint64_t>(c->property(2).toInt64());
        int parentModel = -1;
        if (parentId != 0) {
            const Ref* parent = find(parentId);
            if (!parent || parent->role != Role::model) continue;
            parentModel = static_cast<int>(parent->index);
        }
        switch (child->role) {
        case Role::model: {
            // The first usable connection places a model; a model cannot be its own parent.
            ModelRecord& model = models_[child->index];
            if (model.parentKnown || parentModel == static_cast<int>(child->index)) break;
            model.parentKnown = true;
            model.parent = parentModel;
            model.underRoot = parentModel < 0;
            break;
        }
        case Role::geometry:
            if (parentModel >= 0 && models_[static_cast<size_t>(parentModel)].geometry < 0)
                models_[static_cast<size_t>(parentModel)].geometry = static_cast<int>(child->index);
            break;
        case Role::cameraAttribute:
            if (parentModel >= 0 && cameraAttributes_[child->index].model < 0)
                cameraAttributes_[child->index].model = parentModel;
            break;
        case Role::material:
            if (parentModel >= 0) ++models_[static_cast<size_t>(parentModel)].materialCount;
            break;
        }
    }
}

void SceneBuilder::createModelObjects(Scene& scene) {
    const bool binary = document_.isBinary();
    scene.objects_.reserve(models_.size() + cameraAttributes_.size());
    for (ModelRecord& model : models_) {
        std::unique_ptr<Object> object;
        if (model.meshClass && model.geometry >= 0) {
            auto mesh = std::make_unique<Mesh>();
            model.mesh = mesh.get();
            ++geometries_[static_cast<size_t>(model.geometry)].users;
            object = std::move(mesh);
            object->kind_ = ObjectKind::mesh;
        } else {
            object = std::make_unique<Object>();
            object->kind_ = ObjectKind::model;
        }
        object->id_ = model.id;
        object->name_ = objectName(propertyText(*model.node, 1), binary);
        model.object = object.get();
        scene.objects_.push_back(std::move(object));
    }
}

void SceneBuilder::resolveHierarchy() {
    // Parents first, walking each chain with an explicit list: the file
    // controls the depth, so no recursion, and a chain that closes on itself is
    // cut at the link that closed it.
    enum : uint8_t { fresh, onChain, done };
    std::vector<uint8_t> state(models_.size(), fresh);
    std::vector<int> chain;
    for (size_t start = 0; start < models_.size(); ++start) {
        chain.clear();
        int at = static_cast<int>(start);
        while (at >= 0 && state[static_cast<size_t>(at)] == fresh) {
            state[static_cast<size_t>(at)] = onChain;
            chain.push_back(at);
            at = models_[static_cast<size_t>(at)].parent;
        }
        if (at >= 0 && state[static_cast<size_t>(at)] == onChain) {
            ModelRecord& last = models_[static_cast<size_t>(chain.back())];
            last.parent = -1;
            last.underRoot = false;
        }
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            ModelRecord& model = models_[static_cast<size_t>(*it)];
            NodeTransform transform;
            readNodeTransform(*model.node, transform);
            const Matrix local = localTransform(transform);
            if (model.parent >= 0) {
                const ModelRecord& parent = models_[static_cast<size_t>(model.parent)];
                model.object->parent_ = parent.object;
                model.object->globalTransform_ = parent.object->globalTransform_ * local;
                model.reachesRoot = parent.reachesRoot;
            } else {
                model.object->globalTransform_ = local;
                model.reachesRoot = model.underRoot;
            }
            if (model.mesh) model.mesh->geometricMatrix_ = geometricTransform(transform);
            state[static_cast<size_t>(*it)] = done;
        }
    }
}

bool SceneBuilder::buildMeshes(Scene& scene, std::string& error) {
    for (ModelRecord& model : models_) {
        if (!model.mesh) continue;
        GeometryRecord& geometry = geometries_[static_cast<size_t>(model.geometry)];
        if (!geometry.decoded) {
            if (!decodeGeometry(*geometry.node, geometry.data, error)) return false;
            geometry.decoded = true;
        }
        DecodedGeometry& source = geometry.data;
        GeometryData& target = model.mesh->geometry_;
        // The last model instancing a geometry takes its arrays; the others copy.
        const bool last = --geometry.users == 0;
        target.partitions_ = partitionByMaterial(last ? std::move(source.polygons) : source.polygons,
                                                 source.materialMapping, source.materials, model.materialCount);
        target.uvCount_ = source.hasUvs ? static_cast<int>(source.vertexIndices.size()) : 0;
        auto take = [last](auto& from, auto& to) {
            if (last) to = std::move(from);
            else to = from.clone();
        };
        take(source.positions, target.positionValues_);
        take(source.vertexIndices, target.positionIndices_);
        take(source.uvValues, target.uvValues_);
        take(source.uvIndices, target.uvIndices_);
        scene.meshes_.push_back(model.mesh);
    }
    return true;
}

void SceneBuilder::buildCameras(Scene& scene) {
    const bool binary = document_.isBinary();
    for (const AttributeRecord& attribute : cameraAttributes_) {
        if (attribute.model < 0) continue;
        const ModelRecord& model = models_[static_cast<size_t>(attribute.model)];
        // Writers keep system cameras (MotionBuilder's "Producer" views) outside the scene.
        if (!model.reachesRoot) continue;
        auto camera = std::make_unique<Camera>();
        camera->id_ = attribute.id;
        camera->name_ = objectName(propertyText(*attribute.node, 1), binary);
        camera->kind_ = ObjectKind::camera;
        camera->parent_ = model.object;
        camera->globalTransform_ = model.object->globalTransform_;
        CameraValues values{camera->focalLength_, camera->filmWidth_, camera->filmHeight_, camera->nearPlane_,
                            camera->farPlane_};
        readCameraValues(*attribute.node, values);
        camera->focalLength_ = values.focalLength;
        camera->filmWidth_ = values.filmWidth;
        camera->filmHeight_ = values.filmHeight;
        camera->nearPlane_ = values.nearPlane;
        camera->farPlane_ = values.farPlane;
        scene.cameras_.push_back(camera.get());
        scene.objects_.push_back(std::move(camera));
    }
}

}  // namespace lumbrix::fbx
