#pragma once
// The stored records and their JSON form.
//
// Decoding follows a strict typed decoder: every field must be present with its type,
// unknown keys are ignored, key order does not matter, bookmarks are padded standard
// Base64. Anything else is "none", never an exception.
#include <optional>
#include <vector>

#include <QByteArray>

#include "render/camera_state.h"

namespace lumbrix {

enum class PersistedModelKind { obj, fbx };

struct PersistedLastModel {
    PersistedModelKind kind = PersistedModelKind::obj;
    QByteArray bookmark;

    friend bool operator==(const PersistedLastModel&, const PersistedLastModel&) = default;
};

struct PersistedVenue {
    QByteArray bookmark;
    bool visible = true;

    friend bool operator==(const PersistedVenue&, const PersistedVenue&) = default;
};

// "obj" / "fbx".
const char* rawValue(PersistedModelKind kind);
std::optional<PersistedModelKind> persistedModelKind(const QString& raw);

// Compact JSON. Encoding fails (none) only for a camera value that is not finite, which
// JSON numbers cannot carry.
std::optional<QByteArray> encodeCameraState(const CameraState& state);
std::optional<QByteArray> encodeLastModel(const PersistedLastModel& record);
std::optional<QByteArray> encodeVenues(const std::vector<PersistedVenue>& records);

std::optional<CameraState> decodeCameraState(const QByteArray& json);
std::optional<PersistedLastModel> decodeLastModel(const QByteArray& json);
// One bad element fails the whole array, as a typed array decoder does.
std::optional<std::vector<PersistedVenue>> decodeVenues(const QByteArray& json);

}  // namespace lumbrix
