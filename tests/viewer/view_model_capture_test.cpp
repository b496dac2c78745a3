// The capture commands against a stand-in renderer: the folder, screenshot and movie
// names, the status line, the recording's start and its late stop, and the sound that
// goes along (the microphone and a real video file's tap, both on SDL's dummy driver).
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <QLocale>
#include <QThread>

#include "capture/audio_capture.h"
#include "platform/headless_gl_context.h"
#include "sources/source_sound.h"
#include "tests/support/test_media.h"
#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {
namespace {

namespace fs = std::filesystem;
using Field = ViewerViewModel::Field;
using namespace std::chrono_literals;

const QString kStamp = QStringLiteral("Lumbrix_20250131_235959");
const QString kMovie = kStamp + QStringLiteral(".mov");
const QString kPicture = kStamp + QStringLiteral(".png");

QString qs(const fs::path& path) { return QString::fromStdString(path.string()); }

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Audio device choice is read when SDL's audio starts, so every test names its driver
// and puts back whatever the process had.
class ScopedAudioDriver {
public:
    explicit ScopedAudioDriver(const char* driver) {
        if (const char* old = ::getenv("SDL_AUDIODRIVER")) previous_ = old;
        ::setenv("SDL_AUDIODRIVER", driver, 1);
    }
    ~ScopedAudioDriver() {
        if (previous_) {
            ::setenv("SDL_AUDIODRIVER", previous_->c_str(), 1);
        } else {
            ::unsetenv("SDL_AUDIODRIVER");
        }
    }

private:
    std::optional<std::string> previous_;
};

class CaptureTest : public ViewModelTest {
protected:
    void SetUp() override {
        ViewModelTest::SetUp();
        captures = folder.path() / "captures";
    }

    // Recordings a test leaves running are not waited for when it ends.
    ViewerDependencies dependencies() {
        ViewerDependencies deps = ViewModelTest::dependencies();
        deps.recordingFinishLimit = 20ms;
        return deps;
    }
    using ViewModelTest::make;
    ViewerViewModel& make() { return ViewModelTest::make(dependencies()); }

    // A view model with a renderer and a folder, as after the user chose one.
    ViewerViewModel& ready() { return ready(dependencies()); }
    ViewerViewModel& ready(ViewerDependencies deps) {
        ViewerViewModel& vm = make(std::move(deps));
        vm.setCaptureBridge(bridge);
        vm.setCaptureFolder(qs(captures));
        return vm;
    }

    // Answers the writer's stop the way the real one does: from a thread of its own.
    static void answerFromWorker(const CaptureBridge::StopCompletion& completion,
                                 std::variant<std::string, Error> result) {
        std::thread([&completion, result = std::move(result)] { completion(result); }).join();
    }

    std::string movieIn(const fs::path& dir) const { return (dir / kMovie.toStdString()).string(); }

