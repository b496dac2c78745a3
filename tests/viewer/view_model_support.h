#pragma once
// What the view-model suites share: a Qt Core event loop, a settings file of the
// test's own, sources, a renderer bridge and file panels that record what they are
// asked, and the real Varnel next to a stand-in executable folder.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "sources/ndi_receiver.h"
#include "tests/support/event_loop.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_corpus.h"
#include "viewer/qt_main_queue.h"
#include "viewer/viewer_view_model.h"

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }
QT_END_NAMESPACE

namespace lumbrix::test {

inline QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "viewer_tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = QCoreApplication::instance() ? QCoreApplication::instance()
                                                                  : new QCoreApplication(argc, argv);
    return *app;
}

// A picture source that only counts what is done to it.
class FakeSource final : public TextureSource {
public:
    explicit FakeSource(std::string kind, QString path = {}) : kind(std::move(kind)), path(std::move(path)) {}

    void stop() override { ++stops; }
    void setPlaying(bool value) override {
        playing = value;
        calls.push_back(value ? "play" : "pause");
    }
    void setLooping(bool value) override {
        looping = value;
        calls.push_back(value ? "loop" : "once");
    }
    unsigned int texture() override { return 0; }
    std::optional<double> durationSeconds() const override { return duration; }
    std::optional<double> currentSeconds() const override { return current; }
    bool isSeekable() const override { return seekable; }
    void seek(double seconds) override { seeks.push_back(seconds); }

    std::string kind;
    QString path;
    int stops = 0;
    std::optional<bool> playing;
    std::optional<bool> looping;
    std::vector<std::string> calls;
    std::optional<double> duration;
    std::optional<double> current;
    bool seekable = false;
    std::vector<double> seeks;
};

struct SourceLog {
    std::vector<std::shared_ptr<FakeSource>> made;

    SourceMakers makers(bool fileSeekable = true) {
        SourceMakers makers;
        makers.ndi = [this](const std::shared_ptr<NDIReceiver>&) { return keep(std::make_shared<FakeSource>("ndi")); };
        makers.file = [this, fileSeekable](const QString& path) {
            auto source = std::make_shared<FakeSource>("file", path);
            source->seekable = fileSeekable;
            return keep(source);
        };
        makers.image = [this](const QString& path) { return keep(std::make_shared<FakeSource>("image", path)); };
        makers.silentFile = [this, fileSeekable](const QString& path) {
            auto source = std::make_shared<FakeSource>("silentFile", path);
            source->seekable = fileSeekable;
            return keep(source);
        };
        makers.namedSender = [this](const QString& name, const NDIReceptionChoices&) {
            return keep(std::make_shared<FakeSource>("sender", name));
        };
        return makers;
    }

private:
    std::shared_ptr<TextureSource> keep(std::shared_ptr<FakeSource> source) {
        made.push_back(source);
        return source;
    }
};

// The renderer side as the view model sees it.
class FakeBridge final : public CaptureBridge {
public:
    void setVenues(std::vector<VenueDraw> venues) override {
        std::vector<std::shared_ptr<const Mesh>> meshes;
        for (const VenueDraw& venue : venues) meshes.push_back(venue.mesh);
        venueUpdates.push_back(std::move(meshes));
        venueDraws.push_back(std::move(venues));
    }
    std::optional<std::pair<int, int>> sourcePictureSize() const override { return pictureSize; }
    float currentAspectRatio() const override { return aspect; }
    std::optional<Error> saveScreenshot(const std::string& path) override {
        screenshots.push_back(path);
        if (screenshotError) return screenshotError;
        std::ofstream(path, std::ios::binary) << "png";
        return std::nullopt;
    }
    std::optional<Error> startRecording(const std::string& path, int fps, bool includeSourceAudio,
                                        bool includeMicrophone) override {
        starts.push_back({path, fps, includeSourceAudio, includeMicrophone});
        return startError;
    }
    void stopRecording(StopCompletion completion) override { stopCompletions.push_back(std::move(completion)); }
    AudioSink sourceAudioSink() override {
        return [count = sourceAudioBuffers](const AudioSampleBuffer&) { ++*count; };
    }
    AudioSink microphoneSink() override {
        return [count = microphoneBuffers](const AudioSampleBuffer&) { ++*count; };
    }

    struct Start {
        std::string path;
        int fps = 0;
        bool sourceAudio = false;
        bool microphone = false;
    };

