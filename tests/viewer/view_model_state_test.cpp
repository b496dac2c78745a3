// The view model's own state: its fields and their notifications, start-up in its
// three forms, sources and the transport, the interface timer and the floor-grid
// notification.
#include <stdlib.h>

#include <QSettings>

#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {
namespace {

using Field = ViewerViewModel::Field;

TEST_F(ViewModelTest, ANewViewModelHoldsTheDocumentedInitialValues) {
    ViewerViewModel& vm = make();
    EXPECT_NE(vm.receiver(), nullptr);
    EXPECT_FALSE(vm.isCameraLocked());
    EXPECT_EQ(vm.sourceMode(), SourceMode::ndi);
    EXPECT_TRUE(vm.isPlaying());
    EXPECT_TRUE(vm.isLooping());
    EXPECT_FALSE(vm.showUVGrid());
    EXPECT_DOUBLE_EQ(vm.uvGridDensity(), 20.0);
    EXPECT_TRUE(vm.showFloorGrid());
    EXPECT_EQ(vm.faceMode(), FaceMode::both);
    EXPECT_EQ(vm.inactiveSideMode(), InactiveSideMode::gray);
    EXPECT_FLOAT_EQ(vm.fovDegrees(), 50.0f);
    EXPECT_DOUBLE_EQ(vm.scrubSeconds(), 0.0);
    EXPECT_DOUBLE_EQ(vm.durationSeconds(), 0.0);
    EXPECT_FALSE(vm.isScrubbing());
    EXPECT_EQ(vm.fitRequestID(), 0);
    EXPECT_EQ(vm.modelKind(), ModelKind::obj);
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: —"));
    EXPECT_TRUE(vm.validationErrors().isEmpty());
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_TRUE(vm.venues().empty());
    EXPECT_FALSE(vm.fbxURL());
    EXPECT_TRUE(vm.fbxCameras().empty());
    EXPECT_EQ(vm.selectedFBXCameraIndex(), -1);
    EXPECT_EQ(vm.fbxCameraStatus(), QStringLiteral("FBX: —"));
    EXPECT_FALSE(vm.captureFolderURL());
    EXPECT_EQ(vm.captureFPS(), 30);
    EXPECT_FALSE(vm.isRecording());
    EXPECT_FALSE(vm.isMicEnabled());
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    EXPECT_FLOAT_EQ(vm.micGainDB(), 6.0f);
    EXPECT_FLOAT_EQ(vm.videoGainDB(), -8.0f);
    EXPECT_FLOAT_EQ(vm.micLevel(), 0.0f);
    EXPECT_FLOAT_EQ(vm.videoLevel(), 0.0f);
    EXPECT_TRUE(vm.isSourceExpanded());
    EXPECT_TRUE(vm.isModelExpanded());
    EXPECT_TRUE(vm.isCaptureExpanded());
    EXPECT_FALSE(vm.isVenueExpanded());
    EXPECT_FALSE(vm.isSidebarCollapsed());
    EXPECT_FALSE(vm.objURL());
    EXPECT_FALSE(vm.fileURL());
    EXPECT_FALSE(vm.imageURL());
    EXPECT_EQ(vm.mesh(), nullptr);
    EXPECT_EQ(vm.activeSource(), nullptr);
    // The camera's defaults; nothing runs before activate().
    EXPECT_FLOAT_EQ(vm.camera()->distance, 2.5f);
    EXPECT_FLOAT_EQ(vm.camera()->fovDegrees, 50.0f);
    EXPECT_FALSE(vm.isUITimerRunning());
    EXPECT_FALSE(vm.isObservingFloorGridToggle());
    EXPECT_FALSE(vm.hasAudioCapture());
    EXPECT_TRUE(sources.made.empty());
}

TEST_F(ViewModelTest, EveryWriteNotifiesItsFieldEvenWhenTheValueStaysTheSame) {
    ViewerViewModel& vm = make();
    vm.setShowFloorGrid(true);
    vm.setShowFloorGrid(true);
    vm.setIsCameraLocked(false);
    vm.setUvGridDensity(20.0);
    vm.setFaceMode(FaceMode::front);
    vm.setIsSidebarCollapsed(true);
    vm.setScrubSeconds(3.5);
    EXPECT_EQ(changes, (std::vector<Field>{Field::showFloorGrid, Field::showFloorGrid, Field::isCameraLocked,
                                           Field::uvGridDensity, Field::faceMode, Field::isSidebarCollapsed,
                                           Field::scrubSeconds}));
    // The plain bindings have no side effect in the view model.
    EXPECT_TRUE(sources.made.empty());
    EXPECT_EQ(vm.faceMode(), FaceMode::front);
    EXPECT_TRUE(vm.isSidebarCollapsed());

    changes.clear();
    vm.setFieldOfView(33.0f);
    vm.requestFit();
    vm.requestFit();
    EXPECT_FLOAT_EQ(vm.camera()->fovDegrees, 33.0f);
    EXPECT_EQ(vm.fitRequestID(), 2);
    EXPECT_EQ(changes, (std::vector<Field>{Field::fovDegrees, Field::fitRequestID, Field::fitRequestID}));
}

TEST_F(ViewModelTest, RawValuesRoundTripAndUnknownOnesYieldNothing) {
    for (SourceMode mode : kAllSourceModes) EXPECT_EQ(sourceModeFromRaw(rawValue(mode)), mode);
    for (ModelKind kind : kAllModelKinds) EXPECT_EQ(modelKindFromRaw(rawValue(kind)), kind);
    for (FaceMode mode : kAllFaceModes) EXPECT_EQ(faceModeFromRaw(rawValue(mode)), mode);
    for (InactiveSideMode mode : kAllInactiveSideModes) EXPECT_EQ(inactiveSideModeFromRaw(rawValue(mode)), mode);
    EXPECT_EQ(rawValue(SourceMode::image), "image");
    EXPECT_EQ(rawValue(FaceMode::back), "back");
    EXPECT_EQ(rawValue(InactiveSideMode::hide), "hide");
    EXPECT_EQ(rawValue(ModelKind::fbx), "fbx");
    EXPECT_FALSE(sourceModeFromRaw("NDI"));
    EXPECT_FALSE(faceModeFromRaw(""));
    EXPECT_FALSE(inactiveSideModeFromRaw("grey"));
    EXPECT_FALSE(modelKindFromRaw("3ds"));
}

TEST_F(ViewModelTest, AFreshStartRunsAnNDISourceWithNothingRestoredAndEndsTheLaunch) {
    ViewerViewModel& vm = make();
    vm.activate();
    ASSERT_EQ(sources.made.size(), 1u);
    EXPECT_EQ(sources.made[0]->kind, "ndi");
    EXPECT_EQ(vm.activeSource(), sources.made[0]);
    EXPECT_EQ(sources.made[0]->playing, true);
    EXPECT_EQ(sources.made[0]->looping, true);
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: —"));
    EXPECT_EQ(vm.fbxCameraStatus(), QStringLiteral("FBX: —"));
    EXPECT_EQ(vm.selectedFBXCameraIndex(), -1);
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    EXPECT_EQ(vm.mesh(), nullptr);
    EXPECT_TRUE(vm.venues().empty());
    EXPECT_FALSE(vm.captureFolderURL());
    EXPECT_FLOAT_EQ(vm.camera()->distance, 2.5f);
    EXPECT_TRUE(vm.isUITimerRunning());
    EXPECT_TRUE(vm.isObservingFloorGridToggle());
    EXPECT_FALSE(store().launchInProgress());
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("NDI: none"));
}

