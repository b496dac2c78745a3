#pragma once
// The one state object of a viewer window: every panel reads and writes its fields, the
// 3D view copies them into the renderer on each update, and it carries out the user's
// actions (sources, transport, models and venues, persistence, capture).
//
// Every field write emits changed(field), also when the value stays the same, so a
// view bound to a field always redraws. Everything runs on the GUI thread; handlers
// that can outlive a call (timers, panels, delayed tasks, audio callbacks) hold the
// view model through a QPointer and do nothing once it is gone.
//
// The model loading and venue operations live in viewer_model_loading.cpp, the capture
// actions in viewer_capture_actions.cpp.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include "model/fbx_imported_scene.h"
#include "model/mesh.h"
#include "platform/error.h"
#include "platform/expected.h"
#include "platform/main_queue.h"
#include "render/orbit_camera.h"
#include "sources/texture_source.h"
#include "viewer/capture_bridge.h"
#include "viewer/file_picker.h"
#include "viewer/file_watch.h"
#include "viewer/notification_center.h"
#include "viewer/persistence.h"
#include "viewer/recording_session.h"
#include "viewer/source_kinds.h"
#include "viewer/varnel_check.h"
#include "viewer/viewer_enums.h"

class QTimer;

namespace lumbrix {

class AudioCapture;
class NDIReceiver;

// A venue mesh drawn around the model. The id is made when the entry is added and
// never stored.
struct VenueEntry {
    QUuid id;
    QString url;
    std::shared_ptr<const Mesh> mesh;
    bool visible = true;
    VenueContentSetting content;
    // Made from `content` while it names an own source; stopped when the entry goes.
    std::shared_ptr<TextureSource> source;
};

// A region's place on the canvas when nothing tells us the canvas's size.
inline constexpr CanvasRegion kDefaultCanvas{0, 0, 1920, 1080};

// How long a closing window waits for its recording's file to be finished before it
// leaves the file as a crash would.
inline constexpr std::chrono::seconds kRecordingFinishLimit{15};

// Everything the view model reaches outside itself. Empty members take the
// program's defaults.
struct ViewerDependencies {
    std::shared_ptr<MainQueue> mainQueue;               // the Qt event loop
    std::shared_ptr<NDIReceiver> receiver;              // a new receiver on mainQueue
    SourceMakers sourceMakers;                          // the real sources
    std::function<bool()> isShiftHeld;                  // never held
    NotificationCenter* notifications = nullptr;        // the default center
    std::optional<QString> settingsFile;                // the user's settings store
    std::optional<QString> executableDir;               // the running program's folder
    std::chrono::milliseconds varnelTimeout = kVarnelTimeout;
    std::shared_ptr<FilePicker> filePicker;             // none: choosing does nothing
    std::function<QDateTime()> now;                     // the local clock
    std::chrono::milliseconds recordingFinishLimit = kRecordingFinishLimit;
    // Where captures go until a folder is chosen; empty takes userCaptureFolder(), and
    // an answer of none leaves the user to choose one.
    std::function<std::optional<QString>()> defaultCaptureFolder;
    // How long a changed file must stay unchanged before it is reloaded.
    std::chrono::milliseconds fileSettleTime = kFileSettleTime;
};

// What a model file that would not load shows: the alert's lines, the model status and,
// when not empty, the capture line.
struct ModelReadFailure {
    QStringList errors;
    QString status;
    QString captureMessage;
};

// The "Lumbrix" folder in the user's videos folder (XDG_VIDEOS_DIR of user-dirs.dirs,
// else ~/Videos); none without a home.
std::optional<QString> userCaptureFolder();

// How many files File → Open Recent offers.
inline constexpr int kRecentFileLimit = 10;

class ViewerViewModel final : public QObject {
    Q_OBJECT

public:
    // The published fields, in declaration order.
    enum class Field {
        receiver,
        isCameraLocked,
        sourceMode,
        isPlaying,
        isLooping,
        showUVGrid,
        uvGridDensity,
        showFloorGrid,
        faceMode,
        inactiveSideMode,
        fovDegrees,
        scrubSeconds,
        durationSeconds,
        isScrubbing,
        fitRequestID,
        modelKind,
        modelStatusText,
        validationErrors,
        showValidationAlert,
        venues,
        fbxURL,
        fbxCameras,
        selectedFBXCameraIndex,
        fbxCameraStatus,
        captureFolderURL,
        captureFPS,
        isRecording,
        isMicEnabled,
        lastCaptureMessage,
        micGainDB,
        videoGainDB,
        micLevel,
        videoLevel,
        isSourceExpanded,
        isModelExpanded,
        isCaptureExpanded,
        isVenueExpanded,
        isSidebarCollapsed,
        objURL,
        fileURL,
        imageURL,
        mesh,
        activeSource,
        reloadFilesWhenChanged,
    };
    Q_ENUM(Field)