    float aspect = 16.0f / 9.0f;
    std::vector<std::vector<std::shared_ptr<const Mesh>>> venueUpdates;
    std::vector<std::vector<VenueDraw>> venueDraws;
    std::optional<std::pair<int, int>> pictureSize;
    std::vector<std::string> screenshots;
    std::optional<Error> screenshotError;
    std::vector<Start> starts;
    std::optional<Error> startError;
    std::vector<StopCompletion> stopCompletions;
    std::shared_ptr<std::atomic<int>> microphoneBuffers = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> sourceAudioBuffers = std::make_shared<std::atomic<int>>(0);
};

// File panels answered from a script: each pick takes the next answer for its kind.
class ScriptedPicker final : public FilePicker {
public:
    void pick(FilePickKind kind, std::function<void(QStringList)> done) override {
        asked.push_back(kind);
        QStringList answer;
        auto& queue = answers[kind];
        if (!queue.empty()) {
            answer = queue.front();
            queue.erase(queue.begin());
        }
        // Panels end later, on the event loop, as a modeless dialog does.
        QMetaObject::invokeMethod(QCoreApplication::instance(), [done = std::move(done), answer] { done(answer); },
                                  Qt::QueuedConnection);
    }

    std::map<FilePickKind, std::vector<QStringList>> answers;
    std::vector<FilePickKind> asked;
};

// One of our exports in tests/data, e.g. "generated/blender/bl_b_cube_uv.fbx".
inline QString testDataQ(const std::string& relative) { return QString::fromStdString(testData(relative).string()); }

// Writes `text` to `path`, making folders.
inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A small square OBJ with UVs that the loader accepts.
inline const char* kSquareOBJ =
    "v -1 0 -1\nv 1 0 -1\nv 1 0 1\nv -1 0 1\nvt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";
// Two objects in one file: parsed, then rejected by validation.
inline const char* kTwoObjectsOBJ =
    "o a\nv 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nf 1/1 2/1 3/1\no b\nv 0 0 1\nv 1 0 1\nv 0 1 1\nf 4/1 5/1 6/1\n";

class ViewModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        ASSERT_TRUE(folder.ok());
        settingsFile = QString::fromStdString(folder.file("config/Lumbrix/Lumbrix.conf"));
    }

    void TearDown() override {
        if (model) {
            model->deactivate();
            model.reset();
        }
        pumpFor(std::chrono::milliseconds(5));
    }

    ViewerDependencies dependencies() {
        ViewerDependencies deps;
        deps.mainQueue = std::make_shared<QtMainQueue>();
        // No NDI runtime: discovery fails quietly and the source tests stay local.
        deps.receiver = NDIReceiver::create(
            deps.mainQueue, []() -> Expected<std::shared_ptr<const NDIRuntime>, NDIRuntimeLoadFailure> {
                return unexpected(NDIRuntimeLoadFailure{{"test: no runtime"}});
            });
        deps.sourceMakers = sources.makers();
        deps.isShiftHeld = [this] { return shiftHeld; };
        deps.notifications = &notifications;
        deps.settingsFile = settingsFile;
        deps.executableDir = QStringLiteral(LUMBRIX_VARNEL_DIR);
        deps.filePicker = picker;
        deps.now = [this] { return clock; };
        // No videos folder to fall back on: nothing a test captures lands in the user's home.
        deps.defaultCaptureFolder = [] { return std::optional<QString>(); };
        return deps;
    }

    ViewerViewModel& make() { return make(dependencies()); }
    ViewerViewModel& make(ViewerDependencies deps) {
        model = std::make_unique<ViewerViewModel>(std::move(deps));
        QObject::connect(model.get(), &ViewerViewModel::changed,
                         [this](ViewerViewModel::Field field) { changes.push_back(field); });
        return *model;
    }

    // A fresh store in the same file, to look at what a run left behind.
    Persistence store() const { return Persistence(settingsFile); }

    int changesOf(ViewerViewModel::Field field) const {
        return static_cast<int>(std::count(changes.begin(), changes.end(), field));
    }

    std::string writeFile(const std::string& name, const std::string& text) {
        writeText(folder.path() / name, text);
        return folder.file(name);
    }

    TempFolder folder;
    QString settingsFile;
    SourceLog sources;
    std::shared_ptr<ScriptedPicker> picker = std::make_shared<ScriptedPicker>();
    NotificationCenter notifications;
    bool shiftHeld = false;
    QDateTime clock = QDateTime(QDate(2025, 1, 31), QTime(23, 59, 59));
    std::unique_ptr<ViewerViewModel> model;
    std::vector<ViewerViewModel::Field> changes;
};

}  // namespace lumbrix::test