    ScopedAudioDriver driver{"dummy"};
    std::shared_ptr<FakeBridge> bridge = std::make_shared<FakeBridge>();
    fs::path captures;
};

// --- folder, messages without a renderer or a folder ------------------------------------

TEST_F(CaptureTest, CaptureWithoutRendererSaysNotReadyAndWritesNothing) {
    ViewerViewModel& vm = make();
    vm.setCaptureFolder(qs(captures));
    for (const auto& action : {&ViewerViewModel::takeScreenshot, &ViewerViewModel::toggleRecording}) {
        vm.setLastCaptureMessage(QStringLiteral("Ready."));
        (vm.*action)();
        EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    }
    // A renderer that went away with its view counts as none.
    {
        auto gone = std::make_shared<FakeBridge>();
        vm.setCaptureBridge(gone);
    }
    vm.setLastCaptureMessage(QStringLiteral("Ready."));
    vm.toggleRecording();
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Renderer not ready yet."));
    EXPECT_FALSE(vm.isRecording());
    EXPECT_FALSE(fs::exists(captures));
    EXPECT_FALSE(vm.hasAudioCapture());
}

TEST_F(CaptureTest, CaptureWithoutFolderAsksForOneAndWritesNothing) {
    ViewerViewModel& vm = make();
    vm.setCaptureBridge(bridge);
    for (const auto& action : {&ViewerViewModel::takeScreenshot, &ViewerViewModel::toggleRecording}) {
        vm.setLastCaptureMessage(QStringLiteral("Ready."));
        (vm.*action)();
        EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Choose folder first."));
    }
    EXPECT_TRUE(bridge->screenshots.empty());
    EXPECT_TRUE(bridge->starts.empty());
    EXPECT_FALSE(vm.isRecording());
}

// Sets or clears an environment variable for one scope, putting back what was there.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = ::getenv(name)) previous_ = old;
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (previous_) {
            ::setenv(name_, previous_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> previous_;
};

TEST_F(CaptureTest, TheDefaultCaptureFolderIsLumbrixInTheUsersVideosFolder) {
    struct Case {
        const char* what;
        std::optional<std::string> userDirs;  // user-dirs.dirs; none: no such file
        const char* expected;                 // under the home folder
    };
    const std::vector<Case> cases = {
        {"the XDG videos folder", "XDG_VIDEOS_DIR=\"$HOME/Filme\"\n", "Filme/Lumbrix"},
        {"no user-dirs.dirs", std::nullopt, "Videos/Lumbrix"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        const fs::path home = folder.path() / ("home" + std::to_string(i));
        const fs::path config = home / ".config";
        fs::create_directories(config);
        if (cases[i].userDirs) writeText(config / "user-dirs.dirs", *cases[i].userDirs);
        const ScopedEnv homeVariable("HOME", home.string());
        const ScopedEnv configVariable("XDG_CONFIG_HOME", config.string());
        EXPECT_EQ(userCaptureFolder(), qs(home / cases[i].expected));
    }
}

TEST_F(CaptureTest, WithNoFolderChosenCapturesGoToTheDefaultFolderMadeOnFirstUse) {
    struct Case {
        const char* what;
        fs::path folder;
        bool blocked;  // a file stands where the folder's parent would be
    };
    const std::vector<Case> cases = {
        {"a folder that can be made", folder.path() / "videos" / "Lumbrix", false},
        {"a folder that cannot be made", folder.path() / "blocker" / "Lumbrix", true},
    };
    writeText(folder.path() / "blocker", "a file, not a folder");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ViewerDependencies deps = dependencies();
        deps.defaultCaptureFolder = [path = qs(c.folder)] { return std::optional<QString>(path); };
        ViewerViewModel& vm = make(deps);
        vm.activate();
        vm.setCaptureBridge(bridge);
        EXPECT_EQ(vm.captureFolderURL(), qs(c.folder)) << "shown before it exists";
        EXPECT_TRUE(vm.isDefaultCaptureFolder());
        EXPECT_FALSE(fs::exists(c.folder));

        // Shown in the file manager, it has to be there first.
        EXPECT_EQ(vm.openableCaptureFolder(), c.blocked ? std::nullopt : std::optional<QString>(qs(c.folder)));
        EXPECT_EQ(fs::is_directory(c.folder), !c.blocked);
        vm.takeScreenshot();
        if (c.blocked) {
            EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Choose folder first."));
            vm.toggleRecording();
            EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Choose folder first."));
            EXPECT_FALSE(vm.isRecording());
            EXPECT_TRUE(bridge->screenshots.empty());
        } else {
            EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + kPicture);
            EXPECT_EQ(namesIn(c.folder), std::vector<std::string>{kPicture.toStdString()});
        }
        // The default is never stored: choosing a folder later is what is remembered.
        EXPECT_FALSE(store().loadCaptureFolder());
        vm.deactivate();
        model.reset();
        bridge->screenshots.clear();
    }
}

TEST_F(CaptureTest, CaptureFolderIsPublishedNamedAndStored) {
    fs::create_directories(captures / "Show Night");
    ViewerViewModel& vm = make();
    const QString chosen = qs(captures / "Show Night");
    vm.setCaptureFolder(chosen);
    EXPECT_EQ(vm.captureFolderURL(), std::optional<QString>(chosen));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Folder: Show Night"));
    EXPECT_EQ(changesOf(Field::captureFolderURL), 1);
    EXPECT_EQ(store().loadCaptureFolder(), std::optional<QString>(chosen));

    // A folder given with a trailing slash is still named by its last component.
    vm.setCaptureFolder(chosen + QStringLiteral("/"));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Folder: Show Night"));
    EXPECT_EQ(vm.captureFolderURL(), std::optional<QString>(chosen + QStringLiteral("/")));
}

// --- screenshots ----------------------------------------------------------------------

TEST_F(CaptureTest, ScreenshotIsNamedByTheLocalTimeAndTheSameSecondTakesTheNextNumber) {
    ViewerViewModel& vm = ready();
    vm.takeScreenshot();
    const std::string expected = (captures / kPicture.toStdString()).string();
    ASSERT_EQ(bridge->screenshots, std::vector<std::string>{expected});
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + kPicture);