TEST_F(ViewModelTest, StartUpRestoresTheCameraFromItsPositionAndTarget) {
    CameraState saved;
    saved.position = {0.0f, 0.0f, 10.0f};
    saved.target = {0.0f, 0.0f, 2.0f};
    saved.yaw = 2.0f;  // ignored: the position decides
    saved.distance = 99.0f;
    saved.fov = 35.0f;
    store().saveCameraState(saved);

    ViewerViewModel& vm = make();
    vm.activate();
    EXPECT_FLOAT_EQ(vm.fovDegrees(), 35.0f);
    EXPECT_FLOAT_EQ(vm.camera()->fovDegrees, 35.0f);
    EXPECT_NEAR(vm.camera()->distance, 8.0f, 1e-4f);
    const Float3 eye = vm.camera()->eyePosition();
    EXPECT_NEAR(eye.x, 0.0f, 1e-4f);
    EXPECT_NEAR(eye.z, 10.0f, 1e-4f);
}

class StartupWithStoredState : public ViewModelTest {
protected:
    void SetUp() override {
        ViewModelTest::SetUp();
        objPath = writeFile("models/square.obj", kSquareOBJ);
        venuePath = writeFile("venues/hall.obj", kSquareOBJ);
        captureFolder = folder.file("captures");
        std::filesystem::create_directories(captureFolder);
        Persistence persistence = store();
        persistence.saveLastModel(PersistedModelKind::obj, QString::fromStdString(objPath));
        persistence.saveCaptureFolder(QString::fromStdString(captureFolder));
        persistence.saveVenues({{QString::fromStdString(venuePath), false}});
    }

