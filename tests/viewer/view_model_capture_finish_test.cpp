// Captures never replace one another, a stop that is still finishing is not taken for
// another Stop, a closing window waits for its movie (within a limit), and "Ready."
// does not wipe a start-up notice. Against a stand-in renderer answering from threads.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <QElapsedTimer>
#include <QTimer>

#include "tests/viewer/view_model_support.h"

namespace lumbrix::test {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const QString kStamp = QStringLiteral("Lumbrix_20250131_235959");

std::string contentsOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class CaptureFinishTest : public ViewModelTest {
protected:
    void SetUp() override {
        ViewModelTest::SetUp();
        captures = folder.path() / "captures";
        fs::create_directories(captures);
    }
    void TearDown() override {
        // Whatever a test leaves unanswered is answered, also the stop the view model's
        // deactivation asks for, so the end does not wait out the limit.
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [this] { answerAll(); });
        answerer.start(5);
        answerAll();
        ViewModelTest::TearDown();
        answerer.stop();
        answerAll();
    }

    ViewerViewModel& ready(std::chrono::milliseconds finishLimit = 3s) {
        ViewerDependencies deps = dependencies();
        deps.recordingFinishLimit = finishLimit;
        ViewerViewModel& vm = make(std::move(deps));
        vm.setCaptureBridge(bridge);
        vm.setCaptureFolder(QString::fromStdString(captures.string()));
        return vm;
    }

    // The writer's answer comes from a thread of its own, as the real one's does.
    void answerLater(size_t index, std::variant<std::string, Error> result, std::chrono::milliseconds delay) {
        answered.push_back(index);
        workers.emplace_back([completion = bridge->stopCompletions.at(index), result = std::move(result), delay] {
            std::this_thread::sleep_for(delay);
            completion(result);
        });
    }
    void answerAll() {
        for (size_t i = 0; i < bridge->stopCompletions.size(); ++i) {
            if (std::find(answered.begin(), answered.end(), i) == answered.end()) {
                answerLater(i, Error("RenderCapture", -10, "No active recording"), 0ms);
            }
        }
        for (std::thread& worker : workers) worker.join();
        workers.clear();
    }

    std::string moviePath(const QString& name) const { return (captures / name.toStdString()).string(); }

    std::shared_ptr<FakeBridge> bridge = std::make_shared<FakeBridge>();
    fs::path captures;
    std::vector<size_t> answered;
    std::vector<std::thread> workers;
};

// --- names ------------------------------------------------------------------------------

TEST_F(CaptureFinishTest, ACaptureInASecondThatAlreadyHasOneTakesTheNextFreeNumber) {
    struct Case {
        const char* what;
        std::vector<std::string> present;  // suffixes already in the folder ("" is the plain name)
        QString expected;                  // suffix the new capture takes
    };
    const std::vector<Case> cases = {
        {"none there", {}, QString()},
        {"the plain name taken", {""}, QStringLiteral("-2")},
        {"the plain name and -2 taken", {"", "-2"}, QStringLiteral("-3")},
        {"a gap is not filled below the last", {"", "-3"}, QStringLiteral("-2")},
        {"-2 alone leaves the plain name free", {"-2"}, QString()},
    };
    for (const QString& extension : {QStringLiteral(".png"), QStringLiteral(".mov")}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " " + extension.toStdString());
            fs::remove_all(captures);
            fs::create_directories(captures);
            for (const std::string& suffix : c.present) {
                writeText(captures / (kStamp.toStdString() + suffix + extension.toStdString()), "earlier " + suffix);
            }
            bridge = std::make_shared<FakeBridge>();
            ViewerViewModel& vm = ready();
            const QString expected = kStamp + c.expected + extension;
            if (extension == QStringLiteral(".png")) {
                vm.takeScreenshot();
                ASSERT_EQ(bridge->screenshots.size(), 1u);
                EXPECT_EQ(bridge->screenshots[0], moviePath(expected));
                EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + expected);
            } else {
                vm.toggleRecording();
                ASSERT_EQ(bridge->starts.size(), 1u);
                EXPECT_EQ(bridge->starts[0].path, moviePath(expected));
                EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Recording\u2026 ") + expected);
            }
            // What was there is untouched.
            for (const std::string& suffix : c.present) {
                EXPECT_EQ(contentsOf(captures / (kStamp.toStdString() + suffix + extension.toStdString())),
                          "earlier " + suffix);
            }
            answerAll();
            model.reset();
        }
    }
}

