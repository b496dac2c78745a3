// The view model's model and venue operations: OBJ and FBX loads with the Varnel check,
// the FBX cameras, and the venue list.
#include <algorithm>
#include <charconv>

#include <QFileInfo>
#include <QPointer>

#include "model/fbx_scene_importer.h"
#include "model/obj_loader.h"
#include "platform/console_line.h"
#include "render/scene_camera.h"
#include "viewer/path_name.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

constexpr const char* kFBXVenueErrorDomain = "FBXVenue";
constexpr float kAspectWithoutRenderer = 1.7777778f;

// The importer's vertex and index arrays become the mesh's own, whole records only, in
// file order; a large model is not copied once more on the GUI thread.
std::shared_ptr<const Mesh> meshFromImported(const FBXImportedMesh& imported) {
    return std::make_shared<const Mesh>(imported.toMesh());
}

Float3 boundsCentre(const std::shared_ptr<const Mesh>& mesh) {
    if (!mesh || mesh->vertices.empty()) return {};
    std::array<float, 3> lo = mesh->vertices.front().position, hi = lo;
    for (const Vertex& vertex : mesh->vertices) {
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis] = std::min(lo[axis], vertex.position[axis]);
            hi[axis] = std::max(hi[axis], vertex.position[axis]);
        }
    }
    return {(lo[0] + hi[0]) * 0.5f, (lo[1] + hi[1]) * 0.5f, (lo[2] + hi[2]) * 0.5f};
}

// The shortest text that reads back as the same float, with ".0" on whole numbers.
std::string floatText(float value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    if (text.find_first_of(".eainf") == std::string::npos) text += ".0";
    return text;
}

QStringList nonEmptyLines(const std::string& text) {
    QStringList lines = QString::fromStdString(text).split(QLatin1Char('\n'));
    lines.removeIf([](const QString& line) { return line.isEmpty(); });
    return lines;
}

QString describeQ(const Error& error) { return QString::fromStdString(error.description); }

}  // namespace

Expected<VarnelCheck, Error> ViewerViewModel::runVarnelCheck(const QString& fbxPath) const {
    return lumbrix::runVarnelCheck(fbxPath, executableDir(), dependencies_.varnelTimeout);
}

void ViewerViewModel::chooseOBJModel() {
    setModelKind(ModelKind::obj);
    if (!dependencies_.filePicker) return;
    dependencies_.filePicker->pick(FilePickKind::objModel, [weak = QPointer<ViewerViewModel>(this)](QStringList paths) {
        if (weak && !paths.isEmpty()) weak->openOBJModel(paths.first());
    });
}

void ViewerViewModel::chooseFBXModel() {
    setModelKind(ModelKind::fbx);
    if (!dependencies_.filePicker) return;
    dependencies_.filePicker->pick(FilePickKind::fbxModel, [weak = QPointer<ViewerViewModel>(this)](QStringList paths) {
        if (weak && !paths.isEmpty()) weak->openFBXModel(paths.first());
    });
}

void ViewerViewModel::openOBJModel(const QString& path) {
    write(Field::fbxURL, fbxURL_, std::nullopt);
    resetFBXCameras();
    write(Field::objURL, objURL_, path);
    loadOBJModel();
}

void ViewerViewModel::openFBXModel(const QString& path) {
    write(Field::objURL, objURL_, std::nullopt);
    loadOBJModel();
    write(Field::mesh, mesh_, nullptr);
    write(Field::fbxURL, fbxURL_, path);
    loadFBXModel(path);
}

void ViewerViewModel::resetFBXCameras() {
    write(Field::fbxCameras, fbxCameras_, std::vector<std::shared_ptr<FBXImportedCamera>>{});
    write(Field::selectedFBXCameraIndex, selectedFBXCameraIndex_, -1);
    applySelectedFBXCamera();
    write(Field::fbxCameraStatus, fbxCameraStatus_, QStringLiteral("FBX: —"));
}

