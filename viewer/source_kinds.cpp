#include "viewer/source_kinds.h"

#include <array>

#include "sources/file_texture_source.h"
#include "sources/image_texture_source.h"
#include "sources/ndi_receiver.h"
#include "sources/ndi_texture_source.h"
#include "viewer/path_name.h"
#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

// Kinds without files only add to the shared facts what the viewer needs of them.
struct ViewerRow {
    std::optional<FilePickKind> pick;
    void (*openFile)(ViewerViewModel&, const QString&);
    std::shared_ptr<TextureSource> (*make)(const ViewerViewModel&, const SourceMakers&);
    QString (*statusText)(const ViewerViewModel&);
    std::optional<QString> (*fileProblem)(const QString&);
    std::optional<QString> (*playedFile)(const ViewerViewModel&);
};

template <std::optional<std::string> (*check)(const std::string&)>
std::optional<QString> problemOf(const QString& path) {
    if (auto problem = check(path.toStdString())) return QString::fromStdString(*problem);
    return std::nullopt;
}

// Each kind's rows in kSourceDescriptors order. The sources take looping and playing in
// different orders; the order is kept as each kind has always had it.
constexpr std::array<ViewerRow, kSourceDescriptors.size()> kViewerRows{{
    {std::nullopt, nullptr,
     [](const ViewerViewModel& viewModel, const SourceMakers& makers) {
         std::shared_ptr<TextureSource> source = makers.ndi(viewModel.receiver());
         source->setLooping(viewModel.isLooping());
         source->setPlaying(viewModel.isPlaying());
         return source;
     },
     [](const ViewerViewModel& viewModel) {
         const int selected = viewModel.receiver()->selectedIndex();
         const auto& senders = viewModel.receiver()->sources();
         if (selected >= 0 && static_cast<size_t>(selected) < senders.size()) {
             return QStringLiteral("NDI: ") + QString::fromStdString(senders[static_cast<size_t>(selected)]);
         }
         return QStringLiteral("NDI: none");
     },
     nullptr, [](const ViewerViewModel&) -> std::optional<QString> { return std::nullopt; }},
    {FilePickKind::videoFile, [](ViewerViewModel& viewModel, const QString& path) { viewModel.setVideoFile(path); },
     [](const ViewerViewModel& viewModel, const SourceMakers& makers) -> std::shared_ptr<TextureSource> {
         if (!viewModel.fileURL()) return nullptr;
         std::shared_ptr<TextureSource> source = makers.file(*viewModel.fileURL());
         source->setLooping(viewModel.isLooping());
         source->setPlaying(viewModel.isPlaying());
         source->prepare();
         return source;
     },
     [](const ViewerViewModel& viewModel) {
         return viewModel.fileURL() ? lastPathComponent(*viewModel.fileURL()) : QStringLiteral("File: none");
     },
     problemOf<&FileTextureSource::checkFile>, [](const ViewerViewModel& viewModel) { return viewModel.fileURL(); }},
    {FilePickKind::imageFile, [](ViewerViewModel& viewModel, const QString& path) { viewModel.setImageFile(path); },
     [](const ViewerViewModel& viewModel, const SourceMakers& makers) -> std::shared_ptr<TextureSource> {
         if (!viewModel.imageURL()) return nullptr;
         std::shared_ptr<TextureSource> source = makers.image(*viewModel.imageURL());
         source->setPlaying(viewModel.isPlaying());
         source->setLooping(viewModel.isLooping());
         return source;
     },
     [](const ViewerViewModel& viewModel) {
         return viewModel.imageURL() ? lastPathComponent(*viewModel.imageURL()) : QStringLiteral("Image: none");
     },
     problemOf<&ImageTextureSource::checkFile>, [](const ViewerViewModel& viewModel) { return viewModel.imageURL(); }},
}};

// A venue's own NDI feed: its receiver is the venue's alone, so stopping the picture
// stops the receiver too (the main source's receiver outlives its pictures).
class OwnReceiverSource final : public TextureSource {
public:
    explicit OwnReceiverSource(std::shared_ptr<NDIReceiver> receiver)
        : receiver_(std::move(receiver)),
          picture_(std::make_shared<NDITextureSource>(receiver_, NDIUploadPath::direct, NDISoundPlayback::none)) {}

