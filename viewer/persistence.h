#pragma once
// What the viewer remembers between runs, kept in the per-user settings store
// (QSettings, native format, organisation and application "Lumbrix": on Linux the file
// Lumbrix/Lumbrix.conf under $XDG_CONFIG_HOME or ~/.config).
//
// No operation reports an error: missing keys, undecodable values, bookmarks that do not
// resolve and files that have gone make it return none or an empty list. Every write is
// flushed at once, so a crash right after it, above all during start-up while the launch
// flag is set, still finds it on the next run.
//
// Locations are absolute local paths. Main thread only.
#include <memory>
#include <optional>
#include <vector>

#include <QString>
#include <QStringList>

#include "render/camera_state.h"
#include "sources/ndi_settings.h"
#include "viewer/persisted_records.h"

class QSettings;
class QVariant;

namespace lumbrix {

// The store's keys; preset n is under cameraPresetPrefix followed by n in decimal.
struct PersistenceKeys {
    static inline const QString launchInProgress = QStringLiteral("lumbrix.launchInProgress");
    static inline const QString lastModel = QStringLiteral("lastModelRecord");
    static inline const QString venues = QStringLiteral("venuesRecord");
    static inline const QString lastCameraState = QStringLiteral("lastCameraState");
    static inline const QString cameraPresetPrefix = QStringLiteral("cameraPreset_");
    static inline const QString lastCaptureFolder = QStringLiteral("lastCaptureFolder");
    static inline const QString recentFiles = QStringLiteral("recentFiles");
    static inline const QString sidebarCollapsed = QStringLiteral("sidebarCollapsed");
    static inline const QString windowGeometry = QStringLiteral("windowGeometry");
    static inline const QString ndiBandwidth = QStringLiteral("ndiBandwidth");
    static inline const QString ndiExtraIPs = QStringLiteral("ndiExtraIPs");
    static inline const QString reloadFilesWhenChanged = QStringLiteral("reloadFilesWhenChanged");
};

struct LastModel {
    PersistedModelKind kind = PersistedModelKind::obj;
    QString path;

    friend bool operator==(const LastModel&, const LastModel&) = default;
};

struct VenueLocation {
    QString path;
    bool visible = true;
    VenueContentSetting content{};

    friend bool operator==(const VenueLocation&, const VenueLocation&) = default;
};

class Persistence {
public:
    static constexpr int kPresetSlots = 10;

    // The user's store.
    Persistence();
    // A store in the given file (same format); for tests and tools that must not touch
    // the user's settings.
    explicit Persistence(const QString& settingsFile);
    ~Persistence();
    Persistence(Persistence&&) noexcept;
    Persistence& operator=(Persistence&&) noexcept;

    // Where the store lives on disk.
    QString fileName() const;

    void saveCameraState(const CameraState& state);
    std::optional<CameraState> loadCameraState() const;

    // Slots outside 0...9 store and load nothing.
    void saveCameraPreset(int slot, const CameraState& state);
    std::optional<CameraState> loadCameraPreset(int slot) const;

    // Also ends the launch: once a model has loaded and been stored, a later crash is
    // not the model's fault.
    void saveLastModel(PersistedModelKind kind, const QString& path);
    // The record alone, leaving the launch flag to start-up (the FBX load's way).
    void storeLastModelRecord(PersistedModelKind kind, const QString& path);
    // Where the stored record points, without touching the store or checking the file.
    std::optional<QString> storedLastModelPath() const;
    // Removes the record when its bookmark no longer resolves or its file is gone.
    std::optional<LastModel> loadLastModel();
    // The user cleared the model: ends access, removes the record, ends the launch.
    void clearLastModel();
    // Safe mode after an unfinished launch: only the record goes.
    void removeLastModelRecord();
    // Releases access to the stored model and capture folder at shutdown; failures ignored.
    void releaseStoredLocations();

    // An empty list removes the record; a venue whose bookmark cannot be made is left out.
    void saveVenues(const std::vector<VenueLocation>& venues);
    // In stored order, skipping records that do not resolve or whose file is gone.
    std::vector<VenueLocation> loadVenues() const;

    void saveCaptureFolder(const QString& path);
    // Removes the key when the bookmark no longer resolves or nothing is at the path.
    std::optional<QString> loadCaptureFolder();

    // `path` first, without an older entry for it, keeping the newest `limit`.
    void addRecentFile(const QString& path, int limit);
    // Newest first, as stored: files that have gone are the caller's to judge.
    QStringList recentFiles() const;

    void saveSidebarCollapsed(bool collapsed);
    // False when absent.
    bool loadSidebarCollapsed() const;

    void saveReloadFilesWhenChanged(bool reload);
    // True when absent: a new version on disk is what users expect to see.
    bool loadReloadFilesWhenChanged() const;

    void saveNDIBandwidth(NDIBandwidth bandwidth);
    // Highest when absent or unknown: the full picture is what a check of content needs.
    NDIBandwidth loadNDIBandwidth() const;
    // The finder's extra addresses as normalizeExtraIPs makes them; empty when absent.
    void saveNDIExtraIPs(const QString& list);
    QString loadNDIExtraIPs() const;

    // The window's QWidget::saveGeometry() bytes.
    void saveWindowGeometry(const QByteArray& geometry);
    std::optional<QByteArray> loadWindowGeometry() const;

    // False when absent or not a boolean.
    bool launchInProgress() const;
    void setLaunchInProgress(bool inProgress);
    // Start of start-up: returns whether the previous start-up was left unfinished and
    // sets the flag for this one.
    bool beginLaunch();
    // End of start-up, safe or not, and shutdown.
    void endLaunch();

private:
    std::optional<QByteArray> data(const QString& key) const;
    void store(const QString& key, const QVariant& value);
    bool storeRecord(PersistedModelKind kind, const QString& path);
    void remove(const QString& key);

    std::unique_ptr<QSettings> settings_;
};

// What start-up does about restoring, decided from the launch flag read at its beginning
// and whether Shift is held when restoring would begin.
struct StartupPlan {
    bool safeMode = false;
    // Remove "lastModelRecord": only when the previous start-up did not finish, so a
    // Shift start after a clean run keeps the model for the next start.
    bool removeLastModelRecord = false;
    // In safe mode the capture line; empty otherwise.
    QString message;
};

inline constexpr const char* kSafeModeLaunchUnfinishedMessage =
    "Safe Mode: last model cleared (previous launch did not finish).";
inline constexpr const char* kSafeModeShiftMessage = "Safe Mode: model loading skipped (Shift).";

StartupPlan planStartup(bool previousLaunchUnfinished, bool shiftHeld);

}  // namespace lumbrix
