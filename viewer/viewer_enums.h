#pragma once
// The view model's sets of cases and their lower-case raw values, the form in which
// they are stored and compared. A raw value that names no case yields none, and the
// caller keeps what it had.
#include <array>
#include <optional>
#include <string_view>

#include "render/renderer_uniforms.h"
#include "sources/source_registry.h"

namespace lumbrix {

enum class ModelKind { obj, fbx };

// Every case in picker order (the source modes come with their table).
inline constexpr std::array kAllModelKinds{ModelKind::obj, ModelKind::fbx};
inline constexpr std::array kAllFaceModes{FaceMode::both, FaceMode::front, FaceMode::back};
inline constexpr std::array kAllInactiveSideModes{InactiveSideMode::gray, InactiveSideMode::hide};

std::string_view rawValue(SourceMode mode);
std::string_view rawValue(ModelKind kind);
std::string_view rawValue(FaceMode mode);
std::string_view rawValue(InactiveSideMode mode);

std::optional<SourceMode> sourceModeFromRaw(std::string_view raw);
std::optional<ModelKind> modelKindFromRaw(std::string_view raw);
std::optional<FaceMode> faceModeFromRaw(std::string_view raw);
std::optional<InactiveSideMode> inactiveSideModeFromRaw(std::string_view raw);

}  // namespace lumbrix
