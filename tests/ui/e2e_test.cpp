// The program from start to quit, as a user drives it: started with the demo venue and
// video named on the command line under a settings folder of its own, a capture folder
// chosen, a screenshot and two seconds of recording through the panel's buttons, then
// the window closed. What it wrote is checked with ffprobe, not with our own code.
//
// Then the program ended while it records, in a process of its own (this binary run
// again as the program, pressing Record itself): its window closed, Stop and close at
// once, a quit, SIGTERM, SIGKILL. The movie must be there and play.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include "app/viewer_app.h"
#include "tests/support/command_output.h"
#include "tests/support/event_loop.h"
#include "ui/main_window.h"
#include "ui/source_panel.h"

namespace lumbrix::test {
namespace {

QTemporaryDir* g_config = nullptr;

// "width,height" or "duration" lines of one stream kind.
std::string probe(const std::string& path, const std::string& select, const std::string& entries) {
    return commandOutput("ffprobe -v error -select_streams " + select + " -show_entries " + entries +
                         " -of csv=p=0 '" + path + "' 2>&1");
}

void click(QWidget* root, const char* name) {
    auto* button = root->findChild<QAbstractButton*>(QString::fromLatin1(name));
    ASSERT_NE(button, nullptr) << name;
    ASSERT_TRUE(button->isEnabled()) << name;
    QTest::mouseClick(button, Qt::LeftButton);
}

// The program's command line: the demo venue and video named after the program.
struct DemoCommandLine {
    std::string program = "Lumbrix";
    std::string venue = std::string(LUMBRIX_DEMO_DIR) + "/venue.obj";
    std::string video = std::string(LUMBRIX_DEMO_DIR) + "/content.mp4";
    std::vector<char*> argv{program.data(), venue.data(), video.data(), nullptr};
    int argc = 3;
    DemoCommandLine() = default;
    DemoCommandLine(const DemoCommandLine&) = delete;
    DemoCommandLine& operator=(const DemoCommandLine&) = delete;
};

TEST(EndToEnd, OpensTheDemoTakesAScreenshotRecordsTwoSecondsAndQuitsCleanly) {
    QTemporaryDir captures;
    ASSERT_TRUE(captures.isValid());

    DemoCommandLine line;
    ViewerApp app(line.argc, line.argv.data());
    MainWindow& window = app.window();
    ViewerViewModel& vm = window.viewModel();

    std::string screenshot, movie;
    bool scriptDone = false;
    QTimer::singleShot(0, [&] {
        const auto finish = [&] {
            scriptDone = true;
            window.close();
        };
        // Start-up, then the named files.
        if (!pumpUntil([&] { return vm.mesh() != nullptr && vm.activeSource() != nullptr; }, std::chrono::seconds(30))) {
            ADD_FAILURE() << "the demo never loaded: " << vm.modelStatusText().toStdString();
            return finish();
        }
        EXPECT_EQ(vm.modelStatusText(), QStringLiteral("OBJ loaded: venue.obj"));
        EXPECT_EQ(vm.sourceMode(), SourceMode::file);

        auto* panel = window.findChild<SourcePanel*>();
        if (panel == nullptr) {
            ADD_FAILURE() << "no source panel";
            return finish();
        }
        // The folder dialog answers with the test's folder.
        const QString folder = captures.path();
        panel->setFolderPicker([folder](std::function<void(QString)> done) { done(folder); });
        click(panel, "folderButton");
        EXPECT_TRUE(pumpUntil([&] { return vm.captureFolderURL() == folder; }, std::chrono::seconds(5)));
        EXPECT_TRUE(vm.lastCaptureMessage().startsWith(QStringLiteral("Folder: ")));

        // Let the video play into the view for a moment.
        pumpFor(std::chrono::milliseconds(500));
        click(panel, "screenshotButton");
        if (!pumpUntil([&] { return vm.lastCaptureMessage().endsWith(QStringLiteral(".png")); }, std::chrono::seconds(10))) {
            ADD_FAILURE() << "no screenshot: " << vm.lastCaptureMessage().toStdString();
            return finish();
        }
        EXPECT_TRUE(vm.lastCaptureMessage().startsWith(QStringLiteral("Saved: Lumbrix_")));
        screenshot = (folder + QLatin1Char('/') + vm.lastCaptureMessage().mid(7)).toStdString();

        click(panel, "recordButton");
        if (!pumpUntil([&] { return vm.isRecording(); }, std::chrono::seconds(5))) {
            ADD_FAILURE() << "no recording: " << vm.lastCaptureMessage().toStdString();
            return finish();
        }
        EXPECT_TRUE(vm.lastCaptureMessage().startsWith(QStringLiteral("Recording\u2026 Lumbrix_")));
        pumpFor(std::chrono::seconds(2));
        click(panel, "recordButton");
        if (!pumpUntil([&] { return !vm.isRecording(); }, std::chrono::seconds(60))) {
            ADD_FAILURE() << "the recording never finished";
            return finish();
        }
        EXPECT_TRUE(vm.lastCaptureMessage().startsWith(QStringLiteral("Saved: Lumbrix_")))
            << vm.lastCaptureMessage().toStdString();
        movie = (folder + QLatin1Char('/') + vm.lastCaptureMessage().mid(7)).toStdString();
        finish();
    });
    EXPECT_EQ(app.run(), 0);
    ASSERT_TRUE(scriptDone);

    // The screenshot is a picture of the view's size.
    ASSERT_FALSE(screenshot.empty());
    EXPECT_TRUE(std::filesystem::exists(screenshot));
    const std::string size = probe(screenshot, "v:0", "stream=width,height");
    EXPECT_NE(size.find(','), std::string::npos) << size;

    // The movie holds about two seconds of H.264 and the video file's sound.
    ASSERT_FALSE(movie.empty());
    ASSERT_TRUE(std::filesystem::exists(movie)) << movie;
    EXPECT_EQ(probe(movie, "v:0", "stream=codec_name"), "h264\n");
    EXPECT_EQ(probe(movie, "a:0", "stream=codec_name"), "aac\n");
    const double seconds = std::atof(probe(movie, "v:0", "stream=duration").c_str());
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 6.0);

