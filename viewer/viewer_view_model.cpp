#include "viewer/viewer_view_model.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include "capture/audio_capture.h"
#include "sources/ndi_receiver.h"
#include "viewer/ndi_choices.h"
#include "viewer/path_name.h"
#include "viewer/qt_main_queue.h"
#include "viewer/source_kinds.h"

namespace lumbrix {

ViewerViewModel::ViewerViewModel() : ViewerViewModel(Dependencies{}) {}

ViewerViewModel::ViewerViewModel(Dependencies dependencies, QObject* parent)
    : QObject(parent),
      dependencies_(std::move(dependencies)),
      persistence_(dependencies_.settingsFile ? Persistence(*dependencies_.settingsFile) : Persistence()) {
    if (!dependencies_.mainQueue) dependencies_.mainQueue = std::make_shared<QtMainQueue>();
    if (!dependencies_.receiver) dependencies_.receiver = NDIReceiver::create(dependencies_.mainQueue);
    dependencies_.sourceMakers = withRealSourceMakers(std::move(dependencies_.sourceMakers), dependencies_.mainQueue);
    if (dependencies_.notifications == nullptr) dependencies_.notifications = &NotificationCenter::defaultCenter();
    receiver_ = dependencies_.receiver;
    // Until a folder is chosen or restored, so a first capture lands somewhere the user
    // can find; made only when a capture needs it.
    captureFolderURL_ = dependencies_.defaultCaptureFolder ? dependencies_.defaultCaptureFolder() : userCaptureFolder();
    captureFolderIsDefault_ = captureFolderURL_.has_value();
    connect(this, &ViewerViewModel::changed, this, &ViewerViewModel::noteRecentFile);
    fileWatch_ = new FileWatch(dependencies_.fileSettleTime, this);
    connect(fileWatch_, &FileWatch::fileChanged, this, &ViewerViewModel::reloadChangedFile);
    connect(this, &ViewerViewModel::changed, this, &ViewerViewModel::updateWatchedFiles);
    // The sender list and selection live in the receiver; a change there is a change
    // of this field for the panels bound to it.
    receiver_->setChangeHandler([weak = QPointer<ViewerViewModel>(this)] {
        if (weak) emit weak->changed(Field::receiver);
    });
}

ViewerViewModel::~ViewerViewModel() {
    if (gridObserver_ != 0) dependencies_.notifications->removeObserver(gridObserver_);
    receiver_->setChangeHandler({});
    if (activeSource_) activeSource_->stop();
    for (const VenueEntry& venue : venues_) {
        if (venue.source) venue.source->stop();
    }
}

bool ViewerViewModel::isUITimerRunning() const { return uiTimer_ != nullptr && uiTimer_->isActive(); }

QDateTime ViewerViewModel::now() const {
    return dependencies_.now ? dependencies_.now() : QDateTime::currentDateTime();
}

QString ViewerViewModel::executableDir() const {
    if (dependencies_.executableDir) return *dependencies_.executableDir;
    return QCoreApplication::instance() != nullptr ? QCoreApplication::applicationDirPath() : QString();
}

void ViewerViewModel::activate() {
    const bool previousLaunchUnfinished = persistence_.beginLaunch();

    if (gridObserver_ == 0) {
        gridObserver_ = dependencies_.notifications->addObserver(
            kToggleFloorGridNotification, [weak = QPointer<ViewerViewModel>(this)] {
                if (weak) weak->setShowFloorGrid(!weak->showFloorGrid());
            });
    }

    if (const auto state = persistence_.loadCameraState()) {
        camera_->target = state->target;
        camera_->fovDegrees = state->fov;
        camera_->lookFrom(state->position);
        write(Field::fovDegrees, fovDegrees_, camera_->fovDegrees);
        camera_->fovDegrees = fovDegrees_;
    } else {
        camera_->fovDegrees = fovDegrees_;
    }

    write(Field::isSidebarCollapsed, isSidebarCollapsed_, persistence_.loadSidebarCollapsed());
    write(Field::reloadFilesWhenChanged, reloadFilesWhenChanged_, persistence_.loadReloadFilesWhenChanged());
    fileWatch_->setEnabled(reloadFilesWhenChanged_);
    restoreNDIChoices(*this);

    const bool shiftHeld = dependencies_.isShiftHeld && dependencies_.isShiftHeld();
    const StartupPlan plan = planStartup(previousLaunchUnfinished, shiftHeld);
    if (plan.safeMode) {
        if (plan.removeLastModelRecord) persistence_.removeLastModelRecord();
        receiver_->startDiscovery();
        applySource();
        startUITimer();
        setLastCaptureMessage(plan.message);
        persistence_.endLaunch();
        return;
    }

    if (!objURL_ && !fbxURL_) {
        if (const auto last = persistence_.loadLastModel()) {
            if (last->kind == PersistedModelKind::fbx) {
                setModelKind(ModelKind::fbx);
                write(Field::fbxURL, fbxURL_, last->path);
                loadFBXModel(last->path);
            } else {
                setModelKind(ModelKind::obj);
                write(Field::objURL, objURL_, last->path);
                loadOBJModel();
            }
        }
    }

    if (const auto folder = persistence_.loadCaptureFolder()) {
        captureFolderIsDefault_ = false;
        write(Field::captureFolderURL, captureFolderURL_, *folder);
        setLastCaptureMessage(QStringLiteral("Folder: ") + lastPathComponent(*folder));
    }

    for (const VenueLocation& stored : persistence_.loadVenues()) {
        if (!addVenue(stored.path)) continue;
        const QUuid id = venues_.back().id;
        setVenueVisible(id, stored.visible);
        if (stored.content.kind != VenueContentKind::none) setVenueContent(id, stored.content);
    }
    receiver_->startDiscovery();
    applySource();
    startUITimer();
    persistence_.endLaunch();
}

void ViewerViewModel::deactivate() {
    // A recording is a file the user made: it is finished before anything it draws
    // from goes away.
    waitForRecordingFinish();
    delete uiTimer_;
    uiTimer_ = nullptr;
    fileWatch_->setEnabled(false);
    if (activeSource_) activeSource_->stop();
    for (const VenueEntry& venue : venues_) {
        if (venue.source) venue.source->stop();
    }
    receiver_->shutdown();
    persistence_.releaseStoredLocations();
    if (gridObserver_ != 0) {
        dependencies_.notifications->removeObserver(gridObserver_);
        gridObserver_ = 0;
    }
    persistence_.endLaunch();
}

void ViewerViewModel::announceRendererReady() {
    // The renderer can attach after start-up has run (a window that was not drawn at
    // once); a safe-mode or folder notice must not be lost to it.
    if (lastCaptureMessage_ == QStringLiteral("Renderer not ready yet.")) setLastCaptureMessage(QStringLiteral("Ready."));
}

void ViewerViewModel::applySource() {
    if (activeSource_) activeSource_->stop();
    write(Field::activeSource, activeSource_, sourceKind(sourceMode_).make(*this, dependencies_.sourceMakers));
}

void ViewerViewModel::releaseSource() {
    if (activeSource_) write(Field::activeSource, activeSource_, nullptr);
    // The venues' own pictures are GL textures of the same context.
    for (VenueEntry& venue : venues_) venue.source.reset();
}

void ViewerViewModel::selectSourceMode(SourceMode mode) {
    setSourceMode(mode);
    applySource();
}

void ViewerViewModel::applyPlaying() {
    if (activeSource_) activeSource_->setPlaying(isPlaying_);
}

void ViewerViewModel::applyLooping() {
    if (activeSource_) activeSource_->setLooping(isLooping_);
}

void ViewerViewModel::startUITimer() {
    delete uiTimer_;
    uiTimer_ = new QTimer(this);
    uiTimer_->setInterval(kUITimerInterval);
    // The timer is a child of this object: it cannot fire once the view model is gone.
    connect(uiTimer_, &QTimer::timeout, this, &ViewerViewModel::refreshFromSource);
    uiTimer_->start();
}

void ViewerViewModel::refreshFromSource() {
    if (isScrubbing_ || !sourceKind(sourceMode_).hasTimeline || !activeSource_) return;
    if (const auto duration = activeSource_->durationSeconds()) setDurationSeconds(*duration);
    if (const auto current = activeSource_->currentSeconds()) setScrubSeconds(*current);
}

void ViewerViewModel::commitScrub() {
    if (!sourceKind(sourceMode_).hasTimeline || !activeSource_ || !activeSource_->isSeekable()) return;
    activeSource_->seek(scrubSeconds_);
    setIsScrubbing(false);
}

QString ViewerViewModel::sourceStatusText() const { return sourceKind(sourceMode_).statusText(*this); }

void ViewerViewModel::setFieldOfView(float degrees) {
    write(Field::fovDegrees, fovDegrees_, degrees);
    camera_->fovDegrees = fovDegrees_;
}

void ViewerViewModel::requestFit() { write(Field::fitRequestID, fitRequestID_, fitRequestID_ + 1); }

void ViewerViewModel::chooseVideoFile() { chooseSourceFile(SourceMode::file); }

void ViewerViewModel::chooseImageFile() { chooseSourceFile(SourceMode::image); }

void ViewerViewModel::chooseSourceFile(SourceMode mode) {
    const SourceKind& kind = sourceKind(mode);
    if (!dependencies_.filePicker || !kind.pick) return;
    dependencies_.filePicker->pick(*kind.pick, [weak = QPointer<ViewerViewModel>(this), &kind](QStringList paths) {
        if (weak && !paths.isEmpty()) kind.openFile(*weak, paths.first());
    });
}

void ViewerViewModel::setVideoFile(const QString& path) {
    write(Field::fileURL, fileURL_, path);
    applySource();
}

void ViewerViewModel::setImageFile(const QString& path) {
    write(Field::imageURL, imageURL_, path);
    applySource();
}

void ViewerViewModel::setIsSidebarCollapsed(bool value) {
    write(Field::isSidebarCollapsed, isSidebarCollapsed_, value);
    persistence_.saveSidebarCollapsed(value);
}

bool ViewerViewModel::openFile(const QString& path) {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("obj")) {
        setModelKind(ModelKind::obj);
        openOBJModel(path);
        return true;
    }
    if (extension == QLatin1String("fbx")) {
        setModelKind(ModelKind::fbx);
        openFBXModel(path);
        return true;
    }
    const SourceKind* kind = sourceKindForFile(path);
    if (kind == nullptr || kind->openFile == nullptr) return false;
    setSourceMode(kind->mode);
    kind->openFile(*this, path);
    return true;
}

