#pragma once
// The viewer's side of the table of source kinds (sources/source_registry.h): what each
// kind's chooser asks for, which of the view model's files it plays, how the view model
// makes it and what the status line says of it. The view model, the source panel, the
// file dialogs and the launch files read it, so a new kind is one row here and one there.
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include <QString>
#include <QStringList>

#include "sources/ndi_settings.h"
#include "sources/source_registry.h"
#include "viewer/file_picker.h"

namespace lumbrix {

class MainQueue;
class NDIReceiver;
class TextureSource;
class ViewerViewModel;

// The sources the view model builds; the defaults are the real NDI, file and image
// sources, tests put in their own.
struct SourceMakers {
    std::function<std::shared_ptr<TextureSource>(const std::shared_ptr<NDIReceiver>&)> ndi;
    std::function<std::shared_ptr<TextureSource>(const QString& path)> file;
    std::function<std::shared_ptr<TextureSource>(const QString& path)> image;
    // A venue's own sources: a video file that plays no sound, and an NDI sender by name
    // on a receiver of its own with the SOURCE section's choices (whose sound is not
    // played either).
    std::function<std::shared_ptr<TextureSource>(const QString& path)> silentFile;
    std::function<std::shared_ptr<TextureSource>(const QString& sender, const NDIReceptionChoices& choices)>
        namedSender;
};

// `given` with the real maker in every slot it leaves empty.
SourceMakers withRealSourceMakers(SourceMakers given, const std::shared_ptr<MainQueue>& mainQueue);

struct SourceKind {
    SourceMode mode;
    QString label;  // on the panel's mode picker
    // What the kind's chooser asks for; empty for a kind picked on its own page (NDI).
    std::optional<FilePickKind> pick;
    QStringList extensions;  // of the files that open as this kind; empty for none
    bool hasTimeline;        // the transport follows and seeks it
    bool hasSound;           // a recording takes its sound
    // Makes `path` the kind's file, as its chooser does; null for kinds without files.
    void (*openFile)(ViewerViewModel& viewModel, const QString& path);
    // The kind's source for the view model's current choices, handed the play state in
    // the order the source expects it; null while nothing is chosen.
    std::shared_ptr<TextureSource> (*make)(const ViewerViewModel& viewModel, const SourceMakers& makers);
    // The transport's line while the kind is shown.
    QString (*statusText)(const ViewerViewModel& viewModel);
    // Why a file would not play as this kind; none when it would. Null for kinds
    // without files.
    std::optional<QString> (*fileProblem)(const QString& path);
    // The file the kind plays for the view model's current choices; none for kinds
    // without files.
    std::optional<QString> (*playedFile)(const ViewerViewModel& viewModel);
};

// In picker order, one per SourceMode.
std::span<const SourceKind> sourceKinds();
const SourceKind& sourceKind(SourceMode mode);
// The kind a file of this name opens as, by extension, whatever its case.
const SourceKind* sourceKindForFile(const QString& path);
// The kind whose chooser asks for `pick`; null for the model pickers.
const SourceKind* sourceKindForPick(FilePickKind pick);

}  // namespace lumbrix
