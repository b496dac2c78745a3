// Paths that name no file to read, given to the view model as a model, a venue, a
// stored last model, a video or a picture: each is refused at once with the system's
// reason in the alert, and nothing waits on a named pipe's writer.
#include <sys/stat.h>
#include <unistd.h>

#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kAtOnce = std::chrono::seconds(1);

struct SpecialPath {
    std::string kind;
    QString path;
    QString reason;
};

class SpecialFilesTest : public ViewModelTest {
protected:
    // A named pipe, a device, a folder and a missing file, each named with `extension`.
    std::vector<SpecialPath> specialPaths(const std::string& extension) {
        const std::filesystem::path dir = folder.path() / ("paths" + std::to_string(++sets_));
        std::filesystem::create_directories(dir);
        const std::string fifo = (dir / ("pipe" + extension)).string();
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        const std::string device = (dir / ("zero" + extension)).string();
        EXPECT_EQ(::symlink("/dev/zero", device.c_str()), 0);
        const std::string directory = (dir / ("folder" + extension)).string();
        std::filesystem::create_directory(directory);
        const std::string missing = (dir / ("missing" + extension)).string();
        const auto q = [](const std::string& text) { return QString::fromStdString(text); };
        return {
            {"named pipe", q(fifo), QStringLiteral("Not a regular file (a named pipe)")},
            {"device", q(device), QStringLiteral("Not a regular file (a character device)")},
            {"folder", q(directory), QStringLiteral("Is a directory")},
            {"missing", q(missing), QStringLiteral("No such file or directory")},
        };
    }

private:
    int sets_ = 0;
};

TEST_F(SpecialFilesTest, ModelsAndVenuesAreRefusedAtOnceWithTheReason) {
    ViewerViewModel& vm = make();
    const QString fbxPrefix = QStringLiteral("Failed to read FBX file. ");
    const struct {
        const char* what;
        std::string extension;
        QString prefix;   // before "Cannot open <path>: <reason>"
        QString status;   // the model status afterwards; empty for venues
        std::function<void(const QString&)> open;
    } uses[] = {
        {"OBJ model", ".obj", {}, QStringLiteral("Model: error"), [&](const QString& p) { vm.openOBJModel(p); }},
        {"FBX model", ".fbx", fbxPrefix, QStringLiteral("Model: validation failed"),
         [&](const QString& p) { vm.openFBXModel(p); }},
        {"OBJ venue", ".obj", {}, {}, [&](const QString& p) { EXPECT_FALSE(vm.addVenue(p)); }},
        {"FBX venue", ".fbx", fbxPrefix, {}, [&](const QString& p) { EXPECT_FALSE(vm.addVenue(p)); }},
    };
    for (const auto& use : uses) {
        for (const SpecialPath& special : specialPaths(use.extension)) {
            SCOPED_TRACE(std::string(use.what) + ", " + special.kind);
            const auto started = Clock::now();
            use.open(special.path);
            EXPECT_LT(Clock::now() - started, kAtOnce);
            EXPECT_TRUE(vm.showValidationAlert());
            EXPECT_EQ(vm.validationErrors(),
                      QStringList{use.prefix + QStringLiteral("Cannot open ") + special.path + QStringLiteral(": ") +
                                  special.reason});
            EXPECT_EQ(vm.mesh(), nullptr);
            EXPECT_FALSE(vm.objURL());
            EXPECT_FALSE(vm.fbxURL());
            EXPECT_TRUE(vm.venues().empty());
            if (!use.status.isEmpty()) {
                EXPECT_EQ(vm.modelStatusText(), use.status);
            }
            EXPECT_FALSE(store().storedLastModelPath());
        }
    }
}

// A pipe stored as the last model used to freeze the window at every start.
TEST_F(SpecialFilesTest, APipeStoredAsTheLastModelDoesNotHoldUpStartUp) {
    for (const auto& [kind, extension] : {std::pair{PersistedModelKind::obj, ".obj"},
                                          std::pair{PersistedModelKind::fbx, ".fbx"}}) {
        SCOPED_TRACE(extension);
        const SpecialPath pipe = specialPaths(extension).front();
        store().saveLastModel(kind, pipe.path);
        ViewerViewModel& vm = make();
        const auto started = Clock::now();
        vm.activate();
        ASSERT_TRUE(pumpUntil([&] { return vm.showValidationAlert(); }));
        EXPECT_LT(Clock::now() - started, kAtOnce);
        ASSERT_EQ(vm.validationErrors().size(), 1);
        EXPECT_TRUE(vm.validationErrors().front().endsWith(pipe.path + QStringLiteral(": ") + pipe.reason))
            << vm.validationErrors().front().toStdString();
        EXPECT_EQ(vm.mesh(), nullptr);
        // Not tried again at the next start.
        EXPECT_FALSE(store().storedLastModelPath());
        vm.deactivate();
        model.reset();
    }
}

// The real sources, not the stand-ins: a video or picture path that is no file must
// not reach FFmpeg's open, which waits for a pipe's writer.
TEST_F(SpecialFilesTest, VideoAndPictureSourcesOnSuchPathsComeUpEmptyAtOnce) {
    auto deps = dependencies();
    deps.sourceMakers = SourceMakers{};
    ViewerViewModel& vm = make(std::move(deps));
    for (const SpecialPath& special : specialPaths(".mp4")) {
        SCOPED_TRACE("video, " + special.kind);
        const auto started = Clock::now();
        vm.setVideoFile(special.path);
        vm.selectSourceMode(SourceMode::file);
        EXPECT_LT(Clock::now() - started, kAtOnce);
        ASSERT_NE(vm.activeSource(), nullptr);
        EXPECT_FALSE(vm.activeSource()->durationSeconds());
    }
    for (const SpecialPath& special : specialPaths(".png")) {
        SCOPED_TRACE("picture, " + special.kind);
        const auto started = Clock::now();
        vm.setImageFile(special.path);
        vm.selectSourceMode(SourceMode::image);
        EXPECT_LT(Clock::now() - started, kAtOnce);
        ASSERT_NE(vm.activeSource(), nullptr);
    }
    vm.releaseSource();
}

}  // namespace
}  // namespace lumbrix::test
