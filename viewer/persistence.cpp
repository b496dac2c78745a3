#include "viewer/persistence.h"

#include <QFileInfo>
#include <QSettings>
#include <QVariant>

#include "viewer/bookmark.h"

namespace lumbrix {
namespace {

using Keys = PersistenceKeys;

bool isPresetSlot(int slot) { return slot >= 0 && slot < Persistence::kPresetSlots; }

QString presetKey(int slot) { return Keys::cameraPresetPrefix + QString::number(slot); }

// Read back from the file every value is text; a hand-edited or foreign value may be
// anything. Only clear yes-words and non-zero numbers count as true, so garbage never
// forces safe mode.
bool readBool(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toDouble() != 0.0;
    case QMetaType::QString: {
        const QString text = value.toString().trimmed();
        if (text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
            text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0) {
            return true;
        }
        bool isNumber = false;
        const double number = text.toDouble(&isNumber);
        return isNumber && number != 0.0;
    }
    default:
        return false;
    }
}

}  // namespace

Persistence::Persistence()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Lumbrix"),
                                            QStringLiteral("Lumbrix"))) {}

Persistence::Persistence(const QString& settingsFile)
    : settings_(std::make_unique<QSettings>(settingsFile, QSettings::NativeFormat)) {}

Persistence::~Persistence() = default;
Persistence::Persistence(Persistence&&) noexcept = default;
Persistence& Persistence::operator=(Persistence&&) noexcept = default;

QString Persistence::fileName() const { return settings_->fileName(); }

std::optional<QByteArray> Persistence::data(const QString& key) const {
    const QVariant value = settings_->value(key);
    // Like a typed "data for key" lookup: a value of another type is no data at all.
    if (value.typeId() != QMetaType::QByteArray) return std::nullopt;
    return value.toByteArray();
}

void Persistence::store(const QString& key, const QVariant& value) {
    settings_->setValue(key, value);
    settings_->sync();
}

void Persistence::remove(const QString& key) {
    settings_->remove(key);
    settings_->sync();
}

void Persistence::saveCameraState(const CameraState& state) {
    if (auto json = encodeCameraState(state)) store(Keys::lastCameraState, *json);
}

std::optional<CameraState> Persistence::loadCameraState() const {
    const auto json = data(Keys::lastCameraState);
    return json ? decodeCameraState(*json) : std::nullopt;
}

void Persistence::saveCameraPreset(int slot, const CameraState& state) {
    if (!isPresetSlot(slot)) return;
    auto json = encodeCameraState(state);
    if (!json) return;
    store(presetKey(slot), *json);
}

std::optional<CameraState> Persistence::loadCameraPreset(int slot) const {
    if (!isPresetSlot(slot)) return std::nullopt;
    const auto json = data(presetKey(slot));
    return json ? decodeCameraState(*json) : std::nullopt;
}

void Persistence::saveLastModel(PersistedModelKind kind, const QString& path) {
    if (storeRecord(kind, path)) setLaunchInProgress(false);
}

void Persistence::storeLastModelRecord(PersistedModelKind kind, const QString& path) { storeRecord(kind, path); }

bool Persistence::storeRecord(PersistedModelKind kind, const QString& path) {
    auto bookmark = makeBookmark(path);
    if (!bookmark) return false;
    auto json = encodeLastModel({kind, std::move(*bookmark)});
    if (!json) return false;
    store(Keys::lastModel, *json);
    return true;
}

std::optional<QString> Persistence::storedLastModelPath() const {
    const auto json = data(Keys::lastModel);
    if (!json) return std::nullopt;
    const auto record = decodeLastModel(*json);
    if (!record) return std::nullopt;
    const auto resolved = resolveBookmark(record->bookmark);
    if (!resolved) return std::nullopt;
    return resolved->path;
}

std::optional<LastModel> Persistence::loadLastModel() {
    const auto json = data(Keys::lastModel);
    if (!json) return std::nullopt;
    // Undecodable data stays: a later version may read what this one cannot.
    const auto record = decodeLastModel(*json);
    if (!record) return std::nullopt;

    const auto resolved = resolveBookmark(record->bookmark);
    if (!resolved) {
        remove(Keys::lastModel);
        return std::nullopt;
    }
    if (resolved->stale) {
        if (auto fresh = makeBookmark(resolved->path)) {
            if (auto refreshed = encodeLastModel({record->kind, std::move(*fresh)})) store(Keys::lastModel, *refreshed);
        }
    }
    startAccessing(resolved->path);
    if (QFileInfo::exists(resolved->path)) return LastModel{record->kind, resolved->path};
    stopAccessing(resolved->path);
    remove(Keys::lastModel);
    return std::nullopt;
}

void Persistence::clearLastModel() {
    if (const auto json = data(Keys::lastModel)) {
        if (const auto record = decodeLastModel(*json)) {
            if (const auto resolved = resolveBookmark(record->bookmark)) stopAccessing(resolved->path);
        }
    }
    remove(Keys::lastModel);
    setLaunchInProgress(false);
}

void Persistence::removeLastModelRecord() { remove(Keys::lastModel); }

void Persistence::releaseStoredLocations() {
    if (const auto json = data(Keys::lastModel)) {
        if (const auto record = decodeLastModel(*json)) {
            if (const auto resolved = resolveBookmark(record->bookmark)) stopAccessing(resolved->path);
        }
    }
    if (const auto bookmark = data(Keys::lastCaptureFolder)) {
        if (const auto resolved = resolveBookmark(*bookmark)) stopAccessing(resolved->path);
    }
}