    vm.setLastCaptureMessage(QStringLiteral("Ready."));
    vm.takeScreenshot();
    const QString second = kStamp + QStringLiteral("-2.png");
    EXPECT_EQ(bridge->screenshots, (std::vector<std::string>{expected, (captures / second.toStdString()).string()}));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + second);
    EXPECT_EQ(namesIn(captures), (std::vector<std::string>{second.toStdString(), kPicture.toStdString()}));
}

TEST_F(CaptureTest, ScreenshotAndRecordingRecreateADeletedNestedFolder) {
    ViewerViewModel& vm = make();
    vm.setCaptureBridge(bridge);
    const fs::path nested = captures / "a" / "b" / "c";
    vm.setCaptureFolder(qs(nested));
    ASSERT_FALSE(fs::exists(captures));
    vm.takeScreenshot();
    EXPECT_TRUE(fs::is_regular_file(nested / kPicture.toStdString()));

    fs::remove_all(captures);
    vm.toggleRecording();
    EXPECT_TRUE(fs::is_directory(nested));
    ASSERT_EQ(bridge->starts.size(), 1u);
    EXPECT_EQ(bridge->starts[0].path, movieIn(nested));
}

TEST_F(CaptureTest, ScreenshotFailuresAreReportedWithTheirDescription) {
    ViewerViewModel& vm = ready();
    bridge->screenshotError = Error("RenderCapture", -20, "No frame has been drawn yet");
    vm.takeScreenshot();
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Screenshot failed: No frame has been drawn yet"));

    // A folder that cannot exist: its parent is a regular file. The renderer is not asked.
    bridge->screenshots.clear();
    writeText(folder.path() / "blocker", "not a folder");
    vm.setCaptureFolder(qs(folder.path() / "blocker" / "shots"));
    vm.takeScreenshot();
    EXPECT_TRUE(vm.lastCaptureMessage().startsWith(QStringLiteral("Screenshot failed: "))) << vm.lastCaptureMessage().toStdString();
    EXPECT_GT(vm.lastCaptureMessage().size(), QStringLiteral("Screenshot failed: ").size());
    EXPECT_TRUE(bridge->screenshots.empty());
}

// --- file names -------------------------------------------------------------------------

class CaptureFileNameTest : public ::testing::Test {
protected:
    void TearDown() override { QLocale::setDefault(previous_); }

private:
    QLocale previous_;
};

TEST_F(CaptureFileNameTest, NamesPadEveryFieldAndIgnoreTheUsersLocale) {
    const QDateTime early(QDate(2026, 3, 4), QTime(5, 6, 7));
    const QDateTime late(QDate(2025, 1, 31), QTime(23, 59, 59));
    EXPECT_EQ(ViewerViewModel::captureFileName(early, QStringLiteral(".mov")), QStringLiteral("Lumbrix_20260304_050607.mov"));
    EXPECT_EQ(ViewerViewModel::captureFileName(late, QStringLiteral(".png")), QStringLiteral("Lumbrix_20250131_235959.png"));

    // Locales with their own digits, or a 12-hour clock, must not leak into file names.
    for (const QLocale& locale : {QLocale(QLocale::Arabic, QLocale::Egypt), QLocale(QLocale::Persian, QLocale::Iran),
                                  QLocale(QLocale::Bengali, QLocale::Bangladesh)}) {
        QLocale::setDefault(locale);
        ASSERT_NE(QLocale().toString(5), QStringLiteral("5")) << "the default locale writes its own digits";
        EXPECT_EQ(ViewerViewModel::captureFileName(early, QStringLiteral(".mov")),
                  QStringLiteral("Lumbrix_20260304_050607.mov"))
            << locale.name().toStdString();
    }
}