    using Dependencies = ViewerDependencies;

    static constexpr std::chrono::milliseconds kUITimerInterval{100};
    static constexpr std::chrono::milliseconds kFitDelay{100};

    ViewerViewModel();
    explicit ViewerViewModel(Dependencies dependencies, QObject* parent = nullptr);
    ~ViewerViewModel() override;

    // --- published fields ---------------------------------------------------------
    const std::shared_ptr<NDIReceiver>& receiver() const { return receiver_; }
    bool isCameraLocked() const { return isCameraLocked_; }
    void setIsCameraLocked(bool value) { write(Field::isCameraLocked, isCameraLocked_, value); }
    SourceMode sourceMode() const { return sourceMode_; }
    void setSourceMode(SourceMode value) { write(Field::sourceMode, sourceMode_, value); }
    bool isPlaying() const { return isPlaying_; }
    void setIsPlaying(bool value) { write(Field::isPlaying, isPlaying_, value); }
    bool isLooping() const { return isLooping_; }
    void setIsLooping(bool value) { write(Field::isLooping, isLooping_, value); }
    bool showUVGrid() const { return showUVGrid_; }
    void setShowUVGrid(bool value) { write(Field::showUVGrid, showUVGrid_, value); }
    double uvGridDensity() const { return uvGridDensity_; }
    void setUvGridDensity(double value) { write(Field::uvGridDensity, uvGridDensity_, value); }
    bool showFloorGrid() const { return showFloorGrid_; }
    void setShowFloorGrid(bool value) { write(Field::showFloorGrid, showFloorGrid_, value); }
    FaceMode faceMode() const { return faceMode_; }
    void setFaceMode(FaceMode value) { write(Field::faceMode, faceMode_, value); }
    InactiveSideMode inactiveSideMode() const { return inactiveSideMode_; }
    void setInactiveSideMode(InactiveSideMode value) { write(Field::inactiveSideMode, inactiveSideMode_, value); }
    float fovDegrees() const { return fovDegrees_; }
    double scrubSeconds() const { return scrubSeconds_; }
    void setScrubSeconds(double value) { write(Field::scrubSeconds, scrubSeconds_, value); }
    double durationSeconds() const { return durationSeconds_; }
    void setDurationSeconds(double value) { write(Field::durationSeconds, durationSeconds_, value); }
    bool isScrubbing() const { return isScrubbing_; }
    void setIsScrubbing(bool value) { write(Field::isScrubbing, isScrubbing_, value); }
    int64_t fitRequestID() const { return fitRequestID_; }
    ModelKind modelKind() const { return modelKind_; }
    void setModelKind(ModelKind value) { write(Field::modelKind, modelKind_, value); }
    const QString& modelStatusText() const { return modelStatusText_; }
    const QStringList& validationErrors() const { return validationErrors_; }
    bool showValidationAlert() const { return showValidationAlert_; }
    // The alert's dismissal writes false here.
    void setShowValidationAlert(bool value) { write(Field::showValidationAlert, showValidationAlert_, value); }
    const std::vector<VenueEntry>& venues() const { return venues_; }
    // The entry with this id; null when there is none.
    const VenueEntry* venue(const QUuid& id) const;
    // The whole list as the venue section writes it; synchronised at once.
    void setVenues(std::vector<VenueEntry> venues);
    const std::optional<QString>& fbxURL() const { return fbxURL_; }
    const std::vector<std::shared_ptr<FBXImportedCamera>>& fbxCameras() const { return fbxCameras_; }
    int selectedFBXCameraIndex() const { return selectedFBXCameraIndex_; }
    const QString& fbxCameraStatus() const { return fbxCameraStatus_; }
    const std::optional<QString>& captureFolderURL() const { return captureFolderURL_; }
    int captureFPS() const { return captureFPS_; }
    void setCaptureFPS(int value) { write(Field::captureFPS, captureFPS_, value); }
    bool isRecording() const { return isRecording_; }
    bool isMicEnabled() const { return isMicEnabled_; }
    // On, outside a recording, opens the microphone at once; off
    // leaves a running microphone to the next recording stop.
    void setIsMicEnabled(bool value);
    const QString& lastCaptureMessage() const { return lastCaptureMessage_; }
    void setLastCaptureMessage(const QString& value) { write(Field::lastCaptureMessage, lastCaptureMessage_, value); }
    float micGainDB() const { return micGainDB_; }
    void setMicGainDB(float value) { write(Field::micGainDB, micGainDB_, value); }
    float videoGainDB() const { return videoGainDB_; }
    void setVideoGainDB(float value) { write(Field::videoGainDB, videoGainDB_, value); }
    float micLevel() const { return micLevel_; }
    float videoLevel() const { return videoLevel_; }
    bool isSourceExpanded() const { return isSourceExpanded_; }
    void setIsSourceExpanded(bool value) { write(Field::isSourceExpanded, isSourceExpanded_, value); }
    bool isModelExpanded() const { return isModelExpanded_; }
    void setIsModelExpanded(bool value) { write(Field::isModelExpanded, isModelExpanded_, value); }
    bool isCaptureExpanded() const { return isCaptureExpanded_; }
    void setIsCaptureExpanded(bool value) { write(Field::isCaptureExpanded, isCaptureExpanded_, value); }
    bool isVenueExpanded() const { return isVenueExpanded_; }
    void setIsVenueExpanded(bool value) { write(Field::isVenueExpanded, isVenueExpanded_, value); }
    bool isSidebarCollapsed() const { return isSidebarCollapsed_; }
    // Remembered for the next start.
    void setIsSidebarCollapsed(bool value);
    const std::optional<QString>& objURL() const { return objURL_; }
    const std::optional<QString>& fileURL() const { return fileURL_; }
    const std::optional<QString>& imageURL() const { return imageURL_; }
    const std::shared_ptr<const Mesh>& mesh() const { return mesh_; }
    const std::shared_ptr<TextureSource>& activeSource() const { return activeSource_; }
    bool reloadFilesWhenChanged() const { return reloadFilesWhenChanged_; }
    // Remembered for the next start.
    void setReloadFilesWhenChanged(bool value);

