// Models and venues through the view model: OBJ and FBX loads with the real Varnel and
// stand-ins for it, the status texts and the alert, what is stored, FBX cameras, and the
// venue list.
#include <sys/stat.h>

#include <cmath>

#include <QSettings>

#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {
namespace {

using Field = ViewerViewModel::Field;

const std::string kCubeFBX = "generated/blender/bl_b_cube_uv.fbx";
const std::string kThreeCamerasFBX = "generated/blender/bl_e_mesh_3cams.fbx";
const std::string kTwoMeshesFBX = "generated/blender/bl_d_two_meshes.fbx";
const std::string kCamerasOnlyFBX = "generated/blender/bl_i_cameras_only.fbx";

class ModelLoadingTest : public ViewModelTest {
protected:
    // A folder holding a stand-in "Varnel" that runs `script` (a POSIX shell body).
    QString fakeVarnel(const std::string& script) {
        const std::filesystem::path dir = folder.path() / ("tool" + std::to_string(++tools_));
        writeText(dir / "Varnel", "#!/bin/sh\n" + script + "\n");
        ::chmod((dir / "Varnel").c_str(), 0755);
        return QString::fromStdString(dir.string());
    }

    ViewerViewModel& makeWithTool(const QString& toolDir, std::chrono::milliseconds timeout = kVarnelTimeout) {
        auto deps = dependencies();
        deps.executableDir = toolDir;
        deps.varnelTimeout = timeout;
        return make(std::move(deps));
    }

    // The stored launch flag is raised as an unfinished start-up would leave it.
    void raiseLaunchFlag() { store().setLaunchInProgress(true); }

