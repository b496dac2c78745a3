// What each venue shows: nothing (grey context), a region of the canvas (the current
// source), or a source of its own made through the kinds table.
#include <QPointer>

#include "sources/ndi_receiver.h"
#include "viewer/path_name.h"
#include "viewer/source_kinds.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

bool sameOwnSource(const VenueContentSetting& a, const VenueContentSetting& b) {
    if (a.kind != VenueContentKind::ownSource || b.kind != VenueContentKind::ownSource) return false;
    return a.sourceMode == b.sourceMode && a.sourcePath == b.sourcePath && a.sender == b.sender;
}

}  // namespace

std::shared_ptr<TextureSource> ViewerViewModel::makeVenueSource(const VenueContentSetting& content) const {
    if (content.kind != VenueContentKind::ownSource) return nullptr;
    const SourceMakers& makers = dependencies_.sourceMakers;
    std::shared_ptr<TextureSource> source;
    switch (content.sourceMode) {
    case SourceMode::ndi:
        if (!content.sender.isEmpty()) {
            // Senders only the extra addresses reach must be found by the venue's finder too.
            NDIReceptionChoices choices;
            if (receiver_) choices = {receiver_->bandwidth(), receiver_->extraIPs()};
            source = makers.namedSender(content.sender, choices);
        }
        break;
    case SourceMode::file:
        if (!content.sourcePath.isEmpty()) source = makers.silentFile(content.sourcePath);
        break;
    case SourceMode::image:
        if (!content.sourcePath.isEmpty()) source = makers.image(content.sourcePath);
        break;
    }
    if (!source) return nullptr;
    // A screen's own feed runs on by itself: the transport drives the main source only.
    source->setLooping(true);
    source->setPlaying(true);
    source->prepare();
    return source;
}

void ViewerViewModel::stopDroppedVenueSources(const std::vector<VenueEntry>& before,
                                              const std::vector<VenueEntry>& after) {
    for (const VenueEntry& old : before) {
        if (!old.source) continue;
        const bool kept = std::any_of(after.begin(), after.end(),
                                      [&old](const VenueEntry& entry) { return entry.source == old.source; });
        if (!kept) old.source->stop();
    }
}

void ViewerViewModel::setVenueContent(const QUuid& id, const VenueContentSetting& content) {
    auto venues = venues_;
    const auto found =
        std::find_if(venues.begin(), venues.end(), [&id](const VenueEntry& entry) { return entry.id == id; });
    if (found == venues.end()) return;
    if (!sameOwnSource(found->content, content)) found->source = makeVenueSource(content);
    found->content = content;
    setVenues(std::move(venues));
}

bool ViewerViewModel::remakeVenueSources(const std::function<bool(const VenueEntry&)>& which) {
    std::vector<VenueEntry> venues = venues_;
    bool remade = false;
    for (VenueEntry& venue : venues) {
        if (!which(venue)) continue;
        // A video goes on from where it was; a shorter cut ends where it ends.
        const double position = venue.source ? venue.source->currentSeconds().value_or(-1.0) : -1.0;
        venue.source = makeVenueSource(venue.content);
        if (position >= 0.0 && venue.source && venue.source->isSeekable()) {
            venue.source->seek(std::min(position, venue.source->durationSeconds().value_or(position)));
        }
        remade = true;
    }
    // The old sources stop as the new ones take their place.
    if (remade) setVenues(std::move(venues));
    return remade;
}

void ViewerViewModel::remakeVenueSenders() {
    remakeVenueSources([](const VenueEntry& venue) {
        return venue.content.kind == VenueContentKind::ownSource && venue.content.sourceMode == SourceMode::ndi;
    });
}

CanvasRegion ViewerViewModel::wholeCanvas() const {
    if (const auto bridge = captureBridge_.lock()) {
        if (const auto size = bridge->sourcePictureSize()) return {0, 0, size->first, size->second};
    }
    return kDefaultCanvas;
}

void ViewerViewModel::chooseVenueSourceFile(const QUuid& id, SourceMode mode) {
    const SourceKind& kind = sourceKind(mode);
    if (!dependencies_.filePicker || !kind.pick) return;
    dependencies_.filePicker->pick(*kind.pick, [weak = QPointer<ViewerViewModel>(this), id, mode](QStringList paths) {
        if (!weak || paths.isEmpty()) return;
        const VenueEntry* found = weak->venue(id);
        if (found == nullptr) return;
        VenueContentSetting content = found->content;
        content.kind = VenueContentKind::ownSource;
        content.sourceMode = mode;
        content.sourcePath = paths.first();
        weak->setVenueContent(id, content);
    });
}

const VenueEntry* ViewerViewModel::venue(const QUuid& id) const {
    const auto found =
        std::find_if(venues_.begin(), venues_.end(), [&id](const VenueEntry& entry) { return entry.id == id; });
    return found == venues_.end() ? nullptr : &*found;
}

QString ViewerViewModel::venueSourceStatus(const QUuid& id) const {
    const VenueEntry* found = venue(id);
    if (found == nullptr || found->content.kind != VenueContentKind::ownSource) return {};
    const VenueContentSetting& content = found->content;
    if (content.sourceMode == SourceMode::ndi) {
        return content.sender.isEmpty() ? QStringLiteral("NDI: none") : QStringLiteral("NDI: ") + content.sender;
    }
    const SourceKind& kind = sourceKind(content.sourceMode);
    if (content.sourcePath.isEmpty()) return kind.label + QStringLiteral(": none");
    return lastPathComponent(content.sourcePath);
}

}  // namespace lumbrix