    void stop() override { receiver_->shutdown(); }
    void setPlaying(bool playing) override { picture_->setPlaying(playing); }
    void setLooping(bool looping) override { picture_->setLooping(looping); }
    unsigned int texture() override { return picture_->texture(); }
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}

private:
    std::shared_ptr<NDIReceiver> receiver_;
    std::shared_ptr<NDITextureSource> picture_;
};

QString fromView(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

const std::array<SourceKind, kSourceDescriptors.size()>& table() {
    static const auto kinds = [] {
        std::array<SourceKind, kSourceDescriptors.size()> rows{};
        for (size_t i = 0; i < rows.size(); ++i) {
            const SourceDescriptor& facts = kSourceDescriptors[i];
            const ViewerRow& viewer = kViewerRows[i];
            QStringList extensions;
            for (std::string_view extension : facts.extensions) extensions.append(fromView(extension));
            rows[i] = SourceKind{facts.mode,   fromView(facts.label), viewer.pick,  extensions, facts.hasTimeline,
                                 facts.hasSound, viewer.openFile,     viewer.make, viewer.statusText, viewer.fileProblem,
                                 viewer.playedFile};
        }
        return rows;
    }();
    return kinds;
}

}  // namespace

std::span<const SourceKind> sourceKinds() { return table(); }

const SourceKind& sourceKind(SourceMode mode) {
    for (const SourceKind& kind : table()) {
        if (kind.mode == mode) return kind;
    }
    // Every mode has a row (the table test holds it to that); an unknown value is a bug.
    return table().front();
}

const SourceKind* sourceKindForFile(const QString& path) {
    const SourceDescriptor* descriptor = sourceDescriptorForPath(path.toStdString());
    return descriptor != nullptr ? &sourceKind(descriptor->mode) : nullptr;
}

SourceMakers withRealSourceMakers(SourceMakers given, const std::shared_ptr<MainQueue>& mainQueue) {
    if (!given.ndi) {
        given.ndi = [](const std::shared_ptr<NDIReceiver>& receiver) {
            return std::make_shared<NDITextureSource>(receiver);
        };
    }
    if (!given.file) {
        given.file = [mainQueue](const QString& path) { return FileTextureSource::create(path.toStdString(), mainQueue); };
    }
    if (!given.image) {
        given.image = [](const QString& path) { return std::make_shared<ImageTextureSource>(path.toStdString()); };
    }
    if (!given.silentFile) {
        given.silentFile = [mainQueue](const QString& path) {
            return FileTextureSource::create(path.toStdString(), mainQueue, false);
        };
    }
    if (!given.namedSender) {
        given.namedSender = [mainQueue](const QString& sender,
                                        const NDIReceptionChoices& choices) -> std::shared_ptr<TextureSource> {
            auto receiver = NDIReceiver::create(mainQueue);
            receiver->setBandwidth(choices.bandwidth);
            receiver->setExtraIPs(choices.extraIPs);
            // Connects once the sender is listed, and again after it comes back.
            // A failing connect announces a change too; it waits for the next list.
            auto connecting = std::make_shared<bool>(false);
            receiver->setChangeHandler([weak = std::weak_ptr<NDIReceiver>(receiver), name = sender.toStdString(),
                                        connecting] {
                const auto self = weak.lock();
                if (!self || *connecting || self->selectedIndex() >= 0) return;
                const auto& names = self->sources();
                for (size_t i = 0; i < names.size(); ++i) {
                    if (names[i] != name) continue;
                    *connecting = true;
                    self->connect(self->sourcePositions()[i]);
                    *connecting = false;
                    return;
                }
            });
            receiver->startDiscovery();
            return std::make_shared<OwnReceiverSource>(receiver);
        };
    }
    return given;
}

const SourceKind* sourceKindForPick(FilePickKind pick) {
    for (const SourceKind& kind : table()) {
        if (kind.pick == pick) return &kind;
    }
    return nullptr;
}

}  // namespace lumbrix