    void expectNoModel(const ViewerViewModel& vm) {
        EXPECT_EQ(vm.mesh(), nullptr);
        EXPECT_FALSE(vm.objURL());
        EXPECT_FALSE(vm.fbxURL());
        EXPECT_TRUE(vm.fbxCameras().empty());
        EXPECT_EQ(vm.selectedFBXCameraIndex(), -1);
        EXPECT_EQ(vm.fbxCameraStatus(), QStringLiteral("FBX: —"));
        EXPECT_TRUE(vm.showValidationAlert());
        EXPECT_FALSE(store().storedLastModelPath());
    }

private:
    int tools_ = 0;
};

TEST_F(ModelLoadingTest, AnOBJLoadShowsTheFileStoresItAndEndsTheLaunch) {
    const QString path = QString::fromStdString(writeFile("venue/stage.obj", kSquareOBJ));
    picker->answers[FilePickKind::objModel] = {{path}};
    raiseLaunchFlag();
    ViewerViewModel& vm = make();
    vm.chooseOBJModel();
    ASSERT_TRUE(pumpUntil([&] { return vm.mesh() != nullptr; }));
    EXPECT_EQ(vm.modelKind(), ModelKind::obj);
    EXPECT_EQ(vm.objURL(), path);
    EXPECT_EQ(vm.mesh()->triangleCount(), 2u);
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ loaded: stage.obj"));
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_TRUE(vm.validationErrors().isEmpty());
    EXPECT_EQ(store().storedLastModelPath(), path);
    EXPECT_EQ(store().loadLastModel()->kind, PersistedModelKind::obj);
    EXPECT_FALSE(store().launchInProgress());
}

TEST_F(ModelLoadingTest, CancellingTheModelPanelOnlyChangesTheKind) {
    const QString path = QString::fromStdString(writeFile("stage.obj", kSquareOBJ));
    ViewerViewModel& vm = make();
    vm.openOBJModel(path);
    ASSERT_NE(vm.mesh(), nullptr);
    const auto mesh = vm.mesh();
    picker->answers[FilePickKind::fbxModel] = {{}};
    changes.clear();
    vm.chooseFBXModel();
    pumpFor(std::chrono::milliseconds(30));
    EXPECT_EQ(vm.modelKind(), ModelKind::fbx);
    EXPECT_EQ(vm.mesh(), mesh);
    EXPECT_EQ(vm.objURL(), path);
    EXPECT_EQ(changes, std::vector<Field>{Field::modelKind});
    EXPECT_EQ(picker->asked, std::vector<FilePickKind>{FilePickKind::fbxModel});
}

TEST_F(ModelLoadingTest, AnOBJThatFailsValidationListsTheLoadersMessages) {
    const QString good = QString::fromStdString(writeFile("good.obj", kSquareOBJ));
    const QString bad = QString::fromStdString(writeFile("bad.obj", kTwoObjectsOBJ));
    ViewerViewModel& vm = make();
    vm.openOBJModel(good);
    raiseLaunchFlag();
    testing::internal::CaptureStdout();
    vm.openOBJModel(bad);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ validation failed:"));
    EXPECT_EQ(vm.validationErrors(),
              QStringList{QStringLiteral("File contains multiple objects (2). Please export as single object.")});
    expectNoModel(vm);
    EXPECT_EQ(printed.rfind("OBJ load failed: ", 0), 0u) << printed;
    // Not the stored file: a user's load, so the launch is over.
    EXPECT_FALSE(store().launchInProgress());
}

TEST_F(ModelLoadingTest, AnOBJThatCannotBeParsedIsAModelError) {
    const QString empty = QString::fromStdString(writeFile("empty.obj", ""));
    ViewerViewModel& vm = make();
    testing::internal::CaptureStdout();
    vm.openOBJModel(empty);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: error"));
    ASSERT_EQ(vm.validationErrors().size(), 1);
    EXPECT_FALSE(vm.validationErrors()[0].isEmpty());
    expectNoModel(vm);
}

TEST_F(ModelLoadingTest, AFailingRestoreOfTheStoredFileLeavesTheLaunchFlagToStartUp) {
    const QString bad = QString::fromStdString(writeFile("bad.obj", kTwoObjectsOBJ));
    store().saveLastModel(PersistedModelKind::obj, bad);
    raiseLaunchFlag();
    ViewerViewModel& vm = make();
    testing::internal::CaptureStdout();
    vm.openOBJModel(bad);
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(vm.showValidationAlert());
    EXPECT_TRUE(store().launchInProgress());
}

TEST_F(ModelLoadingTest, AnFBXWithCamerasLoadsThroughVarnelAndAsksForOneFitLater) {
    const QString path = testDataQ(kThreeCamerasFBX);
    raiseLaunchFlag();
    ViewerViewModel& vm = make();
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(path);
    EXPECT_EQ(vm.fbxURL(), path);
    ASSERT_NE(vm.mesh(), nullptr);
    EXPECT_EQ(vm.mesh()->triangleCount(), 12u);
    EXPECT_EQ(vm.fbxCameras().size(), 3u);
    EXPECT_EQ(vm.fbxCameraStatus(), QStringLiteral("FBX: 3 camera(s)"));
    EXPECT_TRUE(vm.modelStatusText().endsWith(QStringLiteral(" • FBX loaded: 3 cameras")) ||
                vm.modelStatusText().contains(QStringLiteral(" • FBX loaded: 3 cameras • ")))
        << vm.modelStatusText().toStdString();
    EXPECT_EQ(vm.selectedFBXCameraIndex(), -1);
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_EQ(store().storedLastModelPath(), path);
    EXPECT_EQ(store().loadLastModel()->kind, PersistedModelKind::fbx);
    // Unlike an OBJ load, the launch flag is start-up's business.
    EXPECT_TRUE(store().launchInProgress());

    // The fit comes a moment later, once.
    EXPECT_EQ(vm.fitRequestID(), 0);
    ASSERT_TRUE(pumpUntil([&] { return vm.fitRequestID() == 1; }, std::chrono::seconds(2)));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(vm.fitRequestID(), 1);
}

TEST_F(ModelLoadingTest, AnFBXWithoutCamerasSaysSoInBothLines) {
    ViewerViewModel& vm = make();
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kCubeFBX));
    ASSERT_NE(vm.mesh(), nullptr);
    EXPECT_EQ(vm.fbxCameraStatus(), QStringLiteral("FBX: 0 camera(s)"));
    const QStringList parts = vm.modelStatusText().split(QStringLiteral(" • "));
    ASSERT_GE(parts.size(), 2) << vm.modelStatusText().toStdString();
    EXPECT_EQ(parts[1], QStringLiteral("FBX loaded: 0 cameras"));
}