// --- recording start ----------------------------------------------------------------------

TEST_F(CaptureTest, RecordingStartHandsTheRendererPathRateAndTracks) {
    ViewerViewModel& vm = ready();
    vm.setCaptureFPS(25);
    vm.applySource();  // the NDI source
    vm.toggleRecording();
    ASSERT_EQ(bridge->starts.size(), 1u);
    EXPECT_EQ(bridge->starts[0].path, movieIn(captures));
    EXPECT_EQ(bridge->starts[0].fps, 25);
    EXPECT_FALSE(bridge->starts[0].sourceAudio) << "an NDI source has no sound to record";
    EXPECT_FALSE(bridge->starts[0].microphone);
    EXPECT_TRUE(vm.isRecording());
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Recording\u2026 ") + kMovie);
    EXPECT_TRUE(fs::is_directory(captures));
}

TEST_F(CaptureTest, RecordingImagesAndFakeFileSourcesAsksForNoSourceAudio) {
    for (SourceMode mode : {SourceMode::image, SourceMode::file}) {
        auto fresh = std::make_shared<FakeBridge>();
        bridge = fresh;
        ViewerViewModel& vm = ready();
        vm.setImageFile(QStringLiteral("/pictures/still.png"));
        vm.setVideoFile(QStringLiteral("/movies/clip.mp4"));
        vm.selectSourceMode(mode);
        ASSERT_NE(vm.activeSource(), nullptr);
        vm.toggleRecording();
        ASSERT_EQ(fresh->starts.size(), 1u);
        // Only the real video file source plays sound that can be tapped.
        EXPECT_FALSE(fresh->starts[0].sourceAudio) << rawValue(mode);
        EXPECT_TRUE(vm.isRecording());
    }
}

TEST_F(CaptureTest, RecordingStartFailuresLeaveTheRecorderIdle) {
    ViewerViewModel& vm = ready();
    bridge->startError = Error("RenderCapture", -20, "Cannot open the movie file");
    vm.toggleRecording();
    EXPECT_FALSE(vm.isRecording());
    EXPECT_EQ(changesOf(Field::isRecording), 1);
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Record failed: Cannot open the movie file"));
    EXPECT_FALSE(vm.hasAudioCapture()) << "nothing is started for a recording that did not start";

    bridge->startError.reset();
    bridge->starts.clear();
    writeText(folder.path() / "blocker", "not a folder");
    vm.setCaptureFolder(qs(folder.path() / "blocker" / "movies"));
    vm.toggleRecording();
    EXPECT_FALSE(vm.isRecording());
    EXPECT_TRUE(vm.lastCaptureMessage().startsWith(QStringLiteral("Record failed: "))) << vm.lastCaptureMessage().toStdString();
    EXPECT_TRUE(bridge->starts.empty());
}

// --- recording stop -------------------------------------------------------------------------

TEST_F(CaptureTest, RecordingStopWaitsForTheWriterAnsweringFromAnotherThread) {
    ViewerViewModel& vm = ready();
    vm.toggleRecording();
    ASSERT_TRUE(vm.isRecording());
    std::vector<QThread*> recordingWriters;
    QObject::connect(&vm, &ViewerViewModel::changed, [&](Field field) {
        if (field == Field::isRecording) recordingWriters.push_back(QThread::currentThread());
    });

    vm.toggleRecording();
    ASSERT_TRUE(pumpUntil([&] { return bridge->stopCompletions.size() == 1; }, 2s));
    pumpFor(20ms);
    EXPECT_TRUE(vm.isRecording()) << "the writer has not answered yet";
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Recording\u2026 ") + kMovie);

    answerFromWorker(bridge->stopCompletions[0], movieIn(captures));
    ASSERT_TRUE(pumpUntil([&] { return !vm.isRecording(); }, 2s));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + kMovie);
    // Once when the stop began (the Record button shows the finish), once at the answer.
    EXPECT_EQ(recordingWriters, (std::vector<QThread*>{application().thread(), application().thread()}));
}

