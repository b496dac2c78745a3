// Files named at launch: each opened as its panel would open it, after start-up.
#include "tests/viewer/view_model_support.h"
#include "viewer/launch_files.h"

#include <QDir>

namespace lumbrix::test {
namespace {

TEST(LaunchFileKindTest, SortsByExtensionWhateverItsCase) {
    EXPECT_EQ(launchFileKind(QStringLiteral("/a/stage.OBJ")), LaunchFileKind::objModel);
    EXPECT_EQ(launchFileKind(QStringLiteral("venue.fbx")), LaunchFileKind::fbxModel);
    EXPECT_EQ(launchFileKind(QStringLiteral("show.MOV")), LaunchFileKind::video);
    EXPECT_EQ(launchFileKind(QStringLiteral("loop.webm")), LaunchFileKind::video);
    EXPECT_EQ(launchFileKind(QStringLiteral("grid.jpeg")), LaunchFileKind::image);
    EXPECT_EQ(launchFileKind(QStringLiteral("notes.txt")), LaunchFileKind::unknown);
    EXPECT_EQ(launchFileKind(QStringLiteral("obj")), LaunchFileKind::unknown);
}

TEST_F(ViewModelTest, LaunchFilesOpenAfterStartUpAndWinOverTheRestoredState) {
    const std::string stored = writeFile("stored.obj", kSquareOBJ);
    const std::string named = writeFile("named.obj", kSquareOBJ);
    store().saveLastModel(PersistedModelKind::obj, QString::fromStdString(stored));
    ViewerViewModel& vm = make();
    vm.activate();
    ASSERT_EQ(vm.objURL(), QString::fromStdString(stored));
    const size_t sourcesBefore = sources.made.size();

    testing::internal::CaptureStdout();
    openLaunchFiles(vm, {QString::fromStdString(named), QStringLiteral("/clips/show.mp4"),
                         QString::fromStdString(folder.file("readme.txt"))});
    const std::string printed = testing::internal::GetCapturedStdout();

    EXPECT_EQ(vm.objURL(), QString::fromStdString(named));
    EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ loaded: named.obj"));
    EXPECT_EQ(store().storedLastModelPath(), QString::fromStdString(named));
    EXPECT_EQ(vm.sourceMode(), SourceMode::file);
    EXPECT_EQ(vm.fileURL(), QStringLiteral("/clips/show.mp4"));
    // One new source for the movie, and the NDI source before it stopped once.
    ASSERT_EQ(sources.made.size(), sourcesBefore + 1);
    EXPECT_EQ(sources.made.back()->kind, "file");
    EXPECT_EQ(sources.made.at(sourcesBefore - 1)->stops, 1);
    EXPECT_NE(printed.find("readme.txt"), std::string::npos) << printed;
}

TEST_F(ViewModelTest, ARelativeLaunchFileIsStoredAsAnAbsolutePath) {
    const std::string named = writeFile("rel/square.obj", kSquareOBJ);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(folder.path().string())));
    ViewerViewModel& vm = make();
    openLaunchFiles(vm, {QStringLiteral("rel/square.obj"), QStringLiteral("still.PNG")});
    QDir::setCurrent(previous);
    EXPECT_EQ(vm.objURL(), QString::fromStdString(named));
    EXPECT_EQ(vm.sourceMode(), SourceMode::image);
    EXPECT_EQ(vm.imageURL(), QString::fromStdString(folder.file("still.PNG")));
}

}  // namespace
}  // namespace lumbrix::test