TEST_F(ModelLoadingTest, AnFBXWithTwoMeshesNeverReachesTheImporter) {
    const QString obj = QString::fromStdString(writeFile("stage.obj", kSquareOBJ));
    ViewerViewModel& vm = make();
    vm.openOBJModel(obj);
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kTwoMeshesFBX));
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: validation failed"));
    EXPECT_EQ(vm.validationErrors(), QStringList{QStringLiteral("Multiple meshes (2). Export as single mesh.")});
    expectNoModel(vm);
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(vm.fitRequestID(), 0);
}

struct VarnelAnswer {
    const char* name;
    const char* script;
    const char* expectedError;  // the alert's one line
};

void PrintTo(const VarnelAnswer& answer, std::ostream* out) { *out << answer.name; }

class VarnelFailure : public ModelLoadingTest, public testing::WithParamInterface<VarnelAnswer> {};

TEST_P(VarnelFailure, IsAModelErrorOnTheStatusTheCaptureLineAndTheAlert) {
    const VarnelAnswer& answer = GetParam();
    ViewerViewModel& vm = makeWithTool(fakeVarnel(answer.script), std::chrono::milliseconds(700));
    raiseLaunchFlag();
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kCubeFBX));
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: error"));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("FBX import failed: ") + QString::fromUtf8(answer.expectedError));
    EXPECT_EQ(vm.validationErrors(), QStringList{QString::fromUtf8(answer.expectedError)});
    expectNoModel(vm);
    EXPECT_FALSE(store().launchInProgress());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VarnelFailure,
    testing::Values(VarnelAnswer{"Silent", "exit 1", "FBX helper returned invalid output."},
                    VarnelAnswer{"Undecodable", "echo 'Segmentation fault'; echo 'reader crashed' >&2; exit 139",
                                 "reader crashed"},
                    VarnelAnswer{"NoOkKey", "echo '{\"meshCount\":1}'", "FBX helper returned invalid output."},
                    VarnelAnswer{"Hung", "exec sleep 30", "FBX helper did not finish."}),
    [](const testing::TestParamInfo<VarnelAnswer>& info) { return std::string(info.param.name); });

TEST_F(ModelLoadingTest, AMissingVarnelIsNamedInTheAlert) {
    ViewerViewModel& vm = makeWithTool(QString::fromStdString(folder.file("empty-bin")));
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kCubeFBX));
    EXPECT_EQ(vm.validationErrors(), QStringList{QStringLiteral("FBX helper tool not found in app bundle.")});
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("FBX import failed: FBX helper tool not found in app bundle."));
}

TEST_F(ModelLoadingTest, VarnelsOwnRefusalIsAValidationFailure) {
    ViewerViewModel& vm =
        makeWithTool(fakeVarnel("echo '{\"ok\":false,\"error\":\"Multiple meshes (4). Export as single mesh.\"}'"));
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kCubeFBX));
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: validation failed"));
    EXPECT_EQ(vm.validationErrors(), QStringList{QStringLiteral("Multiple meshes (4). Export as single mesh.")});
    expectNoModel(vm);
    // Not an error of the tool: the capture line is left alone.
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
}

TEST_F(ModelLoadingTest, AnOkWithoutMeshCountPassesAndTheImporterRuns) {
    ViewerViewModel& vm = makeWithTool(fakeVarnel("echo '{\"ok\":true}'"));
    const auto check = vm.runVarnelCheck(testDataQ(kCubeFBX));
    ASSERT_TRUE(check);
    EXPECT_TRUE(check.value().passed);
    EXPECT_EQ(check.value().message, QStringLiteral("FBX validated: 1 mesh"));
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kCubeFBX));
    EXPECT_NE(vm.mesh(), nullptr);
    EXPECT_FALSE(vm.showValidationAlert());
}

