// New versions of the shown files on disk, through the view model and the real file
// watch: each way exporters write (in place, renamed over, deleted and made again), for
// each kind of file; a version that does not load; a file written slowly; the setting.
#include <unistd.h>

#include <fstream>

#include "tests/support/test_media.h"
#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {
namespace {

using Field = ViewerViewModel::Field;
namespace fs = std::filesystem;

const std::string kCubeFBX = "generated/blender/bl_b_cube_uv.fbx";
const std::string kCheckerPNG = "generated/blender/bl_checker.png";
constexpr std::chrono::milliseconds kSettle{50};

enum class Write { inPlace, renameOver, deleteAndCreate };
enum class Shown { objModel, fbxModel, venue, video, image, venueVideo };

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// What an exporter leaves at `path` when it writes `bytes` the given way.
void rewrite(const fs::path& path, const std::string& bytes, Write how) {
    switch (how) {
    case Write::inPlace:
        writeText(path, bytes);
        break;
    case Write::renameOver: {
        const fs::path temporary = path.parent_path() / (".~" + path.filename().string());
        writeText(temporary, bytes);
        fs::rename(temporary, path);
        break;
    }
    case Write::deleteAndCreate:
        fs::remove(path);
        pumpFor(std::chrono::milliseconds(30));
        writeText(path, bytes);
        break;
    }
}

class ReloadTest : public ViewModelTest {
protected:
    ViewerViewModel& makeWatching() {
        auto deps = dependencies();
        deps.fileSettleTime = kSettle;
        ViewerViewModel& vm = make(std::move(deps));
        vm.activate();
        return vm;
    }

    // The file each kind shows, made in the test's folder, and the view model showing it.
    fs::path show(ViewerViewModel& vm, Shown what) {
        switch (what) {
        case Shown::objModel: {
            const auto path = writeFile("stage.obj", kSquareOBJ);
            vm.openOBJModel(QString::fromStdString(path));
            return path;
        }
        case Shown::fbxModel:
        case Shown::venue: {
            const fs::path path = folder.path() / "venue.fbx";
            fs::copy_file(testData(kCubeFBX), path);
            if (what == Shown::venue) {
                vm.addVenue(QString::fromStdString(path.string()));
            } else {
                vm.openFile(QString::fromStdString(path.string()));
            }
            return path;
        }
        case Shown::video: {
            const std::string path = folder.file("cut.mp4");
            ClipSpec spec;
            spec.secondColors = {"red", "blue"};
            EXPECT_TRUE(makeClip(path, spec));
            vm.setSourceMode(SourceMode::file);
            vm.setVideoFile(QString::fromStdString(path));
            return path;
        }
        case Shown::image: {
            const fs::path path = folder.path() / "still.png";
            fs::copy_file(testData(kCheckerPNG), path);
            vm.setSourceMode(SourceMode::image);
            vm.setImageFile(QString::fromStdString(path.string()));
            return path;
        }
        case Shown::venueVideo: {
            const std::string path = folder.file("side.mp4");
            EXPECT_TRUE(makeClip(path, {}));
            EXPECT_TRUE(vm.addVenue(QString::fromStdString(writeFile("side.obj", kSquareOBJ))));
            VenueContentSetting content;
            content.kind = VenueContentKind::ownSource;
            content.sourceMode = SourceMode::file;
            content.sourcePath = QString::fromStdString(path);
            vm.setVenueContent(vm.venues().front().id, content);
            return path;
        }
        }
        return {};
    }