TEST_F(CaptureTest, RecordingStopFailureIsReportedAndEndsTheRecording) {
    ViewerViewModel& vm = ready();
    vm.toggleRecording();
    vm.toggleRecording();
    ASSERT_TRUE(pumpUntil([&] { return bridge->stopCompletions.size() == 1; }, 2s));
    answerFromWorker(bridge->stopCompletions[0], Error("RenderCapture", -20, "The writer failed"));
    ASSERT_TRUE(pumpUntil([&] { return !vm.isRecording(); }, 2s));
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Stop failed: The writer failed"));
}

TEST_F(CaptureTest, RecordingToggledWhileStoppingIsIgnoredUntilTheWriterAnswers) {
    ViewerViewModel& vm = ready();
    vm.toggleRecording();
    vm.toggleRecording();
    ASSERT_TRUE(pumpUntil([&] { return bridge->stopCompletions.size() == 1; }, 2s));
    ASSERT_TRUE(vm.isRecording());
    ASSERT_TRUE(vm.isFinishingRecording());
    vm.toggleRecording();
    pumpFor(50ms);
    EXPECT_EQ(bridge->stopCompletions.size(), 1u) << "no second stop";
    EXPECT_EQ(bridge->starts.size(), 1u) << "and no new recording";
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Recording\u2026 ") + kMovie);

    answerFromWorker(bridge->stopCompletions[0], movieIn(captures));
    ASSERT_TRUE(pumpUntil([&] { return !vm.isRecording(); }, 2s));
    EXPECT_FALSE(vm.isFinishingRecording());
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + kMovie);
}

TEST_F(CaptureTest, RecordingStopAnsweredAfterTheViewModelIsGoneDoesNothing) {
    ViewerViewModel& vm = ready();
    vm.toggleRecording();
    vm.toggleRecording();
    ASSERT_TRUE(pumpUntil([&] { return bridge->stopCompletions.size() == 1; }, 2s));
    model.reset();
    const size_t changesBefore = changes.size();
    answerFromWorker(bridge->stopCompletions[0], movieIn(captures));
    pumpFor(50ms);
    EXPECT_EQ(changes.size(), changesBefore);
}

// --- microphone -----------------------------------------------------------------------------

TEST_F(CaptureTest, MicEnabledOutsideARecordingStartsTheMicrophoneAndOffLeavesItRunning) {
    ViewerViewModel& vm = make();
    vm.setIsMicEnabled(false);
    EXPECT_FALSE(vm.hasAudioCapture()) << "off never creates the microphone";
    vm.setIsMicEnabled(true);
    EXPECT_TRUE(vm.isMicEnabled());
    ASSERT_TRUE(vm.hasAudioCapture());
    EXPECT_TRUE(vm.audioCapture().isMicEnabled);
    ASSERT_TRUE(pumpUntil([&] { return vm.audioCapture().isRunning(); }, 2s));

    vm.setIsMicEnabled(false);
    pumpFor(50ms);
    EXPECT_TRUE(vm.audioCapture().isRunning()) << "the next recording stop ends it";
}

