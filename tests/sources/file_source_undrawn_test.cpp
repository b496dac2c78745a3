// A video file source whose pictures nobody draws (the window hidden or minimised): its
// sound still starts after a prepare and after a seek, and a looping file still starts
// over at its end. Only the main queue turns; no picture is asked for, and there is no
// GL context at all. SDL's dummy driver plays the sound at real speed.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/main_queue.h"
#include "sources/file_texture_source.h"
#include "tests/support/temp_folder.h"
#include "tests/support/test_media.h"

namespace lumbrix {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class UndrawnFileSourceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("SDL_AUDIODRIVER", "dummy", 1);
        ASSERT_TRUE(folder.ok());
        test::ClipSpec spec;
        spec.secondColors = {"red"};  // one second, so the end comes soon
        std::string error;
        ASSERT_TRUE(test::makeClip(folder.file("one.mp4"), spec, &error)) << error;
    }
    void TearDown() override {
        source.reset();
        queue->drain();
    }

    // Turns the main queue only, as the event loop of a window that draws nothing does.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (Clock::now() < deadline) {
            queue->drain();
            if (done()) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }
    double now() const { return source->currentSeconds().value_or(-1.0); }

    test::TempFolder folder;
    std::shared_ptr<TaskQueue> queue = std::make_shared<TaskQueue>();
    std::shared_ptr<FileTextureSource> source;
    std::shared_ptr<std::atomic<int64_t>> heardFrames = std::make_shared<std::atomic<int64_t>>(0);
};

TEST_F(UndrawnFileSourceTest, SoundStartsAndALoopStartsOverWithoutAPictureEverBeingDrawn) {
    source = FileTextureSource::create(folder.file("one.mp4"), queue);
    source->setLooping(true);
    source->setPlaying(true);
    source->prepare();
    ASSERT_TRUE(source->hasSound());
    // The tap hands over exactly what the device plays.
    source->installRecordingTap([heard = heardFrames](const AudioSampleBuffer& buffer) { *heard += buffer.frameCount; });

    struct Step {
        const char* what;
        std::function<void()> act;
        std::function<bool()> reached;
        std::chrono::milliseconds limit;
    };
    double highest = 0.0;
    const std::vector<Step> steps = {
        {"the clock runs after the prepare", [] {}, [&] { return now() > 0.3; }, 2s},
        {"the clock runs on from a seek", [&] { source->seek(0.5); }, [&] { return now() > 0.7; }, 2s},
        {"the end starts the file over",
         [] {},
         [&] {
             highest = std::max(highest, now());
             return highest > 0.8 && now() >= 0.0 && now() < 0.5;
         },
         3s},
        {"and it plays on from the start", [] {}, [&] { return now() > 0.4; }, 2s},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_TRUE(runUntil(step.reached, step.limit)) << "clock at " << now();
    }
    // The device played all along (the tap hears what it plays, in blocks that arrive
    // a little after): more than the one-second file holds.
    const auto heardSeconds = [&] { return static_cast<double>(heardFrames->load()) / source->recordSampleRate(); };
    EXPECT_TRUE(runUntil([&] { return heardSeconds() > 1.2; }, 2s)) << heardSeconds() << " s heard";
    EXPECT_EQ(source->framesShown(), 0u) << "no picture was uploaded";
}

TEST_F(UndrawnFileSourceTest, APausedOrStoppedSourceStaysStill) {
    source = FileTextureSource::create(folder.file("one.mp4"), queue);
    source->setPlaying(false);
    source->prepare();
    runUntil([] { return false; }, 300ms);
    EXPECT_DOUBLE_EQ(now(), 0.0);

    source->stop();
    runUntil([] { return false; }, 100ms);
    EXPECT_EQ(queue->pending(), 0u) << "a stopped source keeps nothing on the main queue";
}

}  // namespace
}  // namespace lumbrix