TEST_F(ModelLoadingTest, AnImporterErrorListsOneAlertLinePerLine) {
    // A checker that passes everything lets a broken file through to the importer.
    const QString broken = QString::fromStdString(writeFile("broken.fbx", std::string("Kaydara FBX Binary  \0\x1a\0 junk", 29)));
    ViewerViewModel& vm = makeWithTool(fakeVarnel("echo '{\"ok\":true,\"meshCount\":1}'"));
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(broken);
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: validation failed"));
    ASSERT_FALSE(vm.validationErrors().isEmpty());
    for (const QString& line : vm.validationErrors()) {
        EXPECT_FALSE(line.isEmpty());
        EXPECT_FALSE(line.contains(QLatin1Char('\n')));
    }
    expectNoModel(vm);
}

TEST_F(ModelLoadingTest, AnFBXLoadReplacesTheOBJAndAnOBJLoadForgetsTheFBXCameras) {
    const QString obj = QString::fromStdString(writeFile("stage.obj", kSquareOBJ));
    ViewerViewModel& vm = make();
    vm.openOBJModel(obj);
    vm.setModelKind(ModelKind::fbx);
    vm.openFBXModel(testDataQ(kThreeCamerasFBX));
    EXPECT_FALSE(vm.objURL());
    EXPECT_EQ(vm.fbxCameras().size(), 3u);
    vm.selectFBXCamera(1);

    vm.setModelKind(ModelKind::obj);
    vm.openOBJModel(obj);
    EXPECT_FALSE(vm.fbxURL());
    EXPECT_TRUE(vm.fbxCameras().empty());
    EXPECT_EQ(vm.selectedFBXCameraIndex(), -1);
    EXPECT_EQ(vm.fbxCameraStatus(), QStringLiteral("FBX: —"));
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ loaded: stage.obj"));
}

TEST_F(ModelLoadingTest, ClearingForgetsTheModelButKeepsTheVenues) {
    const QString obj = QString::fromStdString(writeFile("stage.obj", kSquareOBJ));
    const QString venue = QString::fromStdString(writeFile("hall.obj", kSquareOBJ));
    ViewerViewModel& vm = make();
    vm.openOBJModel(obj);
    ASSERT_TRUE(vm.addVenue(venue));
    raiseLaunchFlag();
    vm.clearModel();
    EXPECT_EQ(vm.mesh(), nullptr);
    EXPECT_FALSE(vm.objURL());
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("Model: cleared"));
    EXPECT_FALSE(store().storedLastModelPath());
    EXPECT_FALSE(store().launchInProgress());
    EXPECT_EQ(vm.venues().size(), 1u);
}

class FBXCameraTest : public ModelLoadingTest {
protected:
    ViewerViewModel& loadThreeCameras(std::shared_ptr<FakeBridge> bridge = {}) {
        ViewerViewModel& vm = make();
        if (bridge) vm.setCaptureBridge(bridge);
        vm.setModelKind(ModelKind::fbx);
        vm.openFBXModel(testDataQ(kThreeCamerasFBX));
        return vm;
    }
};