TEST_F(CaptureTest, MicRecordingFeedsTheWriterAndTheMeterWithTheGainFromTheStart) {
    ViewerViewModel& vm = ready();
    vm.setMicGainDB(-3.0f);
    vm.setIsMicEnabled(true);
    vm.toggleRecording();
    ASSERT_EQ(bridge->starts.size(), 1u);
    EXPECT_TRUE(bridge->starts[0].microphone);
    EXPECT_FLOAT_EQ(vm.audioCapture().micGainDB(), -3.0f);
    vm.setMicGainDB(12.0f);
    EXPECT_FLOAT_EQ(vm.audioCapture().micGainDB(), -3.0f) << "gains change at the next recording";

    ASSERT_TRUE(pumpUntil([&] { return *bridge->microphoneBuffers > 0 && changesOf(Field::micLevel) > 0; }, 2s))
        << "buffers " << *bridge->microphoneBuffers << ", level writes " << changesOf(Field::micLevel);
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Recording\u2026 ") + kMovie);

    // The stop ends the microphone too.
    vm.toggleRecording();
    ASSERT_TRUE(pumpUntil([&] { return bridge->stopCompletions.size() == 1; }, 2s));
    EXPECT_TRUE(pumpUntil([&] { return !vm.audioCapture().isRunning(); }, 2s));

    // The next recording takes the gain as it is then.
    answerFromWorker(bridge->stopCompletions[0], movieIn(captures));
    ASSERT_TRUE(pumpUntil([&] { return !vm.isRecording(); }, 2s));
    vm.toggleRecording();
    EXPECT_FLOAT_EQ(vm.audioCapture().micGainDB(), 12.0f);
}

TEST_F(CaptureTest, MicThatCannotOpenIsNamedOnTheRecordingLine) {
    ScopedAudioDriver missing("no-such-driver");
    ViewerViewModel& vm = ready();
    vm.setIsMicEnabled(true);
    vm.toggleRecording();
    ASSERT_EQ(bridge->starts.size(), 1u);
    EXPECT_TRUE(bridge->starts[0].microphone) << "the writer is told before the device answers";
    const QString expected = QStringLiteral("Recording\u2026 ") + kMovie + QStringLiteral(" (microphone unavailable)");
    EXPECT_TRUE(pumpUntil([&] { return vm.lastCaptureMessage() == expected; }, 2s)) << vm.lastCaptureMessage().toStdString();
    EXPECT_TRUE(vm.isRecording());
    EXPECT_FALSE(vm.audioCapture().isRunning());
}

// --- a real video file's sound --------------------------------------------------------------

// A source with sound of any kind: the view model records it through what the source
// offers, never through the type it happens to be.
class SoundingSource final : public TextureSource, public SourceSound {
public:
    void stop() override {}
    void setPlaying(bool) override {}
    void setLooping(bool) override {}
    unsigned int texture() override { return 0; }
    std::optional<double> durationSeconds() const override { return std::nullopt; }
    std::optional<double> currentSeconds() const override { return std::nullopt; }
    bool isSeekable() const override { return false; }
    void seek(double) override {}
    void prepare() override { ++prepares; }
    SourceSound* sound() override { return this; }

    void installRecordingTap(std::function<void(const AudioSampleBuffer&)> callback) override {
        tap = std::move(callback);
    }
    void removeRecordingTap() override { tap = nullptr; }
    void setRecordingGainDB(float value) override { gainDB = value; }
    float recordingGainDB() const override { return gainDB; }
    void setOnRecordingLevel(std::function<void(float)> callback) override { onLevel = std::move(callback); }

    int prepares = 0;
    float gainDB = 0.0f;
    std::function<void(const AudioSampleBuffer&)> tap;
    std::function<void(float)> onLevel;
};

TEST_F(CaptureTest, AVideoReadAgainWhileRecordingHandsItsSoundToTheRecording) {
    const std::string clip = folder.file("cut.mp4");
    ClipSpec spec;
    spec.secondColors = {"red"};
    ASSERT_TRUE(makeClip(clip, spec));
    std::vector<std::shared_ptr<SoundingSource>> made;
    ViewerDependencies deps = dependencies();
    deps.sourceMakers.file = [&made](const QString&) {
        made.push_back(std::make_shared<SoundingSource>());
        return made.back();
    };
    ViewerViewModel& vm = ready(std::move(deps));
    vm.selectSourceMode(SourceMode::file);
    vm.setVideoFile(QString::fromStdString(clip));
    vm.reloadFiles();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_FALSE(made.back()->tap) << "no recording, nothing to tap";

    vm.setVideoGainDB(-3.0f);
    vm.toggleRecording();
    vm.reloadFiles();
    ASSERT_EQ(made.size(), 3u);
    EXPECT_TRUE(made.back()->tap);
    EXPECT_FLOAT_EQ(made.back()->gainDB, -3.0f);
    vm.toggleRecording();
    EXPECT_FALSE(made.back()->tap);
}