TEST_F(CaptureFinishTest, AFolderOrADanglingLinkOfTheNameCountsAsTaken) {
    fs::create_directories(captures / (kStamp.toStdString() + ".png"));
    fs::create_symlink(captures / "gone", captures / (kStamp.toStdString() + "-2.png"));
    ViewerViewModel& vm = ready();
    vm.takeScreenshot();
    ASSERT_EQ(bridge->screenshots.size(), 1u);
    EXPECT_EQ(bridge->screenshots[0], moviePath(kStamp + QStringLiteral("-3.png")));
    EXPECT_TRUE(fs::is_directory(captures / (kStamp.toStdString() + ".png")));
}

// --- a stop that is still finishing ------------------------------------------------------

TEST_F(CaptureFinishTest, RecordStopRecordInQuickSuccessionNeverStopsTwiceAndRecordsAgainOnceFinished) {
    ViewerViewModel& vm = ready();
    vm.toggleRecording();
    vm.toggleRecording();
    EXPECT_TRUE(vm.isRecording());
    EXPECT_TRUE(vm.isFinishingRecording());
    vm.toggleRecording();  // the third click, a fraction of a second later
    ASSERT_TRUE(pumpUntil([&] { return bridge->stopCompletions.size() == 1; }, 2s));
    pumpFor(50ms);
    EXPECT_EQ(bridge->stopCompletions.size(), 1u) << "the click is no second Stop";
    EXPECT_EQ(bridge->starts.size(), 1u) << "nor a start over a file still being written";

    // The writer finishes the file; the next Record makes a second movie beside it.
    writeText(moviePath(kStamp + QStringLiteral(".mov")), "first movie");
    answerLater(0, moviePath(kStamp + QStringLiteral(".mov")), 20ms);
    ASSERT_TRUE(pumpUntil([&] { return !vm.isRecording(); }, 2s));
    EXPECT_FALSE(vm.isFinishingRecording());
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + kStamp + QStringLiteral(".mov"));
    vm.toggleRecording();
    ASSERT_EQ(bridge->starts.size(), 2u);
    EXPECT_EQ(bridge->starts[1].path, moviePath(kStamp + QStringLiteral("-2.mov")));
    EXPECT_TRUE(vm.isRecording());
    EXPECT_FALSE(vm.isFinishingRecording());
    EXPECT_EQ(contentsOf(moviePath(kStamp + QStringLiteral(".mov"))), "first movie");
}

// --- a window closing while it records ---------------------------------------------------