    std::string objPath;
    std::string venuePath;
    std::string captureFolder;
};

TEST_F(StartupWithStoredState, ANormalStartRestoresModelFolderAndVenues) {
    ViewerViewModel& vm = make();
    vm.activate();
    EXPECT_EQ(vm.objURL(), QString::fromStdString(objPath));
    ASSERT_NE(vm.mesh(), nullptr);
    EXPECT_EQ(vm.mesh()->triangleCount(), 2u);
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ loaded: square.obj"));
    EXPECT_EQ(vm.captureFolderURL(), QString::fromStdString(captureFolder));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Folder: captures"));
    ASSERT_EQ(vm.venues().size(), 1u);
    EXPECT_EQ(vm.venues()[0].url, QString::fromStdString(venuePath));
    EXPECT_FALSE(vm.venues()[0].visible);
    EXPECT_FALSE(store().launchInProgress());
}

TEST_F(StartupWithStoredState, ShiftSkipsRestoringButKeepsTheRecordForTheNextStart) {
    shiftHeld = true;
    {
        ViewerViewModel& vm = make();
        vm.activate();
        EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Safe Mode: model loading skipped (Shift)."));
        EXPECT_EQ(vm.mesh(), nullptr);
        EXPECT_FALSE(vm.objURL());
        EXPECT_FALSE(vm.captureFolderURL());
        EXPECT_TRUE(vm.venues().empty());
        // Discovery, source and timer still start.
        EXPECT_EQ(sources.made.size(), 1u);
        EXPECT_TRUE(vm.isUITimerRunning());
        EXPECT_EQ(store().storedLastModelPath(), QString::fromStdString(objPath));
        EXPECT_FALSE(store().launchInProgress());
        vm.deactivate();
        model.reset();
    }
    shiftHeld = false;
    ViewerViewModel& next = make();
    next.activate();
    EXPECT_EQ(next.objURL(), QString::fromStdString(objPath));
    EXPECT_NE(next.mesh(), nullptr);
}

TEST_F(StartupWithStoredState, AnUnfinishedLaunchForgetsTheModelWithOrWithoutShift) {
    for (bool shift : {false, true}) {
        SCOPED_TRACE(shift ? "Shift held" : "no modifier");
        store().saveLastModel(PersistedModelKind::obj, QString::fromStdString(objPath));
        store().setLaunchInProgress(true);
        shiftHeld = shift;
        ViewerViewModel& vm = make();
        vm.activate();
        EXPECT_EQ(vm.lastCaptureMessage(),
                  QStringLiteral("Safe Mode: last model cleared (previous launch did not finish)."));
        EXPECT_FALSE(store().storedLastModelPath());
        EXPECT_EQ(vm.mesh(), nullptr);
        EXPECT_TRUE(vm.venues().empty());
        EXPECT_FALSE(vm.captureFolderURL());
        EXPECT_FALSE(store().launchInProgress());
        vm.deactivate();
        model.reset();
    }
    // The start after that restores the folder and the venues again, but no model.
    shiftHeld = false;
    ViewerViewModel& next = make();
    next.activate();
    EXPECT_EQ(next.mesh(), nullptr);
    EXPECT_EQ(next.captureFolderURL(), QString::fromStdString(captureFolder));
    EXPECT_EQ(next.venues().size(), 1u);
}

TEST_F(StartupWithStoredState, AStoredModelWhoseFileWasDeletedIsNotLoadedAndItsRecordGoes) {
    std::filesystem::remove(objPath);
    ViewerViewModel& vm = make();
    vm.activate();
    EXPECT_EQ(vm.mesh(), nullptr);
    EXPECT_FALSE(vm.objURL());
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: —"));
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_FALSE(store().storedLastModelPath());
    // The rest of the start-up still happens.
    EXPECT_EQ(vm.captureFolderURL(), QString::fromStdString(captureFolder));
    EXPECT_EQ(vm.venues().size(), 1u);
}