void ViewerViewModel::chooseFileToOpen(FilePickKind kind) {
    if (!dependencies_.filePicker) return;
    dependencies_.filePicker->pick(kind, [weak = QPointer<ViewerViewModel>(this)](QStringList paths) {
        if (weak && !paths.isEmpty()) weak->openFile(paths.first());
    });
}

QStringList ViewerViewModel::recentFiles() const { return persistence_.recentFiles(); }

void ViewerViewModel::noteRecentFile(Field field) {
    // A model counts once it has loaded; a source file as soon as it is chosen, since
    // a file that plays badly is still one the user wants back.
    std::optional<QString> path;
    switch (field) {
    case Field::mesh:
        if (mesh_) path = modelKind_ == ModelKind::fbx ? fbxURL_ : objURL_;
        break;
    case Field::fileURL:
        path = fileURL_;
        break;
    case Field::imageURL:
        path = imageURL_;
        break;
    default:
        return;
    }
    if (path && !path->isEmpty()) persistence_.addRecentFile(*path, kRecentFileLimit);
}

void ViewerViewModel::setIsMicEnabled(bool value) {
    write(Field::isMicEnabled, isMicEnabled_, value);
    if (value && !isRecording_) {
        AudioCapture& microphone = audioCapture();
        microphone.isMicEnabled = true;
        microphone.start();
    }
}

}  // namespace lumbrix