    // The launch ended and the model is remembered for the next start.
    QFile settings(g_config->filePath(QStringLiteral("Lumbrix/Lumbrix.conf")));
    ASSERT_TRUE(settings.open(QIODevice::ReadOnly));
    const QByteArray stored = settings.readAll();
    EXPECT_TRUE(stored.contains("lumbrix.launchInProgress=false")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("lastModelRecord"));
}

// --- ended while recording ---------------------------------------------------------

constexpr const char* kChildMode = "LUMBRIX_E2E_ENDING";      // close, stop-close, quit, menu-quit or wait
constexpr const char* kChildFolder = "LUMBRIX_E2E_CAPTURES";
constexpr const char* kRecordingMarker = "e2e recording: ";
constexpr auto kRecordFor = std::chrono::seconds(3);

// The program, run by the test in a process of its own: it records through the panel,
// says where, and ends as `mode` says (or waits for the test's signal).
int runRecordingProgram(const std::string& mode) {
    DemoCommandLine line;
    ViewerApp app(line.argc, line.argv.data());
    MainWindow& window = app.window();
    ViewerViewModel& vm = window.viewModel();
    QTimer::singleShot(0, [&] {
        auto* panel = window.findChild<SourcePanel*>();
        auto* record = window.findChild<QAbstractButton*>(QStringLiteral("recordButton"));
        if (!pumpUntil([&] { return vm.activeSource() != nullptr && vm.captureBridge() != nullptr; },
                       std::chrono::seconds(30)) ||
            panel == nullptr || record == nullptr) {
            std::_Exit(3);
        }
        const QString folder = QString::fromLocal8Bit(::getenv(kChildFolder));
        panel->setFolderPicker([folder](std::function<void(QString)> done) { done(folder); });
        click(panel, "folderButton");
        QTest::mouseClick(record, Qt::LeftButton);
        if (!pumpUntil([&] { return vm.isRecording(); }, std::chrono::seconds(5))) std::_Exit(4);
        const QString name = vm.lastCaptureMessage().section(QLatin1Char(' '), 1);
        std::printf("%s%s\n", kRecordingMarker, QFile::encodeName(folder + QLatin1Char('/') + name).constData());
        std::fflush(stdout);
        if (mode == "wait") return;
        QTimer::singleShot(kRecordFor, &window, [&window, record, mode] {
            if (mode == "quit") {
                // As a session manager's end or a quit from elsewhere asks for it.
                QCoreApplication::quit();
                return;
            }
            if (mode == "menu-quit") {
                // File → Quit, as a user ends the program.
                if (auto* quit = window.findChild<QAction*>(QStringLiteral("quitAction"))) quit->trigger();
                return;
            }
            // Inside the writer's short delay before it finishes, when Stop came first.
            if (mode == "stop-close") QTest::mouseClick(record, Qt::LeftButton);
            window.close();
        });
    });
    return app.run();
}

// The first line of `path` that starts with `prefix`, without it.
std::string lineAfter(const std::string& path, const std::string& prefix) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    }
    return {};
}