TEST_F(FBXCameraTest, SelectingACameraTakesItsViewpointAndStoresTheCamera) {
    auto bridge = std::make_shared<FakeBridge>();
    bridge->aspect = 2.0f;
    ViewerViewModel& vm = loadThreeCameras(bridge);
    ASSERT_EQ(vm.fbxCameras().size(), 3u) << vm.modelStatusText().toStdString();
    ASSERT_NE(vm.mesh(), nullptr);
    const FBXImportedCamera& chosen = *vm.fbxCameras()[0];  // 35 mm on a 36 mm film, at (0, 200, 1000)

    testing::internal::CaptureStdout();
    vm.selectFBXCamera(0);
    const std::string printed = testing::internal::GetCapturedStdout();

    // 35 mm on 36 mm film is 54.43° across; at 2:1 that is 2·atan(tan(27.22°)/2) high.
    const double horizontal = 2.0 * std::atan(18.0 / 35.0);
    const double vertical = 2.0 * std::atan(std::tan(horizontal / 2.0) / 2.0) * 180.0 / M_PI;
    EXPECT_NEAR(chosen.fovHDegrees(), horizontal * 180.0 / M_PI, 1e-3);
    EXPECT_NEAR(vm.fovDegrees(), vertical, 1e-3);
    EXPECT_FLOAT_EQ(vm.camera()->fovDegrees, vm.fovDegrees());
    const Float3 eye = vm.camera()->eyePosition();
    EXPECT_NEAR(eye.x, 0.0f, 1e-2f);
    EXPECT_NEAR(eye.y, 200.0f, 1e-2f);
    EXPECT_NEAR(eye.z, 1000.0f, 1e-2f);
    // The target goes as far along the lens axis (-Z) as the model's centre is from the eye.
    Float3 lo{1e9f, 1e9f, 1e9f}, hi{-1e9f, -1e9f, -1e9f};
    for (const Vertex& v : vm.mesh()->vertices) {
        lo = {std::min(lo.x, v.position[0]), std::min(lo.y, v.position[1]), std::min(lo.z, v.position[2])};
        hi = {std::max(hi.x, v.position[0]), std::max(hi.y, v.position[1]), std::max(hi.z, v.position[2])};
    }
    const float reach = length((lo + hi) * 0.5f - Float3{0.0f, 200.0f, 1000.0f});
    ASSERT_GT(reach, 100.0f);
    EXPECT_NEAR(vm.camera()->target.z, 1000.0f - reach, 0.5f);
    EXPECT_NEAR(vm.camera()->target.y, 200.0f, 0.5f);
    EXPECT_NEAR(vm.camera()->distance, reach, 0.5f);

    EXPECT_EQ(printed.rfind("FOV: fovH=54.43", 0), 0u) << printed;
    EXPECT_NE(printed.find("°, aspect=2.0, fovV="), std::string::npos) << printed;
    EXPECT_EQ(printed.substr(printed.size() - 3), "°\n") << printed;

    const auto stored = store().loadCameraState();
    ASSERT_TRUE(stored);
    EXPECT_NEAR(stored->fov, vertical, 1e-3);
    EXPECT_NEAR(stored->position.z, 1000.0f, 1e-2f);
}

TEST_F(FBXCameraTest, WithoutARendererTheAspectIsSixteenByNine) {
    ViewerViewModel& vm = loadThreeCameras();
    ASSERT_EQ(vm.fbxCameras().size(), 3u) << vm.modelStatusText().toStdString();
    testing::internal::CaptureStdout();
    vm.selectFBXCamera(1);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("aspect=1.7777778,"), std::string::npos) << printed;
    const double horizontal = vm.fbxCameras()[1]->fovHDegrees() * M_PI / 180.0;
    EXPECT_NEAR(vm.fovDegrees(), 2.0 * std::atan(std::tan(horizontal / 2.0) / (16.0 / 9.0)) * 180.0 / M_PI, 1e-3);
}

TEST_F(FBXCameraTest, AnIndexOutsideTheListLeavesTheViewAlone) {
    ViewerViewModel& vm = loadThreeCameras();
    ASSERT_EQ(vm.fbxCameras().size(), 3u) << vm.modelStatusText().toStdString();
    const CameraState before = vm.camera()->snapshot();
    for (int index : {3, -1, 99}) {
        testing::internal::CaptureStdout();
        vm.selectFBXCamera(index);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(vm.selectedFBXCameraIndex(), index);
        EXPECT_EQ(vm.camera()->snapshot(), before);
    }
    EXPECT_FALSE(store().loadCameraState());
}

class VenueTest : public ModelLoadingTest {};

TEST_F(VenueTest, AddedVenuesAreShownStoredAndHandedToTheRenderer) {
    auto bridge = std::make_shared<FakeBridge>();
    const QString hall = QString::fromStdString(writeFile("hall.obj", kSquareOBJ));
    ViewerViewModel& vm = make();
    vm.setCaptureBridge(bridge);
    ASSERT_TRUE(vm.addVenue(hall));
    ASSERT_TRUE(vm.addVenue(hall));  // the same file twice is two entries
    ASSERT_TRUE(vm.addVenue(testDataQ(kCubeFBX)));
    ASSERT_EQ(vm.venues().size(), 3u);
    EXPECT_NE(vm.venues()[0].id, vm.venues()[1].id);
    EXPECT_TRUE(vm.venues()[2].visible);
    EXPECT_EQ(vm.venues()[2].mesh->triangleCount(), 12u);
    ASSERT_EQ(bridge->venueUpdates.size(), 3u);
    EXPECT_EQ(bridge->venueUpdates.back().size(), 3u);
    EXPECT_EQ(bridge->venueUpdates.back()[2], vm.venues()[2].mesh);
    const auto stored = store().loadVenues();
    ASSERT_EQ(stored.size(), 3u);
    EXPECT_EQ(stored[0].path, hall);
    EXPECT_EQ(stored[2].path, testDataQ(kCubeFBX));
}