void ViewerViewModel::failModelLoad(const QStringList& errors, const QString& status, bool sameAsStored) {
    write(Field::modelStatusText, modelStatusText_, status);
    write(Field::validationErrors, validationErrors_, errors);
    write(Field::showValidationAlert, showValidationAlert_, true);
    persistence_.removeLastModelRecord();
    // While start-up restores the stored model the flag is start-up's to lower.
    if (!sameAsStored) persistence_.setLaunchInProgress(false);
}

Expected<std::shared_ptr<const Mesh>, ModelReadFailure> ViewerViewModel::readOBJModel(const QString& path) const {
    auto loaded = OBJLoader::load(path.toStdString());
    if (loaded) return std::make_shared<const Mesh>(std::move(loaded.value()));

    const OBJLoadError& error = loaded.error();
    const auto* objError = std::get_if<OBJError>(&error);
    const bool validation = objError != nullptr && objError->errorCase == OBJErrorCase::validationFailed;
    QStringList errors;
    if (validation) {
        std::string printed = "OBJ load failed: [";
        for (size_t i = 0; i < objError->messages.size(); ++i) {
            printed += (i > 0 ? ", \"" : "\"") + objError->messages[i] + "\"";
            errors.push_back(QString::fromStdString(objError->messages[i]));
        }
        printConsoleLine(printed + "]");
    } else {
        printConsoleLine("OBJ load failed: " + describe(error));
        errors.push_back(QString::fromStdString(describe(error)));
    }
    return unexpected(ModelReadFailure{
        errors, validation ? QStringLiteral("OBJ validation failed:") : QStringLiteral("Model: error"), {}});
}

Expected<std::shared_ptr<const FBXImportedScene>, ModelReadFailure> ViewerViewModel::readFBXModel(
    const QString& path) const {
    const QString validationFailed = QStringLiteral("Model: validation failed");
    // Before Varnel: its fixed line cannot say that the path is a pipe, a folder or gone,
    // and the reason is what the user needs.
    if (const auto unreadable = FBXSceneImporter::checkFile(path.toStdString())) {
        return unexpected(ModelReadFailure{nonEmptyLines(unreadable->description), validationFailed, {}});
    }
    const auto check = runVarnelCheck(path);
    if (!check) {
        const QString text = describeQ(check.error());
        return unexpected(ModelReadFailure{{text}, QStringLiteral("Model: error"), QStringLiteral("FBX import failed: ") + text});
    }
    if (!check.value().passed) return unexpected(ModelReadFailure{{check.value().message}, validationFailed, {}});

    // Only a file the separate checker has read without trouble reaches this process.
    auto imported = FBXSceneImporter::loadSceneFromURL(path.toStdString());
    if (!imported) {
        return unexpected(ModelReadFailure{nonEmptyLines(imported.error().description), validationFailed, {}});
    }
    return std::shared_ptr<const FBXImportedScene>(std::move(imported.value()));
}

void ViewerViewModel::loadOBJModel() {
    if (modelKind_ != ModelKind::obj || !objURL_) return;
    const QString path = *objURL_;
    const bool sameAsStored = persistence_.storedLastModelPath() == path;

    auto read = readOBJModel(path);
    if (read) {
        showOBJMesh(std::move(read.value()), path);
        persistence_.setLaunchInProgress(false);
        return;
    }
    write(Field::mesh, mesh_, nullptr);
    write(Field::objURL, objURL_, std::nullopt);
    loadOBJModel();
    failModelLoad(read.error().errors, read.error().status, sameAsStored);
}

void ViewerViewModel::showOBJMesh(std::shared_ptr<const Mesh> mesh, const QString& path) {
    write(Field::mesh, mesh_, std::move(mesh));
    persistence_.storeLastModelRecord(PersistedModelKind::obj, path);
    write(Field::modelStatusText, modelStatusText_, QStringLiteral("OBJ loaded: ") + lastPathComponent(path));
    write(Field::validationErrors, validationErrors_, QStringList{});
    write(Field::showValidationAlert, showValidationAlert_, false);
}