TEST_F(StartupWithStoredState, AStoredModelThatNoLongerLoadsShowsTheAlertAndStartUpGoesOn) {
    writeText(objPath, kTwoObjectsOBJ);
    ViewerViewModel& vm = make();
    vm.activate();
    EXPECT_EQ(vm.mesh(), nullptr);
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ validation failed:"));
    EXPECT_TRUE(vm.showValidationAlert());
    EXPECT_FALSE(vm.validationErrors().isEmpty());
    EXPECT_FALSE(store().storedLastModelPath());
    EXPECT_EQ(vm.venues().size(), 1u);
    EXPECT_FALSE(store().launchInProgress());
}

TEST_F(ViewModelTest, GarbageUnderEveryKeyStillStartsCleanly) {
    {
        QSettings raw(settingsFile, QSettings::NativeFormat);
        raw.setValue("lumbrix.launchInProgress", "perhaps");
        raw.setValue("lastModelRecord", QByteArray("{\"kind\":\"stl\",\"bookmark\":\"!!\"}"));
        raw.setValue("venuesRecord", QByteArray("[{\"bookmark\":12}]"));
        raw.setValue("lastCameraState", QByteArray("{\"position\":[1,2],\"fov\":\"wide\"}"));
        raw.setValue("lastCaptureFolder", QByteArray("\xff\xfe not a path", 14));
        for (int slot = 0; slot < 10; ++slot) raw.setValue(QStringLiteral("cameraPreset_%1").arg(slot), 42);
        raw.sync();
    }
    ViewerViewModel& vm = make();
    vm.activate();
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    EXPECT_EQ(vm.mesh(), nullptr);
    EXPECT_TRUE(vm.venues().empty());
    EXPECT_FALSE(vm.captureFolderURL());
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_FLOAT_EQ(vm.fovDegrees(), 50.0f);
    EXPECT_FLOAT_EQ(vm.camera()->distance, 2.5f);
    EXPECT_EQ(vm.activeSource(), sources.made.at(0));
    EXPECT_FALSE(store().launchInProgress());
}

TEST_F(ViewModelTest, SwitchingSourcesStopsTheOldOneExactlyOnce) {
    ViewerViewModel& vm = make();
    vm.activate();
    const auto ndi = sources.made.at(0);

    // File mode without a file: the old source stops and nothing replaces it.
    vm.selectSourceMode(SourceMode::file);
    EXPECT_EQ(ndi->stops, 1);
    EXPECT_EQ(vm.activeSource(), nullptr);
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("File: none"));

    vm.setIsPlaying(false);
    vm.applyPlaying();  // nothing to hand it to
    vm.setVideoFile(QStringLiteral("/media/show/intro.mov"));
    const auto file = sources.made.at(1);
    EXPECT_EQ(file->kind, "file");
    EXPECT_EQ(vm.activeSource(), file);
    // Looping first, then playing, as the file source prepares with both known.
    EXPECT_EQ(file->calls, (std::vector<std::string>{"loop", "pause"}));
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("intro.mov"));

    vm.selectSourceMode(SourceMode::image);
    EXPECT_EQ(file->stops, 1);
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("Image: none"));
    vm.setImageFile(QStringLiteral("/stills/grid.png"));
    const auto image = sources.made.at(2);
    EXPECT_EQ(image->kind, "image");
    EXPECT_EQ(image->playing, false);
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("grid.png"));

    vm.selectSourceMode(SourceMode::ndi);
    EXPECT_EQ(image->stops, 1);
    EXPECT_EQ(sources.made.at(3)->kind, "ndi");
    // Nothing was stopped twice, and the running source is untouched.
    EXPECT_EQ(ndi->stops, 1);
    EXPECT_EQ(file->stops, 1);
    EXPECT_EQ(sources.made.at(3)->stops, 0);

    vm.deactivate();
    EXPECT_EQ(sources.made.at(3)->stops, 1);
    EXPECT_EQ(vm.activeSource(), sources.made.at(3));  // the field keeps its value
}

