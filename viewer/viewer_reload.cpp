// The view model's reloads: new versions of the model, the venues and the source's file
// replace the old ones where they are, so the camera, the play position and every setting
// stay; a version that does not load leaves the old one shown.
#include <algorithm>

#include "platform/console_line.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

// The file a venue plays as its own source (a video or a picture); none for a sender.
std::optional<QString> ownSourceFile(const VenueEntry& venue) {
    const VenueContentSetting& content = venue.content;
    if (content.kind != VenueContentKind::ownSource || content.sourceMode == SourceMode::ndi) return std::nullopt;
    if (content.sourcePath.isEmpty()) return std::nullopt;
    return content.sourcePath;
}

}  // namespace

void ViewerViewModel::setReloadFilesWhenChanged(bool value) {
    write(Field::reloadFilesWhenChanged, reloadFilesWhenChanged_, value);
    persistence_.saveReloadFilesWhenChanged(value);
    fileWatch_->setEnabled(value);
}

QStringList ViewerViewModel::watchedFiles() const {
    QStringList files;
    if (objURL_) files.append(*objURL_);
    if (fbxURL_) files.append(*fbxURL_);
    for (const VenueEntry& venue : venues_) {
        files.append(venue.url);
        if (const auto own = ownSourceFile(venue)) files.append(*own);
    }
    if (const auto played = sourceKind(sourceMode_).playedFile(*this)) files.append(*played);
    files.removeDuplicates();
    return files;
}

void ViewerViewModel::updateWatchedFiles(Field field) {
    switch (field) {
    case Field::objURL:
    case Field::fbxURL:
    case Field::venues:
    case Field::sourceMode:
    case Field::fileURL:
    case Field::imageURL:
        fileWatch_->setFiles(watchedFiles());
        break;
    default:
        break;
    }
}

void ViewerViewModel::reloadFiles() {
    reloadModel();
    QStringList venuesDone;
    for (const VenueEntry& venue : std::vector<VenueEntry>(venues_)) {
        if (venuesDone.contains(venue.url)) continue;
        venuesDone.append(venue.url);
        reloadVenue(venue.url);
    }
    for (const VenueEntry& venue : std::vector<VenueEntry>(venues_)) {
        const auto own = ownSourceFile(venue);
        if (!own || venuesDone.contains(*own)) continue;
        venuesDone.append(*own);
        reloadVenueSources(*own);
    }
    reloadSourceFile();
    for (const QString& path : watchedFiles()) fileWatch_->adopt(path);
}

void ViewerViewModel::reloadChangedFile(const QString& path) {
    printConsoleLine("File changed: " + path.toStdString());
    if (objURL_ == path || fbxURL_ == path) reloadModel();
    if (std::any_of(venues_.begin(), venues_.end(), [&path](const VenueEntry& venue) { return venue.url == path; })) {
        reloadVenue(path);
    }
    reloadVenueSources(path);
    if (sourceKind(sourceMode_).playedFile(*this) == path) reloadSourceFile();
}

void ViewerViewModel::showReloadFailure(const QStringList& errors, const QString& status) {
    if (!status.isEmpty()) write(Field::modelStatusText, modelStatusText_, status);
    write(Field::validationErrors, validationErrors_, errors);
    write(Field::showValidationAlert, showValidationAlert_, true);
}

bool ViewerViewModel::reloadModel() {
    // By the file shown rather than the kind picked: the picker may have moved on
    // without a file being chosen.
    if (objURL_) {
        auto read = readOBJModel(*objURL_);
        if (!read) {
            showReloadFailure(read.error().errors, read.error().status);
            return false;
        }
        showOBJMesh(std::move(read.value()), *objURL_);
        return true;
    }
    if (fbxURL_) {
        auto read = readFBXModel(*fbxURL_);
        if (!read) {
            const ModelReadFailure& failure = read.error();
            if (!failure.captureMessage.isEmpty()) setLastCaptureMessage(failure.captureMessage);
            showReloadFailure(failure.errors, failure.status);
            return false;
        }
        // The chosen scene camera stays chosen but is not applied again: the user may
        // have moved since, and the view is theirs.
        const int cameras = static_cast<int>(read.value()->cameras().size());
        showFBXScene(*read.value(), *fbxURL_, selectedFBXCameraIndex_ < cameras ? selectedFBXCameraIndex_ : -1);
        return true;
    }
    return false;
}

bool ViewerViewModel::reloadVenue(const QString& path) {
    auto read = readVenueMesh(path);
    if (!read) return false;
    if (!*read) {
        showReloadFailure({lastPathComponent(path) + QStringLiteral(": ") + read->error()}, {});
        return false;
    }
    std::vector<VenueEntry> venues = venues_;
    for (VenueEntry& venue : venues) {
        if (venue.url == path) venue.mesh = read->value();
    }
    setVenues(std::move(venues));
    return true;
}

bool ViewerViewModel::reloadVenueSources(const QString& path) {
    auto plays = [&path](const VenueEntry& venue) { return ownSourceFile(venue) == path; };
    const auto first = std::find_if(venues_.begin(), venues_.end(), plays);
    if (first == venues_.end()) return false;
    // One file, read once: every venue playing it plays it as the same kind.
    const SourceKind& kind = sourceKind(first->content.sourceMode);
    if (kind.fileProblem != nullptr) {
        if (const auto problem = kind.fileProblem(path)) {
            showReloadFailure({lastPathComponent(path) + QStringLiteral(": ") + *problem}, {});
            return false;
        }
    }
    return remakeVenueSources(plays);
}

bool ViewerViewModel::reloadSourceFile() {
    const SourceKind& kind = sourceKind(sourceMode_);
    const auto played = kind.playedFile(*this);
    if (!played || kind.fileProblem == nullptr) return false;
    if (const auto problem = kind.fileProblem(*played)) {
        showReloadFailure({lastPathComponent(*played) + QStringLiteral(": ") + *problem}, {});
        return false;
    }
    std::optional<double> position;
    if (kind.hasTimeline && activeSource_) position = activeSource_->currentSeconds();
    applySource();
    if (position && activeSource_ && activeSource_->isSeekable()) {
        // A shorter cut than the old one ends where it ends.
        if (const auto duration = activeSource_->durationSeconds()) position = std::min(*position, *duration);
        activeSource_->seek(*position);
        setScrubSeconds(*position);
    }
    recording_->sourceReplaced();
    return true;
}

}  // namespace lumbrix
