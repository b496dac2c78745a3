#include "viewer/source_kinds.h"

#include <array>

#include <QFileInfo>

#include "viewer/viewer_view_model.h"

namespace lumbrix {

namespace {

const std::array<SourceKind, 3>& table() {
    static const std::array<SourceKind, 3> kinds{{
        {SourceMode::ndi, QStringLiteral("NDI"), std::nullopt, {}, false, false, nullptr},
        {SourceMode::file, QStringLiteral("File"), FilePickKind::videoFile,
         {QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("m4v"), QStringLiteral("mkv"),
          QStringLiteral("avi"), QStringLiteral("webm"), QStringLiteral("mxf"), QStringLiteral("mts"),
          QStringLiteral("ts"), QStringLiteral("mpg"), QStringLiteral("mpeg")},
         true, true, [](ViewerViewModel& viewModel, const QString& path) { viewModel.setVideoFile(path); }},
        {SourceMode::image, QStringLiteral("Image"), FilePickKind::imageFile,
         {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")}, false, false,
         [](ViewerViewModel& viewModel, const QString& path) { viewModel.setImageFile(path); }},
    }};
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
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension.isEmpty()) return nullptr;
    for (const SourceKind& kind : table()) {
        if (kind.extensions.contains(extension)) return &kind;
    }
    return nullptr;
}

}  // namespace lumbrix
