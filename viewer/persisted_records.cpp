#include "viewer/persisted_records.h"

#include <charconv>
#include <cmath>
#include <limits>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace lumbrix {
namespace {

// A float widened as is prints as 0.20000000298023224; going through its shortest
// decimal form writes 0.2, which reads back as the same float.
double widenShortest(float value) {
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    double wide = value;
    std::from_chars(text, written.ptr, wide);
    return wide;
}

std::optional<QJsonValue> encodeFloat(float value) {
    if (!std::isfinite(value)) return std::nullopt;
    return QJsonValue(widenShortest(value));
}

std::optional<QJsonArray> encodeFloat3(const Float3& v) {
    const auto x = encodeFloat(v.x), y = encodeFloat(v.y), z = encodeFloat(v.z);
    if (!x || !y || !z) return std::nullopt;
    return QJsonArray{*x, *y, *z};
}

QByteArray compact(const QJsonDocument& document) { return document.toJson(QJsonDocument::Compact); }

std::optional<QJsonDocument> parse(const QByteArray& json) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || document.isNull()) return std::nullopt;
    return document;
}

// A number that does not fit a float is a decoding error, not infinity.
std::optional<float> decodeFloat(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double wide = value.toDouble();
    if (!std::isfinite(wide) || std::fabs(wide) > double(std::numeric_limits<float>::max())) return std::nullopt;
    return float(wide);
}

std::optional<Float3> decodeFloat3(const QJsonValue& value) {
    if (!value.isArray()) return std::nullopt;
    const QJsonArray array = value.toArray();
    if (array.size() != 3) return std::nullopt;
    const auto x = decodeFloat(array[0]), y = decodeFloat(array[1]), z = decodeFloat(array[2]);
    if (!x || !y || !z) return std::nullopt;
    return Float3{*x, *y, *z};
}

bool isBase64Character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Qt's own decoder tolerates missing padding and stray characters; stored data must not.
std::optional<QByteArray> decodeBase64(const QJsonValue& value) {
    if (!value.isString()) return std::nullopt;
    const QByteArray text = value.toString().toLatin1();
    if (text.size() % 4 != 0) return std::nullopt;
    qsizetype padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    for (qsizetype i = 0; i < text.size() - padding; ++i) {
        if (!isBase64Character(text[i])) return std::nullopt;
    }
    // toLatin1 turned any non-Latin-1 character into '?', which the loop rejected.
    return QByteArray::fromBase64(text);
}

QJsonValue encodeBase64(const QByteArray& bytes) { return QString::fromLatin1(bytes.toBase64()); }

// Whole numbers a spin box can hold; anything else is not a region we wrote.
std::optional<int> decodeInt(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    if (number != std::floor(number) || number < -1e9 || number > 1e9) return std::nullopt;
    return static_cast<int>(number);
}

QJsonValue encodeContent(const VenueContentSetting& content) {
    QJsonObject object;
    switch (content.kind) {
    case VenueContentKind::none:
        return QJsonValue(QJsonValue::Undefined);
    case VenueContentKind::canvasRegion:
        object.insert(QLatin1String("kind"), QLatin1String("region"));
        break;
    case VenueContentKind::ownSource:
        object.insert(QLatin1String("kind"), QLatin1String("source"));
        object.insert(QLatin1String("source"), QString::fromUtf8(sourceDescriptor(content.sourceMode).rawValue.data(),
                                                                 qsizetype(sourceDescriptor(content.sourceMode).rawValue.size())));
        object.insert(QLatin1String("path"), content.sourcePath);
        object.insert(QLatin1String("sender"), content.sender);
        break;
    }
    // Kept with an own source too, for when the venue goes back to its region.
    object.insert(QLatin1String("region"),
                  QJsonArray{content.region.x, content.region.y, content.region.width, content.region.height});
    return object;
}

VenueContentSetting decodeContent(const QJsonValue& value) {
    if (!value.isObject()) return {};
    const QJsonObject object = value.toObject();
    const QString kind = object.value(QLatin1String("kind")).toString();
    VenueContentSetting content;
    const QJsonArray numbers = object.value(QLatin1String("region")).toArray();
    std::optional<int> parts[4];
    for (int i = 0; i < 4 && numbers.size() == 4; ++i) parts[i] = decodeInt(numbers[i]);
    const bool hasRegion = parts[0] && parts[1] && parts[2] && parts[3];
    if (hasRegion) content.region = CanvasRegion{*parts[0], *parts[1], *parts[2], *parts[3]};
    if (kind == QLatin1String("region")) {
        if (!hasRegion) return {};
        content.kind = VenueContentKind::canvasRegion;
        return content;
    }
    if (kind == QLatin1String("source")) {
        const QJsonValue mode = object.value(QLatin1String("source"));
        const QJsonValue path = object.value(QLatin1String("path"));
        const QJsonValue sender = object.value(QLatin1String("sender"));
        if (!mode.isString() || !path.isString() || !sender.isString()) return {};
        const std::string raw = mode.toString().toStdString();
        for (const SourceDescriptor& descriptor : kSourceDescriptors) {
            if (descriptor.rawValue != raw) continue;
            content.kind = VenueContentKind::ownSource;
            content.sourceMode = descriptor.mode;
            content.sourcePath = path.toString();
            content.sender = sender.toString();
            return content;
        }
    }
    return {};
}