    // --- not published ------------------------------------------------------------
    const std::shared_ptr<OrbitCamera>& camera() const { return camera_; }
    void setCaptureBridge(std::weak_ptr<CaptureBridge> bridge) { captureBridge_ = std::move(bridge); }
    std::shared_ptr<CaptureBridge> captureBridge() const { return captureBridge_.lock(); }
    Persistence& persistence() { return persistence_; }
    bool isUITimerRunning() const;
    bool isObservingFloorGridToggle() const { return gridObserver_ != 0; }
    // Created on first use and kept.
    AudioCapture& audioCapture();
    bool hasAudioCapture() const;
    // From a stop until the writer answers; isRecording stays true meanwhile, and the
    // change is announced as a change of isRecording.
    bool isFinishingRecording() const;

    // --- life -----------------------------------------------------------------------
    void activate();
    // Finishes a running recording first (waitForRecordingFinish), then stops the rest.
    void deactivate();
    // The 3D view has its renderer: "Ready.", unless start-up has already put a notice
    // on the capture line.
    void announceRendererReady();

    // --- sources and transport ------------------------------------------------------
    void applySource();
    // Lets the active source go after deactivate() has stopped it: a closing window
    // does this with the GL context its textures belong to current.
    void releaseSource();
    void selectSourceMode(SourceMode mode);
    void applyPlaying();
    void applyLooping();
    void commitScrub();
    QString sourceStatusText() const;
    void setFieldOfView(float degrees);
    void requestFit();
    void chooseVideoFile();
    void chooseImageFile();
    // Opens the chooser of `mode`'s kind; the chosen file becomes its file.
    void chooseSourceFile(SourceMode mode);
    // What a panel's OK does; also the seam the window's drops use.
    void setVideoFile(const QString& path);
    void setImageFile(const QString& path);

    // --- files by name (menus, drops, the recent list) -----------------------------
    // Opens `path` as its extension says: an OBJ or FBX as the model, a movie or picture
    // as its kind's file, shown at once. False, doing nothing, for any other file.
    bool openFile(const QString& path);
    // Shows the file panel of `kind`; the chosen file is opened as openFile does.
    void chooseFileToOpen(FilePickKind kind);
    // Models and media opened lately, newest first, at most kRecentFileLimit; files
    // that have gone since are still listed.
    QStringList recentFiles() const;

