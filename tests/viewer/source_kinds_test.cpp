// The table of source kinds: one row per mode in picker order, each row's promises as the
// rest of the program relies on them, and files routed to the kind that claims them.
#include "viewer/source_kinds.h"

#include <gtest/gtest.h>

#include "viewer/launch_files.h"
#include "viewer/viewer_enums.h"

namespace lumbrix::test {
namespace {

TEST(SourceKindsTest, EveryModeHasOneRowInPickerOrder) {
    ASSERT_EQ(sourceKinds().size(), kAllSourceModes.size());
    for (size_t i = 0; i < kAllSourceModes.size(); ++i) {
        const SourceMode mode = kAllSourceModes[i];
        EXPECT_EQ(sourceKinds()[i].mode, mode) << "row " << i;
        EXPECT_EQ(&sourceKind(mode), &sourceKinds()[i]) << rawValue(mode);
    }
}

TEST(SourceKindsTest, EachKindMakesTheUsersPromises) {
    struct Row {
        SourceMode mode;
        QString label;
        std::optional<FilePickKind> pick;
        bool hasTimeline;
        bool hasSound;
        QStringList someExtensions;
    };
    const Row rows[] = {
        {SourceMode::ndi, QStringLiteral("NDI"), std::nullopt, false, true, {}},
        {SourceMode::file, QStringLiteral("File"), FilePickKind::videoFile, true, true,
         {QStringLiteral("mp4"), QStringLiteral("mov"), QStringLiteral("webm"), QStringLiteral("mpeg")}},
        {SourceMode::image, QStringLiteral("Image"), FilePickKind::imageFile, false, false,
         {QStringLiteral("png"), QStringLiteral("jpg"), QStringLiteral("jpeg")}},
    };
    for (const Row& row : rows) {
        const SourceKind& kind = sourceKind(row.mode);
        SCOPED_TRACE(rawValue(row.mode));
        EXPECT_EQ(kind.label, row.label);
        EXPECT_EQ(kind.pick, row.pick);
        EXPECT_EQ(kind.hasTimeline, row.hasTimeline);
        EXPECT_EQ(kind.hasSound, row.hasSound);
        for (const QString& extension : row.someExtensions) {
            EXPECT_TRUE(kind.extensions.contains(extension)) << extension.toStdString();
        }
        // A kind made from files can be chosen and opened; one that is not has neither.
        EXPECT_EQ(kind.pick.has_value(), !kind.extensions.isEmpty());
        EXPECT_EQ(kind.openFile != nullptr, !kind.extensions.isEmpty());
    }
}

TEST(SourceKindsTest, EveryExtensionOpensAsTheOneKindThatClaimsItWhateverItsCase) {
    for (const SourceKind& kind : sourceKinds()) {
        for (const QString& extension : kind.extensions) {
            SCOPED_TRACE(extension.toStdString());
            EXPECT_EQ(extension, extension.toLower());
            const QStringList names{QStringLiteral("/show/clip.") + extension,
                                    QStringLiteral("clip.") + extension.toUpper()};
            for (const QString& name : names) {
                const SourceKind* found = sourceKindForFile(name);
                ASSERT_NE(found, nullptr);
                EXPECT_EQ(found->mode, kind.mode) << "claimed by two kinds";
                EXPECT_NE(launchFileKind(name), LaunchFileKind::unknown);
                EXPECT_NE(launchFileKind(name), LaunchFileKind::objModel);
                EXPECT_NE(launchFileKind(name), LaunchFileKind::fbxModel);
            }
        }
    }
    for (const char* name : {"venue.obj", "venue.fbx", "notes.txt", "mp4", "/show/.png.d/readme", ""}) {
        EXPECT_EQ(sourceKindForFile(QString::fromUtf8(name)), nullptr) << name;
    }
}

}  // namespace
}  // namespace lumbrix::test