TEST_F(VenueTest, ContentReachesTheRendererIsRememberedAndOwnSourcesComeAndGo) {
    auto bridge = std::make_shared<FakeBridge>();
    const QString hall = QString::fromStdString(writeFile("hall.obj", kSquareOBJ));
    const QString still = QString::fromStdString(writeFile("still.png", "png"));
    const QString cut = QString::fromStdString(writeFile("cut.mp4", "mp4"));
    ViewerViewModel& vm = make();
    vm.setCaptureBridge(bridge);
    ASSERT_TRUE(vm.addVenue(hall));
    const QUuid id = vm.venues()[0].id;

    VenueContentSetting content;
    content.kind = VenueContentKind::canvasRegion;
    content.region = {1280, 0, 640, 360};
    vm.setVenueContent(id, content);
    ASSERT_EQ(bridge->venueDraws.back().size(), 1u);
    EXPECT_EQ(bridge->venueDraws.back()[0].kind, VenueContentKind::canvasRegion);
    EXPECT_EQ(bridge->venueDraws.back()[0].region, content.region);

    // Each own source is made once through the kinds table, and stopped when replaced.
    struct Step {
        SourceMode mode;
        QString path;
        QString sender;
        const char* made;  // null: the source stays
    };
    const std::vector<Step> steps = {
        {SourceMode::image, still, {}, "image"},
        {SourceMode::file, cut, {}, "silentFile"},
        {SourceMode::file, cut, {}, nullptr},
        {SourceMode::ndi, {}, QStringLiteral("Stage Left"), "sender"},
    };
    content.kind = VenueContentKind::ownSource;
    for (const Step& step : steps) {
        SCOPED_TRACE(static_cast<int>(step.mode));
        const size_t madeBefore = sources.made.size();
        const auto previous = vm.venues()[0].source;
        content.sourceMode = step.mode;
        content.sourcePath = step.path;
        content.sender = step.sender;
        vm.setVenueContent(id, content);
        if (step.made == nullptr) {
            EXPECT_EQ(sources.made.size(), madeBefore);
            EXPECT_EQ(vm.venues()[0].source, previous);
            continue;
        }
        ASSERT_EQ(sources.made.size(), madeBefore + 1);
        EXPECT_EQ(sources.made.back()->kind, step.made);
        EXPECT_EQ(sources.made.back()->path, step.mode == SourceMode::ndi ? step.sender : step.path);
        EXPECT_EQ(bridge->venueDraws.back()[0].source, sources.made.back());
        if (previous) {
            EXPECT_EQ(static_cast<FakeSource&>(*previous).stops, 1);
        }
    }
    EXPECT_FALSE(vm.venueSourceStatus(id).isEmpty());

    // The next start shows the same, with its own source made again.
    model->deactivate();
    model.reset();
    const size_t madeBefore = sources.made.size();
    ViewerViewModel& again = make();
    again.activate();
    ASSERT_EQ(again.venues().size(), 1u);
    EXPECT_EQ(again.venues()[0].content, content);
    const auto restored = std::find_if(sources.made.begin() + long(madeBefore), sources.made.end(),
                                       [](const auto& made) { return made->kind == "sender"; });
    ASSERT_NE(restored, sources.made.end());
    EXPECT_EQ(again.venues()[0].source, *restored);
    const auto source = *restored;
    again.removeVenue(again.venues()[0].id);
    EXPECT_EQ(source->stops, 1) << "a removed venue's source stops";
}

