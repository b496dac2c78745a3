#pragma once
// The stored records and their JSON form.
//
// Decoding follows a strict typed decoder: every field must be present with its type,
// unknown keys are ignored, key order does not matter, bookmarks are padded standard
// Base64. Anything else is "none", never an exception.
#include <optional>
#include <vector>

#include <QByteArray>
#include <QString>

#include "render/camera_state.h"
#include "render/venue_content.h"
#include "sources/source_registry.h"

namespace lumbrix {

enum class PersistedModelKind { obj, fbx };

struct PersistedLastModel {
    PersistedModelKind kind = PersistedModelKind::obj;
    QByteArray bookmark;

    friend bool operator==(const PersistedLastModel&, const PersistedLastModel&) = default;
};

// What a venue shows, as the user set it. The own source is named, not held: it is made
// again from this at every start.
struct VenueContentSetting {
    VenueContentKind kind = VenueContentKind::none;
    CanvasRegion region;                        // canvasRegion
    SourceMode sourceMode = SourceMode::image;  // ownSource
    QString sourcePath;                         // ownSource of a file kind; empty: none chosen yet
    QString sender;                             // ownSource over NDI; empty: none chosen yet

    friend bool operator==(const VenueContentSetting&, const VenueContentSetting&) = default;
};

struct PersistedVenue {
    QByteArray bookmark;
    bool visible = true;
    // Stored under a key of its own that earlier versions ignore; a record without it, or
    // with one this version cannot read, shows nothing on the venue.
    VenueContentSetting content{};

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
