#pragma once
// Every kind of picture source in one table: what the panel calls it, what its chooser
// asks for, which files opened at launch become one, and whether it has a timeline and
// sound. The view model, the source panel and the launch files read it, so a new kind
// is declared here once instead of in each of them.
#include <optional>
#include <span>

#include <QString>
#include <QStringList>

#include "viewer/file_picker.h"
#include "viewer/viewer_enums.h"

namespace lumbrix {

class ViewerViewModel;

struct SourceKind {
    SourceMode mode;
    QString label;  // on the panel's mode picker
    // What the kind's chooser asks for; empty for a kind picked on its own page (NDI).
    std::optional<FilePickKind> pick;
    // Lower-case extensions of the files that open as this kind; empty for none.
    QStringList extensions;
    bool hasTimeline;  // the transport follows and seeks it
    bool hasSound;     // a recording takes its sound
    // Makes `path` the kind's file, as its chooser does; null for kinds without files.
    void (*openFile)(ViewerViewModel& viewModel, const QString& path);
};

// In picker order, one per SourceMode.
std::span<const SourceKind> sourceKinds();
const SourceKind& sourceKind(SourceMode mode);
// The kind a file of this name opens as, by extension, whatever its case.
const SourceKind* sourceKindForFile(const QString& path);

}  // namespace lumbrix