TEST_F(CaptureFinishTest, ClosingWaitsForTheWritersAnswerWithinTheLimit) {
    struct Case {
        const char* what;
        bool stoppedFirst;                          // Stop was pressed just before the close
        std::optional<std::chrono::milliseconds> answerAfter;  // none: the writer never answers
        bool finished;
        QString message;
    };
    const QString saved = QStringLiteral("Saved: ") + kStamp + QStringLiteral(".mov");
    const QString finishing = QStringLiteral("Finishing recording\u2026");
    const std::vector<Case> cases = {
        {"recording, the writer answers", false, 150ms, true, saved},
        {"already stopping, the writer answers", true, 150ms, true, saved},
        {"the writer fails", false, std::nullopt, true, QStringLiteral("Stop failed: disk full")},
        {"the writer never answers", false, std::nullopt, false, finishing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bridge = std::make_shared<FakeBridge>();
        answered.clear();
        // A short limit only where it runs out: under load a 150 ms answer can come late.
        ViewerViewModel& vm = ready(c.finished ? 3s : 400ms);
        vm.toggleRecording();
        if (c.stoppedFirst) vm.toggleRecording();

        // The answer is sent once the stop reaches the writer, from within the wait.
        const bool fails = !c.answerAfter && c.finished;
        QTimer answerer;
        QObject::connect(&answerer, &QTimer::timeout, [&] {
            if (bridge->stopCompletions.empty() || !answered.empty()) return;
            if (c.answerAfter) answerLater(0, moviePath(kStamp + QStringLiteral(".mov")), *c.answerAfter);
            if (fails) answerLater(0, Error("RenderCapture", -11, "disk full"), 0ms);
        });
        answerer.start(5);

        QElapsedTimer waited;
        waited.start();
        EXPECT_EQ(vm.waitForRecordingFinish(), c.finished);
        const qint64 elapsedMs = waited.elapsed();
        answerer.stop();
        EXPECT_EQ(vm.lastCaptureMessage(), c.message);
        EXPECT_EQ(vm.isRecording(), !c.finished);
        EXPECT_EQ(bridge->stopCompletions.size(), 1u);
        if (c.answerAfter) {
            EXPECT_GE(elapsedMs, c.answerAfter->count());
        }
        if (!c.finished) {
            EXPECT_GE(elapsedMs, 380);
            EXPECT_LT(elapsedMs, 2000);
            // The limit is spent: a second wait (the window's own stop) returns at once.
            waited.restart();
            EXPECT_FALSE(vm.waitForRecordingFinish());
            EXPECT_LT(waited.elapsed(), 50);
            EXPECT_EQ(bridge->stopCompletions.size(), 1u);
        }
        answerAll();
        model.reset();
    }
}

TEST_F(CaptureFinishTest, DeactivatingWhileRecordingFinishesTheMovieBeforeTheSourceStops) {
    ViewerViewModel& vm = ready();
    vm.applySource();
    vm.toggleRecording();
    auto source = sources.made.back();
    int stopsWhenAnswered = -1;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        if (bridge->stopCompletions.empty() || !answered.empty()) return;
        stopsWhenAnswered = source->stops;
        answerLater(0, moviePath(kStamp + QStringLiteral(".mov")), 100ms);
    });
    answerer.start(5);
    vm.deactivate();
    EXPECT_FALSE(vm.isRecording());
    EXPECT_EQ(vm.lastCaptureMessage(), QStringLiteral("Saved: ") + kStamp + QStringLiteral(".mov"));
    EXPECT_EQ(stopsWhenAnswered, 0) << "the picture source kept running while the movie was finished";
    EXPECT_EQ(source->stops, 1);
}

// --- "Ready." -------------------------------------------------------------------------------

TEST_F(CaptureFinishTest, ReadyReplacesOnlyTheFirstWordsOfTheCaptureLine) {
    struct Case {
        const char* what;
        std::function<void(ViewerViewModel&)> before;
        QString expected;
    };
    const std::vector<Case> cases = {
        {"nothing said yet", [](ViewerViewModel&) {}, QStringLiteral("Ready.")},
        {"a capture tried before the renderer", [](ViewerViewModel& vm) { vm.takeScreenshot(); },
         QStringLiteral("Ready.")},
        {"start-up in safe mode",
         [this](ViewerViewModel& vm) {
             store().setLaunchInProgress(true);
             vm.activate();
         },
         QStringLiteral("Safe Mode: last model cleared (previous launch did not finish).")},
        {"start-up restoring the folder",
         [this](ViewerViewModel& vm) {
             store().saveCaptureFolder(QString::fromStdString(captures.string()));
             vm.activate();
         },
         QStringLiteral("Folder: captures")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ViewerViewModel& vm = make();
        c.before(vm);
        vm.setCaptureBridge(bridge);  // the renderer attaches late
        vm.announceRendererReady();
        EXPECT_EQ(vm.lastCaptureMessage(), c.expected);
        vm.deactivate();
        model.reset();
        store().setLaunchInProgress(false);
    }
}

}  // namespace
}  // namespace lumbrix::test