void ViewerViewModel::loadFBXModel(const QString& path) {
    const bool sameAsStored = persistence_.storedLastModelPath() == path;
    auto read = readFBXModel(path);
    if (!read) {
        const ModelReadFailure& failure = read.error();
        if (!failure.captureMessage.isEmpty()) setLastCaptureMessage(failure.captureMessage);
        write(Field::mesh, mesh_, nullptr);
        write(Field::fbxURL, fbxURL_, std::nullopt);
        resetFBXCameras();
        failModelLoad(failure.errors, failure.status, sameAsStored);
        return;
    }
    showFBXScene(*read.value(), path, -1);

    // A moment later, so the 3D view has taken the new mesh before it frames it.
    dependencies_.mainQueue->postDelayed(kFitDelay, [weak = QPointer<ViewerViewModel>(this)] {
        if (weak) weak->requestFit();
    });
}

void ViewerViewModel::showFBXScene(const FBXImportedScene& scene, const QString& path, int selectedCamera) {
    write(Field::objURL, objURL_, std::nullopt);
    loadOBJModel();
    write(Field::fbxCameras, fbxCameras_, scene.cameras());
    const QString cameraCount = QString::number(fbxCameras_.size());
    write(Field::fbxCameraStatus, fbxCameraStatus_, QStringLiteral("FBX: ") + cameraCount + QStringLiteral(" camera(s)"));
    write(Field::selectedFBXCameraIndex, selectedFBXCameraIndex_, selectedCamera);
    write(Field::mesh, mesh_, scene.mesh() ? meshFromImported(*scene.mesh()) : nullptr);

    QStringList status{QString::fromStdString(scene.statusText()), QStringLiteral("FBX loaded: ") + cameraCount +
                                                                        QStringLiteral(" cameras")};
    if (!scene.warningText().empty()) status.push_back(QString::fromStdString(scene.warningText()));
    write(Field::modelStatusText, modelStatusText_, status.join(QStringLiteral(" \u2022 ")));
    persistence_.storeLastModelRecord(PersistedModelKind::fbx, path);
    write(Field::validationErrors, validationErrors_, QStringList{});
    write(Field::showValidationAlert, showValidationAlert_, false);
}

void ViewerViewModel::clearModel() {
    persistence_.clearLastModel();
    write(Field::objURL, objURL_, std::nullopt);
    loadOBJModel();
    write(Field::fbxURL, fbxURL_, std::nullopt);
    write(Field::mesh, mesh_, nullptr);
    resetFBXCameras();
    write(Field::modelStatusText, modelStatusText_, QStringLiteral("Model: cleared"));
    persistence_.setLaunchInProgress(false);
}

void ViewerViewModel::selectFBXCamera(int index) {
    write(Field::selectedFBXCameraIndex, selectedFBXCameraIndex_, index);
    applySelectedFBXCamera();
}

void ViewerViewModel::applySelectedFBXCamera() {
    if (selectedFBXCameraIndex_ < 0 || static_cast<size_t>(selectedFBXCameraIndex_) >= fbxCameras_.size()) return;
    const FBXImportedCamera& chosen = *fbxCameras_[static_cast<size_t>(selectedFBXCameraIndex_)];
    const auto bridge = captureBridge_.lock();
    const float aspect = bridge ? bridge->currentAspectRatio() : kAspectWithoutRenderer;
    const float horizontal = chosen.fovHDegrees();
    const float vertical = verticalFovDegrees(horizontal, aspect);
    camera_->fovDegrees = vertical;
    setFieldOfView(vertical);
    const Float3 position{chosen.position()[0], chosen.position()[1], chosen.position()[2]};
    const Float3 forward{chosen.forward()[0], chosen.forward()[1], chosen.forward()[2]};
    lookFromSceneCamera(*camera_, position, forward, boundsCentre(mesh_));
    printConsoleLine("FOV: fovH=" + floatText(horizontal) + "°, aspect=" + floatText(aspect) +
                     ", fovV=" + floatText(vertical) + "°");
    persistence_.saveCameraState(camera_->snapshot());
}