TEST_F(ViewModelTest, PlayAndLoopGoToTheActiveSourceOnlyWhenAsked) {
    ViewerViewModel& vm = make();
    vm.activate();
    const auto ndi = sources.made.at(0);
    ndi->calls.clear();
    vm.setIsLooping(false);
    EXPECT_TRUE(ndi->calls.empty());
    vm.applyLooping();
    vm.setIsPlaying(false);
    vm.applyPlaying();
    EXPECT_EQ(ndi->calls, (std::vector<std::string>{"once", "pause"}));
}

TEST_F(ViewModelTest, FilePanelsSetTheFileAndRebuildTheSourceButCancelChangesNothing) {
    picker->answers[FilePickKind::videoFile] = {{}, {QStringLiteral("/clips/a.mp4")}};
    picker->answers[FilePickKind::imageFile] = {{QStringLiteral("/stills/b.jpg")}};
    ViewerViewModel& vm = make();
    vm.activate();
    vm.selectSourceMode(SourceMode::file);
    const size_t before = sources.made.size();

    vm.chooseVideoFile();
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_FALSE(vm.fileURL());
    EXPECT_EQ(sources.made.size(), before);

    vm.chooseVideoFile();
    ASSERT_TRUE(pumpUntil([&] { return vm.fileURL().has_value(); }));
    EXPECT_EQ(*vm.fileURL(), QStringLiteral("/clips/a.mp4"));
    EXPECT_EQ(sources.made.back()->path, QStringLiteral("/clips/a.mp4"));

    vm.chooseImageFile();
    ASSERT_TRUE(pumpUntil([&] { return vm.imageURL().has_value(); }));
    EXPECT_EQ(*vm.imageURL(), QStringLiteral("/stills/b.jpg"));
    EXPECT_EQ(picker->asked, (std::vector<FilePickKind>{FilePickKind::videoFile, FilePickKind::videoFile,
                                                        FilePickKind::imageFile}));
}

TEST_F(ViewModelTest, APanelThatEndsAfterTheViewModelIsGoneDoesNothing) {
    picker->answers[FilePickKind::videoFile] = {{QStringLiteral("/clips/a.mp4")}};
    ViewerViewModel& vm = make();
    vm.chooseVideoFile();
    model.reset();
    pumpFor(std::chrono::milliseconds(20));
    EXPECT_TRUE(sources.made.empty());
}

TEST_F(ViewModelTest, TheTimerFollowsAPlayingFileUnlessTheUserScrubs) {
    ViewerViewModel& vm = make();
    vm.activate();
    vm.selectSourceMode(SourceMode::file);
    vm.setVideoFile(QStringLiteral("/clips/show.mov"));
    const auto file = sources.made.back();
    file->duration = 120.0;
    file->current = 12.5;
    ASSERT_TRUE(pumpUntil([&] { return vm.scrubSeconds() == 12.5; }, std::chrono::seconds(2)));
    EXPECT_DOUBLE_EQ(vm.durationSeconds(), 120.0);

    // While dragging, the user's position wins although the file moves on.
    vm.setIsScrubbing(true);
    vm.setScrubSeconds(60.0);
    file->current = 13.0;
    pumpFor(std::chrono::milliseconds(350));
    EXPECT_DOUBLE_EQ(vm.scrubSeconds(), 60.0);

    vm.commitScrub();
    EXPECT_EQ(file->seeks, std::vector<double>{60.0});
    EXPECT_FALSE(vm.isScrubbing());
    ASSERT_TRUE(pumpUntil([&] { return vm.scrubSeconds() == 13.0; }, std::chrono::seconds(2)));

    // A source without a timeline leaves both fields alone.
    file->duration.reset();
    file->current.reset();
    vm.setScrubSeconds(1.0);
    pumpFor(std::chrono::milliseconds(250));
    EXPECT_DOUBLE_EQ(vm.scrubSeconds(), 1.0);
    EXPECT_DOUBLE_EQ(vm.durationSeconds(), 120.0);
}

TEST_F(ViewModelTest, TheTimerLeavesTheTransportAloneOutsideFileMode) {
    ViewerViewModel& vm = make();
    vm.activate();
    sources.made.at(0)->duration = 5.0;
    sources.made.at(0)->current = 2.0;
    pumpFor(std::chrono::milliseconds(250));
    EXPECT_DOUBLE_EQ(vm.scrubSeconds(), 0.0);
    EXPECT_DOUBLE_EQ(vm.durationSeconds(), 0.0);
    EXPECT_EQ(changesOf(Field::scrubSeconds), 0);
}