void Persistence::saveVenues(const std::vector<VenueLocation>& venues) {
    if (venues.empty()) {
        remove(Keys::venues);
        return;
    }
    std::vector<PersistedVenue> records;
    records.reserve(venues.size());
    for (const VenueLocation& venue : venues) {
        if (auto bookmark = makeBookmark(venue.path)) {
            records.push_back({std::move(*bookmark), venue.visible, venue.content});
        }
    }
    // All venues failing still stores an empty array: the list itself was not empty.
    if (auto json = encodeVenues(records)) store(Keys::venues, *json);
}

std::vector<VenueLocation> Persistence::loadVenues() const {
    std::vector<VenueLocation> venues;
    const auto json = data(Keys::venues);
    if (!json) return venues;
    const auto records = decodeVenues(*json);
    if (!records) return venues;
    for (const PersistedVenue& record : *records) {
        // A stale venue bookmark is not refreshed here: the list is written again, with
        // fresh bookmarks, whenever it changes.
        const auto resolved = resolveBookmark(record.bookmark);
        if (!resolved) continue;
        startAccessing(resolved->path);
        if (QFileInfo::exists(resolved->path)) {
            venues.push_back({resolved->path, record.visible, record.content});
        } else {
            stopAccessing(resolved->path);
        }
    }
    return venues;
}

void Persistence::saveCaptureFolder(const QString& path) {
    if (auto bookmark = makeBookmark(path)) store(Keys::lastCaptureFolder, *bookmark);
}

std::optional<QString> Persistence::loadCaptureFolder() {
    const auto bookmark = data(Keys::lastCaptureFolder);
    if (!bookmark) return std::nullopt;
    const auto resolved = resolveBookmark(*bookmark);
    if (!resolved) {
        remove(Keys::lastCaptureFolder);
        return std::nullopt;
    }
    if (resolved->stale) {
        if (auto fresh = makeBookmark(resolved->path)) store(Keys::lastCaptureFolder, *fresh);
    }
    startAccessing(resolved->path);
    if (QFileInfo::exists(resolved->path)) return resolved->path;
    stopAccessing(resolved->path);
    remove(Keys::lastCaptureFolder);
    return std::nullopt;
}

void Persistence::addRecentFile(const QString& path, int limit) {
    QStringList files = recentFiles();
    files.removeAll(path);
    files.prepend(path);
    store(Keys::recentFiles, files.mid(0, limit));
}

QStringList Persistence::recentFiles() const {
    // Hand-edited values may hold anything; only non-empty absolute paths count.
    QStringList files;
    for (const QString& path : settings_->value(Keys::recentFiles).toStringList()) {
        if (QFileInfo(path).isAbsolute() && !files.contains(path)) files.append(path);
    }
    return files;
}

void Persistence::saveSidebarCollapsed(bool collapsed) { store(Keys::sidebarCollapsed, collapsed); }

bool Persistence::loadSidebarCollapsed() const { return readBool(settings_->value(Keys::sidebarCollapsed)); }

void Persistence::saveReloadFilesWhenChanged(bool reload) { store(Keys::reloadFilesWhenChanged, reload); }

bool Persistence::loadReloadFilesWhenChanged() const {
    const QVariant stored = settings_->value(Keys::reloadFilesWhenChanged);
    return !stored.isValid() || readBool(stored);
}

void Persistence::saveNDIBandwidth(NDIBandwidth bandwidth) {
    store(Keys::ndiBandwidth, bandwidth == NDIBandwidth::lowest ? QStringLiteral("lowest") : QStringLiteral("highest"));
}

NDIBandwidth Persistence::loadNDIBandwidth() const {
    return settings_->value(Keys::ndiBandwidth).toString() == QLatin1String("lowest") ? NDIBandwidth::lowest
                                                                                      : NDIBandwidth::highest;
}

void Persistence::saveNDIExtraIPs(const QString& list) { store(Keys::ndiExtraIPs, list); }

QString Persistence::loadNDIExtraIPs() const { return settings_->value(Keys::ndiExtraIPs).toString(); }

void Persistence::saveWindowGeometry(const QByteArray& geometry) { store(Keys::windowGeometry, geometry); }

std::optional<QByteArray> Persistence::loadWindowGeometry() const { return data(Keys::windowGeometry); }

bool Persistence::launchInProgress() const {
    return readBool(settings_->value(Keys::launchInProgress));
}

void Persistence::setLaunchInProgress(bool inProgress) { store(Keys::launchInProgress, inProgress); }

bool Persistence::beginLaunch() {
    const bool previousLaunchUnfinished = launchInProgress();
    setLaunchInProgress(true);
    return previousLaunchUnfinished;
}

void Persistence::endLaunch() { setLaunchInProgress(false); }

StartupPlan planStartup(bool previousLaunchUnfinished, bool shiftHeld) {
    StartupPlan plan;
    plan.safeMode = previousLaunchUnfinished || shiftHeld;
    plan.removeLastModelRecord = previousLaunchUnfinished;
    // With both, the unfinished launch is the message: it is what removed the record.
    if (previousLaunchUnfinished) {
        plan.message = QLatin1String(kSafeModeLaunchUnfinishedMessage);
    } else if (shiftHeld) {
        plan.message = QLatin1String(kSafeModeShiftMessage);
    }
    return plan;
}

}  // namespace lumbrix