    // What changes when the kind's file is read again.
    static const void* shownThing(const ViewerViewModel& vm, Shown what) {
        switch (what) {
        case Shown::objModel:
        case Shown::fbxModel:
            return vm.mesh().get();
        case Shown::venue:
            return vm.venues().empty() ? nullptr : vm.venues().front().mesh.get();
        case Shown::video:
        case Shown::image:
            return vm.activeSource().get();
        case Shown::venueVideo:
            return vm.venues().empty() ? nullptr : vm.venues().front().source.get();
        }
        return nullptr;
    }
};

const char* const kShownNames[] = {"OBJModel", "FBXModel", "Venue", "Video", "Image", "VenuesOwnVideo"};
const char* const kWriteNames[] = {"InPlace", "RenameOver", "DeleteAndCreate"};

struct WriteCase {
    Shown shown;
    Write how;
};

class ReloadWays : public ReloadTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ReloadWays, ANewVersionReplacesTheOldOnceAndTheViewStays) {
    const auto [shown, how] = GetParam();
    ViewerViewModel& vm = makeWatching();
    const fs::path path = show(vm, shown);
    const void* before = shownThing(vm, shown);
    ASSERT_NE(before, nullptr);
    pumpFor(ViewerViewModel::kFitDelay * 2);  // the first load's framing
    const int64_t fits = vm.fitRequestID();
    vm.camera()->lookFrom({3.0f, 2.0f, 7.0f});
    const CameraState camera = vm.camera()->snapshot();
    vm.setIsPlaying(false);
    vm.applyPlaying();
    const bool isVideo = shown == Shown::video || shown == Shown::venueVideo;
    if (isVideo) sources.made.back()->current = 1.25;
    const int sourcesMade = static_cast<int>(sources.made.size());

    rewrite(path, readAll(path), how);
    ASSERT_TRUE(pumpUntil([&] { return shownThing(vm, shown) != before; }, std::chrono::seconds(5)));
    pumpFor(kSettle * 4);

    EXPECT_EQ(vm.camera()->snapshot(), camera);
    EXPECT_FALSE(vm.showValidationAlert());
    EXPECT_FALSE(vm.isPlaying());
    const bool isSource = isVideo || shown == Shown::image;
    EXPECT_EQ(static_cast<int>(sources.made.size()), sourcesMade + (isSource ? 1 : 0)) << "one reload per version";
    if (isVideo) {
        const auto& reloaded = *sources.made.back();
        EXPECT_EQ(reloaded.seeks, std::vector<double>{1.25});
        // A venue's own video runs on by itself; the transport's pause is the main one's.
        EXPECT_EQ(reloaded.playing, shown == Shown::venueVideo);
    }
    if (shown == Shown::venueVideo) {
        EXPECT_EQ(static_cast<const FakeSource*>(before)->stops, 1) << "the old one stopped";
    }
    EXPECT_EQ(vm.fitRequestID(), fits) << "a reload does not reframe the view";
}

INSTANTIATE_TEST_SUITE_P(
    EachKindEachWay, ReloadWays,
    ::testing::Values(WriteCase{Shown::objModel, Write::inPlace}, WriteCase{Shown::objModel, Write::renameOver},
                      WriteCase{Shown::objModel, Write::deleteAndCreate}, WriteCase{Shown::fbxModel, Write::inPlace},
                      WriteCase{Shown::fbxModel, Write::renameOver}, WriteCase{Shown::fbxModel, Write::deleteAndCreate},
                      WriteCase{Shown::venue, Write::renameOver}, WriteCase{Shown::video, Write::inPlace},
                      WriteCase{Shown::video, Write::renameOver}, WriteCase{Shown::video, Write::deleteAndCreate},
                      WriteCase{Shown::image, Write::inPlace}, WriteCase{Shown::image, Write::renameOver},
                      WriteCase{Shown::image, Write::deleteAndCreate}, WriteCase{Shown::venueVideo, Write::renameOver}),
    [](const auto& info) {
        return std::string(kShownNames[int(info.param.shown)]) + kWriteNames[int(info.param.how)];
    });

struct BrokenCase {
    Shown shown;
    std::string bytes;
};

class BrokenVersion : public ReloadTest, public ::testing::WithParamInterface<BrokenCase> {};

TEST_P(BrokenVersion, LeavesTheOldOneShownAndSaysWhy) {
    const auto& [shown, bytes] = GetParam();
    ViewerViewModel& vm = makeWatching();
    const fs::path path = show(vm, shown);
    const void* before = shownThing(vm, shown);
    ASSERT_NE(before, nullptr);

    rewrite(path, bytes, Write::renameOver);
    ASSERT_TRUE(pumpUntil([&] { return vm.showValidationAlert(); }, std::chrono::seconds(5)));
    EXPECT_EQ(shownThing(vm, shown), before);
    EXPECT_FALSE(vm.validationErrors().isEmpty());
    EXPECT_TRUE(vm.objURL() || vm.fbxURL() || !vm.venues().empty() || vm.fileURL() || vm.imageURL());
    if (shown == Shown::objModel || shown == Shown::fbxModel) {
        EXPECT_EQ(store().storedLastModelPath(), QString::fromStdString(path.string())) << "still the model next time";
    }

    // Mended, it is shown again and the alert goes.
    if (shown == Shown::objModel) {
        rewrite(path, kSquareOBJ, Write::inPlace);
        ASSERT_TRUE(pumpUntil([&] { return shownThing(vm, shown) != before; }, std::chrono::seconds(5)));
        EXPECT_FALSE(vm.showValidationAlert());
    }
}