    // --- model and venues -----------------------------------------------------------
    void chooseOBJModel();
    void chooseFBXModel();
    // What the panels' OK does with the chosen file.
    void openOBJModel(const QString& path);
    void openFBXModel(const QString& path);
    void loadOBJModel();
    void loadFBXModel(const QString& path);
    void clearModel();
    void selectFBXCamera(int index);
    void applySelectedFBXCamera();
    void chooseVenues();
    // Whether an entry was added.
    bool addVenue(const QString& path);
    void setVenueVisible(const QUuid& id, bool visible);
    void removeVenue(const QUuid& id);
    void syncVenues();
    // What a venue shows (viewer_venue_content.cpp). A change of own source makes the new
    // one and stops the old; regions and kinds change at once.
    void setVenueContent(const QUuid& id, const VenueContentSetting& content);
    // Makes the venues' own NDI sources again with the main receiver's current choices.
    void remakeVenueSenders();
    // The whole current picture as a region: the renderer's idea of its size, else
    // kDefaultCanvas.
    CanvasRegion wholeCanvas() const;
    // Opens the chooser of `mode`'s kind; the chosen file becomes the venue's own source.
    void chooseVenueSourceFile(const QUuid& id, SourceMode mode);
    // The own source's line for the venue row: its file or sender, or why there is none.
    QString venueSourceStatus(const QUuid& id) const;
    Expected<VarnelCheck, Error> runVarnelCheck(const QString& fbxPath) const;

    // --- new versions of the files on disk (viewer_reload.cpp) -------------------------
    // Reads the model, the venues and the file the source plays again, whether or not
    // they changed. The camera, the play position and state and every setting stay; a
    // file that no longer loads leaves its old version shown and says why.
    void reloadFiles();
    // What the file watch does once `path` has a settled new version: reloads it if it
    // is one of the files above, as reloadFiles() does.
    void reloadChangedFile(const QString& path);
    // The files watched for new versions: the model, the venues, the source's file.
    QStringList watchedFiles() const;

    // --- capture --------------------------------------------------------------------
    void setCaptureFolder(const QString& path);
    // Whether captureFolderURL is the default one rather than the user's choice.
    bool isDefaultCaptureFolder() const { return captureFolderIsDefault_; }
    // The capture folder, made if missing, for showing it in the file manager; none,
    // with the capture line saying why, when there is none to show.
    std::optional<QString> openableCaptureFolder();
    void takeScreenshot();
    // Ignored while a stop is finishing: the Record button is disabled then.
    void toggleRecording();
    // "Lumbrix_" + local time as yyyyMMdd_HHmmss + extension (".png", ".mov").
    static QString captureFileName(const QDateTime& localTime, const QString& extension);
    // That name, or with "-2", "-3", … before the extension when it is taken in `folder`.
    static QString freeCaptureFileName(const QString& folder, const QDateTime& localTime, const QString& extension);

    // For a closing window: stops a running recording as Stop does and says "Finishing
    // recording…". True while that finish is worth waiting for (a recording or its stop
    // is under way and the dependencies' recordingFinishLimit has not passed since the
    // first call).
    bool finishRecording();
    std::chrono::milliseconds recordingFinishTimeLeft() const;
    // finishRecording(), then runs the event loop until the writer has answered or the
    // limit has passed. True when no recording is left.
    bool waitForRecordingFinish();

signals:
    void changed(ViewerViewModel::Field field);

private:
    friend class RecordingSession;

    template <typename T, typename V>
    void write(Field field, T& slot, V&& value) {
        slot = std::forward<V>(value);
        emit changed(field);
    }