TEST_F(VenueTest, HidingTheOnlyVisibleVenueSendsAnEmptyListButKeepsTheEntryStored) {
    auto bridge = std::make_shared<FakeBridge>();
    ViewerViewModel& vm = make();
    vm.setCaptureBridge(bridge);
    ASSERT_TRUE(vm.addVenue(QString::fromStdString(writeFile("hall.obj", kSquareOBJ))));
    const QUuid id = vm.venues()[0].id;
    vm.setVenueVisible(id, false);
    EXPECT_TRUE(bridge->venueUpdates.back().empty());
    ASSERT_EQ(store().loadVenues().size(), 1u);
    EXPECT_FALSE(store().loadVenues()[0].visible);

    vm.setVenueVisible(QUuid::createUuid(), true);  // no such entry
    EXPECT_FALSE(vm.venues()[0].visible);
    vm.removeVenue(id);
    EXPECT_TRUE(vm.venues().empty());
    EXPECT_TRUE(store().loadVenues().empty());
    QSettings raw(settingsFile, QSettings::NativeFormat);
    EXPECT_FALSE(raw.contains(QStringLiteral("venuesRecord")));
}

TEST_F(VenueTest, FilesThatDoNotLoadRaiseTheAlertAndOthersAreIgnored) {
    ViewerViewModel& vm = make();
    EXPECT_FALSE(vm.addVenue(QString::fromStdString(writeFile("notes.txt", "hello"))));
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_TRUE(changes.empty());

    EXPECT_FALSE(vm.addVenue(testDataQ(kTwoMeshesFBX)));
    EXPECT_EQ(vm.validationErrors(), QStringList{QStringLiteral("Multiple meshes (2). Export as single mesh.")});
    EXPECT_TRUE(vm.showValidationAlert());

    EXPECT_FALSE(vm.addVenue(QString::fromStdString(writeFile("two.OBJ", kTwoObjectsOBJ))));
    EXPECT_EQ(vm.validationErrors().size(), 1);
    EXPECT_TRUE(vm.validationErrors()[0].contains(QStringLiteral("multiple objects")));
    EXPECT_TRUE(vm.venues().empty());
}

TEST_F(VenueTest, AnFBXVenueWithoutGeometryIsRefused) {
    ViewerViewModel& vm = makeWithTool(fakeVarnel("echo '{\"ok\":true,\"meshCount\":1}'"));
    EXPECT_FALSE(vm.addVenue(testDataQ(kCamerasOnlyFBX)));
    EXPECT_EQ(vm.validationErrors(), QStringList{QStringLiteral("FBX has no mesh geometry.")});
}

TEST_F(VenueTest, ThePanelAddsEveryChosenFileInOrder) {
    const QString a = QString::fromStdString(writeFile("a.obj", kSquareOBJ));
    const QString b = QString::fromStdString(writeFile("b.obj", kSquareOBJ));
    picker->answers[FilePickKind::venues] = {{a, b}};
    ViewerViewModel& vm = make();
    vm.chooseVenues();
    ASSERT_TRUE(pumpUntil([&] { return vm.venues().size() == 2; }));
    EXPECT_EQ(vm.venues()[0].url, a);
    EXPECT_EQ(vm.venues()[1].url, b);
}

TEST_F(VenueTest, RestoringTwoVenuesWhereTheFirstNoLongerLoadsKeepsTheSecond) {
    const std::string first = writeFile("first.obj", kSquareOBJ);
    const QString second = QString::fromStdString(writeFile("second.obj", kSquareOBJ));
    store().saveVenues({{QString::fromStdString(first), true}, {second, false}});
    writeText(first, kTwoObjectsOBJ);

    ViewerViewModel& vm = make();
    vm.activate();
    ASSERT_EQ(vm.venues().size(), 1u);
    EXPECT_EQ(vm.venues()[0].url, second);
    EXPECT_FALSE(vm.venues()[0].visible);
    EXPECT_TRUE(vm.showValidationAlert());
    EXPECT_EQ(vm.validationErrors().size(), 1);
    EXPECT_EQ(changesOf(Field::showValidationAlert), 1);
    const auto stored = store().loadVenues();
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0].path, second);
    EXPECT_FALSE(stored[0].visible);
}

}  // namespace
}  // namespace lumbrix::test