INSTANTIATE_TEST_SUITE_P(EachKind, BrokenVersion,
                         ::testing::Values(BrokenCase{Shown::objModel, kTwoObjectsOBJ},
                                           BrokenCase{Shown::fbxModel, "Kaydara FBX Binary  \0 broken"},
                                           BrokenCase{Shown::venue, noiseBytes(4096)},
                                           BrokenCase{Shown::video, noiseBytes(4096)},
                                           BrokenCase{Shown::image, std::string(100, 'x')},
                                           BrokenCase{Shown::venueVideo, noiseBytes(4096)}),
                         [](const auto& info) { return std::string(kShownNames[int(info.param.shown)]); });

TEST_F(ReloadTest, AFileWrittenSlowlyIsReadOnceWhenItIsComplete) {
    ViewerViewModel& vm = makeWatching();
    const fs::path path = show(vm, Shown::objModel);
    const int meshChanges = changesOf(Field::mesh);

    // About two seconds of writes, each well inside the settle time of the last.
    std::string big;
    for (int i = 0; i < 4000; ++i) big += "v " + std::to_string(i) + " 0 " + std::to_string(i % 7) + "\n";
    big += "vt 0 0\nvt 1 0\nvt 1 1\n";
    for (int i = 1; i + 2 <= 4000; i += 2) {
        big += "f " + std::to_string(i) + "/1 " + std::to_string(i + 1) + "/2 " + std::to_string(i + 2) + "/3\n";
    }
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        const size_t pieces = 20;
        for (size_t i = 0; i < pieces; ++i) {
            const size_t from = big.size() * i / pieces, to = big.size() * (i + 1) / pieces;
            out.write(big.data() + from, static_cast<std::streamsize>(to - from));
            out.flush();
            pumpFor(kSettle / 2);
        }
    }
    ASSERT_TRUE(pumpUntil([&] { return changesOf(Field::mesh) > meshChanges; }, std::chrono::seconds(5)));
    pumpFor(kSettle * 4);
    EXPECT_EQ(changesOf(Field::mesh), meshChanges + 1);
    EXPECT_EQ(vm.mesh()->triangleCount(), 1999u);
    EXPECT_FALSE(vm.showValidationAlert());
}

TEST_F(ReloadTest, TheSettingIsRememberedAndOffMeansOnlyReloadByHand) {
    {
        ViewerViewModel& vm = makeWatching();
        EXPECT_TRUE(vm.reloadFilesWhenChanged());
        vm.setReloadFilesWhenChanged(false);
        model->deactivate();
        model.reset();
    }
    ViewerViewModel& vm = makeWatching();
    EXPECT_FALSE(vm.reloadFilesWhenChanged());
    const fs::path path = show(vm, Shown::video);
    sources.made.back()->current = 0.5;
    const int sourcesMade = static_cast<int>(sources.made.size());
    rewrite(path, readAll(path), Write::renameOver);
    pumpFor(kSettle * 5);
    EXPECT_EQ(static_cast<int>(sources.made.size()), sourcesMade);

    vm.reloadFiles();
    ASSERT_EQ(static_cast<int>(sources.made.size()), sourcesMade + 1);
    EXPECT_EQ(sources.made.back()->seeks, std::vector<double>{0.5});
    // The version read by hand is not read again when the watch is back on.
    vm.setReloadFilesWhenChanged(true);
    pumpFor(kSettle * 5);
    EXPECT_EQ(static_cast<int>(sources.made.size()), sourcesMade + 1);
}

}  // namespace
}  // namespace lumbrix::test
