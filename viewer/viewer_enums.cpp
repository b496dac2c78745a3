#include "viewer/viewer_enums.h"

namespace lumbrix {
namespace {

template <typename Cases>
std::optional<typename Cases::value_type> fromRaw(const Cases& cases, std::string_view raw) {
    for (auto value : cases) {
        if (rawValue(value) == raw) return value;
    }
    return std::nullopt;
}

}  // namespace

std::string_view rawValue(SourceMode mode) { return sourceDescriptor(mode).rawValue; }

std::string_view rawValue(ModelKind kind) { return kind == ModelKind::obj ? "obj" : "fbx"; }

std::string_view rawValue(FaceMode mode) {
    switch (mode) {
    case FaceMode::both: return "both";
    case FaceMode::front: return "front";
    case FaceMode::back: return "back";
    }
    return {};
}

std::string_view rawValue(InactiveSideMode mode) { return mode == InactiveSideMode::gray ? "gray" : "hide"; }

std::optional<SourceMode> sourceModeFromRaw(std::string_view raw) { return fromRaw(kAllSourceModes, raw); }
std::optional<ModelKind> modelKindFromRaw(std::string_view raw) { return fromRaw(kAllModelKinds, raw); }
std::optional<FaceMode> faceModeFromRaw(std::string_view raw) { return fromRaw(kAllFaceModes, raw); }
std::optional<InactiveSideMode> inactiveSideModeFromRaw(std::string_view raw) {
    return fromRaw(kAllInactiveSideModes, raw);
}

}  // namespace lumbrix