TEST_F(ViewModelTest, EndingAScrubSeeksOnlyAFileSourceThatCanSeek) {
    ViewerViewModel& vm = make();
    vm.activate();
    vm.setIsScrubbing(true);
    vm.setScrubSeconds(4.0);
    vm.commitScrub();  // NDI: no seek, still scrubbing
    EXPECT_TRUE(sources.made.at(0)->seeks.empty());
    EXPECT_TRUE(vm.isScrubbing());

    vm.selectSourceMode(SourceMode::image);
    vm.setImageFile(QStringLiteral("/stills/a.png"));
    vm.commitScrub();
    EXPECT_TRUE(sources.made.back()->seeks.empty());
    EXPECT_TRUE(vm.isScrubbing());

    vm.selectSourceMode(SourceMode::file);  // no file yet: no source
    vm.commitScrub();
    EXPECT_TRUE(vm.isScrubbing());
}

TEST_F(ViewModelTest, AFileSourceThatCannotSeekKeepsTheScrub) {
    auto deps = dependencies();
    deps.sourceMakers = sources.makers(/*fileSeekable=*/false);
    ViewerViewModel& vm = make(std::move(deps));
    vm.selectSourceMode(SourceMode::file);
    vm.setVideoFile(QStringLiteral("/clips/live.ts"));
    vm.setIsScrubbing(true);
    vm.commitScrub();
    EXPECT_TRUE(sources.made.back()->seeks.empty());
    EXPECT_TRUE(vm.isScrubbing());
}

TEST_F(ViewModelTest, TheTimerStopsWithTheViewModelAndAtShutdown) {
    ViewerViewModel& vm = make();
    vm.activate();
    vm.activate();  // a second start replaces the timer and does not observe twice
    EXPECT_EQ(notifications.observerCount(), 1u);
    vm.deactivate();
    EXPECT_FALSE(vm.isUITimerRunning());
    EXPECT_FALSE(vm.isObservingFloorGridToggle());
    EXPECT_EQ(notifications.observerCount(), 0u);
    EXPECT_FALSE(store().launchInProgress());
}

TEST_F(ViewModelTest, TheFloorGridNotificationTogglesTheGridWhileActive) {
    ViewerViewModel& vm = make();
    vm.activate();
    notifications.post(kToggleFloorGridNotification);
    EXPECT_FALSE(vm.showFloorGrid());
    notifications.post(kToggleFloorGridNotification);
    EXPECT_TRUE(vm.showFloorGrid());
    notifications.post(kToggleCameraLockNotification);  // not the view model's
    EXPECT_FALSE(vm.isCameraLocked());
    vm.deactivate();
    notifications.post(kToggleFloorGridNotification);
    EXPECT_TRUE(vm.showFloorGrid());
}

TEST_F(ViewModelTest, NDIStatusNamesTheSelectedSenderAndReceiverChangesReachTheViews) {
    // The real receiver on the fake runtime, loaded the way the program loads NDI.
    ::setenv("NDI_RUNTIME_DIR_V6", LUMBRIX_FAKE_NDI_DIR, 1);
    ::setenv("FAKE_NDI_MAX_WAIT_MS", "20", 1);
    ::setenv("FAKE_NDI_SENDERS", "Stage Left@16x16@30;Stage Right@16x16@30", 1);
    auto deps = dependencies();
    deps.receiver = NDIReceiver::create(deps.mainQueue);
    ViewerViewModel& vm = make(std::move(deps));
    vm.activate();
    ASSERT_TRUE(pumpUntil([&] { return vm.receiver()->sources().size() == 2; }));
    EXPECT_GT(changesOf(Field::receiver), 0);
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("NDI: none"));
    vm.receiver()->connect(1);
    ASSERT_TRUE(pumpUntil([&] { return vm.receiver()->selectedIndex() == 1; }));
    EXPECT_EQ(vm.sourceStatusText(), QStringLiteral("NDI: Stage Right"));
    vm.deactivate();
}

}  // namespace
}  // namespace lumbrix::test