std::optional<PersistedVenue> decodeVenue(const QJsonValue& value) {
    if (!value.isObject()) return std::nullopt;
    const QJsonObject object = value.toObject();
    auto bookmark = decodeBase64(object.value(QLatin1String("bookmark")));
    const QJsonValue visible = object.value(QLatin1String("visible"));
    if (!bookmark || !visible.isBool()) return std::nullopt;
    return PersistedVenue{std::move(*bookmark), visible.toBool(), decodeContent(object.value(QLatin1String("content")))};
}

}  // namespace

const char* rawValue(PersistedModelKind kind) { return kind == PersistedModelKind::fbx ? "fbx" : "obj"; }

std::optional<PersistedModelKind> persistedModelKind(const QString& raw) {
    if (raw == QLatin1String("obj")) return PersistedModelKind::obj;
    if (raw == QLatin1String("fbx")) return PersistedModelKind::fbx;
    return std::nullopt;
}

std::optional<QByteArray> encodeCameraState(const CameraState& state) {
    const auto position = encodeFloat3(state.position), target = encodeFloat3(state.target);
    const auto yaw = encodeFloat(state.yaw), pitch = encodeFloat(state.pitch);
    const auto distance = encodeFloat(state.distance), fov = encodeFloat(state.fov);
    if (!position || !target || !yaw || !pitch || !distance || !fov) return std::nullopt;
    QJsonObject object;
    object.insert(QLatin1String("position"), *position);
    object.insert(QLatin1String("target"), *target);
    object.insert(QLatin1String("yaw"), *yaw);
    object.insert(QLatin1String("pitch"), *pitch);
    object.insert(QLatin1String("distance"), *distance);
    object.insert(QLatin1String("fov"), *fov);
    return compact(QJsonDocument(object));
}

std::optional<QByteArray> encodeLastModel(const PersistedLastModel& record) {
    QJsonObject object;
    object.insert(QLatin1String("kind"), QLatin1String(rawValue(record.kind)));
    object.insert(QLatin1String("bookmark"), encodeBase64(record.bookmark));
    return compact(QJsonDocument(object));
}

std::optional<QByteArray> encodeVenues(const std::vector<PersistedVenue>& records) {
    QJsonArray array;
    for (const PersistedVenue& record : records) {
        QJsonObject object;
        object.insert(QLatin1String("bookmark"), encodeBase64(record.bookmark));
        object.insert(QLatin1String("visible"), record.visible);
        if (record.content.kind != VenueContentKind::none) {
            object.insert(QLatin1String("content"), encodeContent(record.content));
        }
        array.append(object);
    }
    return compact(QJsonDocument(array));
}

std::optional<CameraState> decodeCameraState(const QByteArray& json) {
    const auto document = parse(json);
    if (!document || !document->isObject()) return std::nullopt;
    const QJsonObject object = document->object();
    const auto position = decodeFloat3(object.value(QLatin1String("position")));
    const auto target = decodeFloat3(object.value(QLatin1String("target")));
    const auto yaw = decodeFloat(object.value(QLatin1String("yaw")));
    const auto pitch = decodeFloat(object.value(QLatin1String("pitch")));
    const auto distance = decodeFloat(object.value(QLatin1String("distance")));
    const auto fov = decodeFloat(object.value(QLatin1String("fov")));
    if (!position || !target || !yaw || !pitch || !distance || !fov) return std::nullopt;
    CameraState state;
    state.position = *position;
    state.target = *target;
    state.yaw = *yaw;
    state.pitch = *pitch;
    state.distance = *distance;
    state.fov = *fov;
    return state;
}

std::optional<PersistedLastModel> decodeLastModel(const QByteArray& json) {
    const auto document = parse(json);
    if (!document || !document->isObject()) return std::nullopt;
    const QJsonObject object = document->object();
    const QJsonValue kindValue = object.value(QLatin1String("kind"));
    if (!kindValue.isString()) return std::nullopt;
    const auto kind = persistedModelKind(kindValue.toString());
    auto bookmark = decodeBase64(object.value(QLatin1String("bookmark")));
    if (!kind || !bookmark) return std::nullopt;
    return PersistedLastModel{*kind, std::move(*bookmark)};
}

std::optional<std::vector<PersistedVenue>> decodeVenues(const QByteArray& json) {
    const auto document = parse(json);
    if (!document || !document->isArray()) return std::nullopt;
    const QJsonArray array = document->array();
    std::vector<PersistedVenue> records;
    records.reserve(size_t(array.size()));
    for (const QJsonValue& value : array) {
        auto record = decodeVenue(value);
        if (!record) return std::nullopt;
        records.push_back(std::move(*record));
    }
    return records;
}

}  // namespace lumbrix