TEST_F(CaptureTest, RecordingAFileSourceWithSoundTapsItWithTheGainAndMeterUntilTheStop) {
    auto sounding = std::make_shared<SoundingSource>();
    ViewerDependencies deps = dependencies();
    deps.sourceMakers.file = [sounding](const QString&) { return sounding; };
    ViewerViewModel& vm = ready(std::move(deps));
    vm.setVideoFile(QStringLiteral("/movies/clip.mp4"));
    vm.selectSourceMode(SourceMode::file);
    ASSERT_EQ(vm.activeSource(), sounding);
    EXPECT_EQ(sounding->prepares, 1) << "a file source is opened once it is made";

    vm.setVideoGainDB(-4.5f);
    vm.toggleRecording();
    ASSERT_EQ(bridge->starts.size(), 1u);
    EXPECT_TRUE(bridge->starts[0].sourceAudio);
    EXPECT_FLOAT_EQ(sounding->gainDB, -4.5f);
    ASSERT_TRUE(sounding->tap && sounding->onLevel);
    sounding->tap(AudioSampleBuffer{});
    EXPECT_EQ(*bridge->sourceAudioBuffers, 1) << "the tap feeds the writer's source track";
    sounding->onLevel(0.75f);
    EXPECT_FLOAT_EQ(vm.videoLevel(), 0.75f);

    vm.toggleRecording();
    EXPECT_FALSE(sounding->tap) << "the stop removes the tap at once";
}

class CaptureFileAudioTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        // The file source uploads its pictures, and its sound waits for the first one.
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context.emplace(std::move(created.value()));
    }
    void TearDown() override {
        CaptureTest::TearDown();  // the source's texture goes while the context exists
        context.reset();
    }

    // Runs the event loop and shows the source's pictures, as the 3D view does.
    bool playUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        return pumpUntil(
            [&] {
                if (model && model->activeSource()) model->activeSource()->texture();
                return done();
            },
            limit);
    }

    std::optional<HeadlessGLContext> context;
};

TEST_F(CaptureFileAudioTest, RecordingAVideoFileTapsItsSoundUntilTheStop) {
    ClipSpec sine;
    sine.secondColors = {"red", "red", "red"};
    sine.sineAmplitude = 0.5;
    const std::string clip = folder.file("sine.mp4");
    std::string error;
    ASSERT_TRUE(makeClip(clip, sine, &error)) << error;

    ViewerDependencies deps = dependencies();
    deps.sourceMakers.file = {};  // the real video file source
    ViewerViewModel& vm = ready(std::move(deps));
    vm.selectSourceMode(SourceMode::file);
    vm.setVideoFile(QString::fromStdString(clip));
    ASSERT_NE(vm.activeSource(), nullptr);
    SourceSound* const file = vm.activeSource()->sound();
    ASSERT_NE(file, nullptr);

    vm.setVideoGainDB(-2.0f);
    vm.toggleRecording();
    ASSERT_EQ(bridge->starts.size(), 1u);
    EXPECT_TRUE(bridge->starts[0].sourceAudio);
    EXPECT_FLOAT_EQ(file->recordingGainDB(), -2.0f);
    vm.setVideoGainDB(6.0f);
    EXPECT_FLOAT_EQ(file->recordingGainDB(), -2.0f) << "gains change at the next recording";

    ASSERT_TRUE(playUntil([&] { return *bridge->sourceAudioBuffers >= 2 && vm.videoLevel() > 0.1f; }, 2500ms))
        << "buffers " << *bridge->sourceAudioBuffers << ", level " << vm.videoLevel();
    EXPECT_GT(changesOf(Field::videoLevel), 0);

    vm.toggleRecording();
    const int atStop = *bridge->sourceAudioBuffers;
    playUntil([] { return false; }, 300ms);
    EXPECT_EQ(*bridge->sourceAudioBuffers, atStop) << "the stop removes the tap at once";
    EXPECT_TRUE(vm.isRecording()) << "until the writer answers";
}

}  // namespace
}  // namespace lumbrix::test