TEST(EndToEnd, AMovieRecordingWhenTheProgramEndsIsKeptAndPlays) {
    struct Ending {
        const char* what;
        const char* mode;
        int signal;  // sent by the test kRecordFor after the recording started; 0: none
        bool exitsCleanly;
        double shortestSeconds;  // what the movie must hold at least
    };
    const double recorded = std::chrono::duration<double>(kRecordFor).count();
    const std::vector<Ending> endings = {
        {"the window closed", "close", 0, true, recorded - 0.5},
        {"Stop, then the window closed at once", "stop-close", 0, true, recorded - 0.5},
        {"the application told to quit", "quit", 0, true, recorded - 0.5},
        {"File \u2192 Quit", "menu-quit", 0, true, recorded - 0.5},
        {"SIGTERM", "wait", SIGTERM, true, recorded - 0.5},
        // Killed outright: what was written a fragment ago is what there is.
        {"SIGKILL", "wait", SIGKILL, false, recorded - 1.5},
    };
    QTemporaryDir scratch;
    ASSERT_TRUE(scratch.isValid());
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    for (size_t i = 0; i < endings.size(); ++i) {
        const Ending& ending = endings[i];
        SCOPED_TRACE(ending.what);
        const std::string folder = scratch.filePath(QStringLiteral("captures%1").arg(i)).toStdString();
        const std::string config = scratch.filePath(QStringLiteral("config%1").arg(i)).toStdString();
        const std::string output = scratch.filePath(QStringLiteral("program%1.out").arg(i)).toStdString();
        std::filesystem::create_directories(folder);

        // Everything the child needs is made before the fork: between fork and exec only
        // async-signal-safe calls are allowed.
        std::vector<std::string> environment = {std::string(kChildMode) + "=" + ending.mode,
                                                std::string(kChildFolder) + "=" + folder, "XDG_CONFIG_HOME=" + config};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string_view text(*entry);
            if (text.rfind("XDG_CONFIG_HOME=", 0) != 0) environment.emplace_back(text);
        }
        std::vector<char*> envp;
        for (std::string& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);
        char* const childArgv[] = {const_cast<char*>(self.c_str()), nullptr};
        const int outFd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        ASSERT_GE(outFd, 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::dup2(outFd, STDOUT_FILENO);
            ::execve(self.c_str(), childArgv, envp.data());
            ::_exit(2);
        }
        ::close(outFd);
        int status = 0;
        const auto exited = [&] { return ::waitpid(pid, &status, WNOHANG) == pid; };
        const auto waitFor = [](const std::function<bool()>& done, std::chrono::seconds limit) {
            const auto deadline = std::chrono::steady_clock::now() + limit;
            while (!done()) {
                if (std::chrono::steady_clock::now() > deadline) return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            return true;
        };
        std::string movie;
        const bool started = waitFor(
            [&] {
                movie = lineAfter(output, kRecordingMarker);
                return !movie.empty();
            },
            std::chrono::seconds(60));
        if (started && ending.signal != 0) {
            std::this_thread::sleep_for(kRecordFor);
            ::kill(pid, ending.signal);
        }
        // A clean end waits for the writer, which takes a moment on a busy machine.
        if (!started || !waitFor(exited, std::chrono::seconds(40))) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << (started ? "the program did not end" : "no recording started");
            continue;
        }
        if (ending.exitsCleanly) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
        }

        ASSERT_TRUE(std::filesystem::is_regular_file(movie)) << movie;
        // Decodes from end to end without one complaint, as a user would check it.
        const std::string decoded =
            commandOutput("ffmpeg -nostdin -v error -i '" + movie + "' -f null - 2>&1; echo status $?");
        EXPECT_EQ(decoded, "status 0\n") << movie;
        // The container's duration: a movie cut off by a kill has no track durations.
        const double seconds = std::atof(probe(movie, "v:0", "format=duration").c_str());
        EXPECT_GE(seconds, ending.shortestSeconds);
        EXPECT_LT(seconds, recorded + 2.0);
    }
}

}  // namespace
}  // namespace lumbrix::test

int main(int argc, char** argv) {
    if (const char* mode = ::getenv(lumbrix::test::kChildMode)) {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ::unsetenv("NDI_RUNTIME_DIR_V6");
        return lumbrix::test::runRecordingProgram(mode);
    }
    testing::InitGoogleTest(&argc, argv);
    // Settings of the test's own, set before the first settings object fixes the folder.
    QTemporaryDir config;
    lumbrix::test::g_config = &config;
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::unsetenv("NDI_RUNTIME_DIR_V6");
    return RUN_ALL_TESTS();
}