    void startUITimer();
    void refreshFromSource();
    QDateTime now() const;
    QString executableDir() const;
    void resetFBXCameras();
    void failModelLoad(const QStringList& errors, const QString& status, bool sameAsStored);
    Expected<std::shared_ptr<const Mesh>, Error> loadFBXVenueMesh(const QString& path) const;
    // None for a file that is neither OBJ nor FBX.
    std::optional<Expected<std::shared_ptr<const Mesh>, QString>> readVenueMesh(const QString& path) const;
    Expected<std::shared_ptr<const Mesh>, ModelReadFailure> readOBJModel(const QString& path) const;
    // `mesh`, read from the OBJ at `path`, as the model, with its status and no alert.
    void showOBJMesh(std::shared_ptr<const Mesh> mesh, const QString& path);
    Expected<std::shared_ptr<const FBXImportedScene>, ModelReadFailure> readFBXModel(const QString& path) const;
    // The scene's mesh, cameras and status as the model, with `selectedCamera` chosen.
    void showFBXScene(const FBXImportedScene& scene, const QString& path, int selectedCamera);
    bool reloadModel();
    bool reloadVenue(const QString& path);
    bool reloadSourceFile();
    // Every venue playing `path` as its own source, from where it was.
    bool reloadVenueSources(const QString& path);
    void showReloadFailure(const QStringList& errors, const QString& status);
    void updateWatchedFiles(Field field);
    std::shared_ptr<TextureSource> makeVenueSource(const VenueContentSetting& content) const;
    // Makes the own sources of the venues `which` picks again, each from where it was;
    // the old ones stop. Whether any was.
    bool remakeVenueSources(const std::function<bool(const VenueEntry&)>& which);
    // Stops the own sources of `before` that `after` no longer holds.
    static void stopDroppedVenueSources(const std::vector<VenueEntry>& before, const std::vector<VenueEntry>& after);
    // The renderer when both it and a capture folder are there; otherwise none, with
    // the capture line saying which is missing.
    std::shared_ptr<CaptureBridge> readyCaptureBridge();
    bool ensureCaptureFolder(QString* problem) const;
    void noteRecentFile(Field field);

    Dependencies dependencies_;
    Persistence persistence_;

    std::shared_ptr<NDIReceiver> receiver_;
    bool isCameraLocked_ = false;
    SourceMode sourceMode_ = SourceMode::ndi;
    bool isPlaying_ = true;
    bool isLooping_ = true;
    bool showUVGrid_ = false;
    double uvGridDensity_ = 20.0;
    bool showFloorGrid_ = true;
    FaceMode faceMode_ = FaceMode::both;
    InactiveSideMode inactiveSideMode_ = InactiveSideMode::gray;
    float fovDegrees_ = 50.0f;
    double scrubSeconds_ = 0.0;
    double durationSeconds_ = 0.0;
    bool isScrubbing_ = false;
    int64_t fitRequestID_ = 0;
    ModelKind modelKind_ = ModelKind::obj;
    QString modelStatusText_ = QStringLiteral("Model: —");
    QStringList validationErrors_;
    bool showValidationAlert_ = false;
    std::vector<VenueEntry> venues_;
    std::optional<QString> fbxURL_;
    std::vector<std::shared_ptr<FBXImportedCamera>> fbxCameras_;
    int selectedFBXCameraIndex_ = -1;
    QString fbxCameraStatus_ = QStringLiteral("FBX: —");
    std::optional<QString> captureFolderURL_;
    bool captureFolderIsDefault_ = false;
    int captureFPS_ = 30;
    bool isRecording_ = false;
    bool isMicEnabled_ = false;
    QString lastCaptureMessage_ = QStringLiteral("Renderer not ready yet.");
    float micGainDB_ = 6.0f;
    float videoGainDB_ = -8.0f;
    float micLevel_ = 0.0f;
    float videoLevel_ = 0.0f;
    bool isSourceExpanded_ = true;
    bool isModelExpanded_ = true;
    bool isCaptureExpanded_ = true;
    bool isVenueExpanded_ = false;
    bool isSidebarCollapsed_ = false;
    std::optional<QString> objURL_;
    std::optional<QString> fileURL_;
    std::optional<QString> imageURL_;
    std::shared_ptr<const Mesh> mesh_;
    std::shared_ptr<TextureSource> activeSource_;
    bool reloadFilesWhenChanged_ = true;

    std::weak_ptr<CaptureBridge> captureBridge_;
    FileWatch* fileWatch_ = nullptr;  // a child of this object
    QTimer* uiTimer_ = nullptr;  // a child of this object while running
    NotificationCenter::Token gridObserver_ = 0;
    std::shared_ptr<OrbitCamera> camera_ = std::make_shared<OrbitCamera>();
    // Declared last: it reads the fields above while it goes.
    std::unique_ptr<RecordingSession> recording_ = std::make_unique<RecordingSession>(*this);
};

}  // namespace lumbrix
