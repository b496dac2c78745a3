// The program from start to quit, as a user drives it: started with the demo venue and
// video named on the command line under a settings folder of its own, a capture folder
// chosen, a screenshot and two seconds of recording through the panel's buttons, then
// the window closed. What it wrote is checked with ffprobe, not with our own code.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include <QAbstractButton>
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

TEST(EndToEnd, OpensTheDemoTakesAScreenshotRecordsTwoSecondsAndQuitsCleanly) {
    const std::string venue = std::string(LUMBRIX_DEMO_DIR) + "/venue.obj";
    const std::string video = std::string(LUMBRIX_DEMO_DIR) + "/content.mp4";
    QTemporaryDir captures;
    ASSERT_TRUE(captures.isValid());

    std::string program = "Lumbrix";
    std::vector<char*> argv = {program.data(), const_cast<char*>(venue.c_str()), const_cast<char*>(video.c_str()),
                               nullptr};
    int argc = 3;
    ViewerApp app(argc, argv.data());
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

}  // namespace
}  // namespace lumbrix::test

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    // Settings of the test's own, set before the first settings object fixes the folder.
    QTemporaryDir config;
    lumbrix::test::g_config = &config;
    ::setenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()).constData(), 1);
    ::setenv("SDL_AUDIODRIVER", "dummy", 1);
    ::unsetenv("NDI_RUNTIME_DIR_V6");
    return RUN_ALL_TESTS();
}