void ViewerViewModel::chooseVenues() {
    if (!dependencies_.filePicker) return;
    dependencies_.filePicker->pick(FilePickKind::venues, [weak = QPointer<ViewerViewModel>(this)](QStringList paths) {
        for (const QString& path : paths) {
            if (!weak) return;
            weak->addVenue(path);
        }
    });
}

Expected<std::shared_ptr<const Mesh>, Error> ViewerViewModel::loadFBXVenueMesh(const QString& path) const {
    if (auto unreadable = FBXSceneImporter::checkFile(path.toStdString())) return unexpected(std::move(*unreadable));
    auto check = runVarnelCheck(path);
    if (!check) return unexpected(std::move(check.error()));
    if (!check.value().passed) return unexpected(Error(kFBXVenueErrorDomain, 1, check.value().message.toStdString()));
    auto imported = FBXSceneImporter::loadSceneFromURL(path.toStdString());
    if (!imported) return unexpected(std::move(imported.error()));
    if (!imported.value()->mesh()) return unexpected(Error(kFBXVenueErrorDomain, 2, "FBX has no mesh geometry."));
    return meshFromImported(*imported.value()->mesh());
}

std::optional<Expected<std::shared_ptr<const Mesh>, QString>> ViewerViewModel::readVenueMesh(const QString& path) const {
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("obj")) {
        auto loaded = OBJLoader::load(path.toStdString());
        if (!loaded) return unexpected(QString::fromStdString(describe(loaded.error())));
        return std::make_shared<const Mesh>(std::move(loaded.value()));
    }
    if (extension == QLatin1String("fbx")) {
        auto loaded = loadFBXVenueMesh(path);
        if (!loaded) return unexpected(describeQ(loaded.error()));
        return std::move(loaded.value());
    }
    return std::nullopt;
}

bool ViewerViewModel::addVenue(const QString& path) {
    auto read = readVenueMesh(path);
    if (!read) return false;
    if (!*read) {
        write(Field::validationErrors, validationErrors_, QStringList{read->error()});
        write(Field::showValidationAlert, showValidationAlert_, true);
        return false;
    }
    std::vector<VenueEntry> venues = venues_;
    venues.push_back({QUuid::createUuid(), path, std::move(read->value()), true, {}, nullptr});
    setVenues(std::move(venues));
    return true;
}

void ViewerViewModel::setVenueVisible(const QUuid& id, bool visible) {
    auto venues = venues_;
    const auto found = std::find_if(venues.begin(), venues.end(), [&id](const VenueEntry& entry) { return entry.id == id; });
    if (found == venues.end()) return;
    found->visible = visible;
    setVenues(std::move(venues));
}

void ViewerViewModel::removeVenue(const QUuid& id) {
    auto venues = venues_;
    std::erase_if(venues, [&id](const VenueEntry& entry) { return entry.id == id; });
    setVenues(std::move(venues));
}

void ViewerViewModel::setVenues(std::vector<VenueEntry> venues) {
    stopDroppedVenueSources(venues_, venues);
    write(Field::venues, venues_, std::move(venues));
    syncVenues();
}

void ViewerViewModel::syncVenues() {
    std::vector<VenueDraw> visible;
    std::vector<VenueLocation> stored;
    for (const VenueEntry& entry : venues_) {
        if (entry.visible) visible.push_back({entry.mesh, entry.content.kind, entry.content.region, entry.source});
        stored.push_back({entry.url, entry.visible, entry.content});
    }
    if (const auto bridge = captureBridge_.lock()) bridge->setVenues(std::move(visible));
    persistence_.saveVenues(stored);
}

}  // namespace lumbrix
