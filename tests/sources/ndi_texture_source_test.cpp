// The NDI picture source on a real (headless) GL context: what the texture holds, when
// it is re-made, pausing, and what survives a shutdown.
#include "sources/ndi_texture_source.h"

#include <epoxy/gl.h>

#include <cmath>
#include <cstring>
#include <mutex>
#include <vector>

#include "ndi_test_support.h"
#include "platform/gl/gl_program.h"
#include "platform/headless_gl_context.h"

namespace lumbrix {
namespace {

// What a shader sampling the texture sees, texel by texel, as RGBA bytes; row 0 first.
std::vector<uint8_t> sampledTexels(GLuint texture, int width, int height) {
    static const char* const kVertex = R"(#version 330 core
void main() {
    const vec2 corners[3] = vec2[3](vec2(-1.0, -1.0), vec2(3.0, -1.0), vec2(-1.0, 3.0));
    gl_Position = vec4(corners[gl_VertexID], 0.0, 1.0);
}
)";
    static const char* const kFragment = R"(#version 330 core
uniform sampler2D picture;
out vec4 color;
void main() { color = texelFetch(picture, ivec2(gl_FragCoord.xy), 0); }
)";
    auto program = buildProgram(kVertex, kFragment);
    EXPECT_TRUE(program) << program.error().description;
    if (!program) return {};
    GLTexture target = GLTexture::generate();
    glBindTexture(GL_TEXTURE_2D, target.id());
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
    GLFramebuffer framebuffer = GLFramebuffer::generate();
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer.id());
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, target.id(), 0);
    GLVertexArray vertexArray = GLVertexArray::generate();
    glViewport(0, 0, width, height);
    glUseProgram(program.value().id());
    glUniform1i(glGetUniformLocation(program.value().id(), "picture"), 0);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, texture);
    glBindVertexArray(vertexArray.id());
    glDrawArrays(GL_TRIANGLES, 0, 3);
    std::vector<uint8_t> rgba(static_cast<size_t>(width) * height * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindVertexArray(0);
    glUseProgram(0);
    glBindTexture(GL_TEXTURE_2D, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return rgba;
}

// The frame's BGRA pixels as the RGBA a shader should see, rows unpadded.
std::vector<uint8_t> expectedTexels(const VideoFrame& frame) {
    std::vector<uint8_t> rgba;
    for (int row = 0; row < frame.height; ++row) {
        const uint8_t* pixel = frame.data.get() + static_cast<size_t>(row) * frame.stride;
        for (int x = 0; x < frame.width; ++x, pixel += 4) rgba.insert(rgba.end(), {pixel[2], pixel[1], pixel[0], pixel[3]});
    }
    return rgba;
}

// The frame number stamped in the first row, read back through a sampler.
uint32_t shownFrame(GLuint texture, int width, int height) {
    std::vector<uint8_t> rgba = sampledTexels(texture, width, height);
    if (rgba.size() < 4) return 0;
    const uint8_t bgra[4] = {rgba[2], rgba[1], rgba[0], rgba[3]};
    return fakeNdiFrameNumber(bgra);
}

std::pair<int, int> textureSize(GLuint texture) {
    GLint width = 0, height = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
    glBindTexture(GL_TEXTURE_2D, 0);
    return {width, height};
}

class NDITextureSourceTest : public test::NDITest {
protected:
    void SetUp() override {
        auto created = HeadlessGLContext::create();
        ASSERT_TRUE(created) << created.error().description;
        context.emplace(std::move(created.value()));
        NDITest::SetUp();
    }
    void TearDown() override {
        NDITest::TearDown();
        context.reset();
    }

    // Connects to the only sender and waits for a frame of its size.
    VideoFrame connectTo(const std::string& senders, int width, int height) {
        fake.setSenders(senders);
        discover(1);
        receiver->connect(0);
        auto frame = frameOfSize(width, height);
        EXPECT_TRUE(frame.has_value());
        return frame.value_or(VideoFrame{});
    }

    // Waits until the receiver holds a frame newer than `number`.
    VideoFrame frameAfter(uint32_t number) {
        std::optional<VideoFrame> frame;
        pumpUntil([&] {
            frame = receiver->latestFrame();
            return frame && fakeNdiFrameNumber(frame->data.get()) > number;
        });
        EXPECT_TRUE(frame.has_value());
        return frame.value_or(VideoFrame{});
    }

    std::optional<HeadlessGLContext> context;
};

TEST_F(NDITextureSourceTest, UploadsTheNewestFrameRowForRowInBothUploadPaths) {
    for (NDIUploadPath path : {NDIUploadPath::direct, NDIUploadPath::pixelBuffer}) {
        SCOPED_TRACE(path == NDIUploadPath::direct ? "direct" : "pixel buffer");
        receiver->shutdown();
        queue->drain();
        NDITextureSource source(receiver, path);
        EXPECT_EQ(source.texture(), 0u) << "nothing received yet";
        VideoFrame frame = connectTo("Pattern@40x24@30", 40, 24);
        receiver->setChangeHandler({});
        const GLuint texture = source.texture();
        ASSERT_NE(texture, 0u);
        EXPECT_EQ(textureSize(texture), std::make_pair(40, 24));
        // The texture holds the newest frame, at least as new as the one seen here.
        VideoFrame uploaded = receiver->latestFrame().value();
        if (shownFrame(texture, 40, 24) != fakeNdiFrameNumber(uploaded.data.get())) {
            // A newer frame landed between the upload and this look: upload it and compare.
            source.texture();
            uploaded = receiver->latestFrame().value();
        }
        EXPECT_GE(fakeNdiFrameNumber(uploaded.data.get()), fakeNdiFrameNumber(frame.data.get()));
        EXPECT_EQ(sampledTexels(texture, 40, 24), expectedTexels(uploaded))
            << "a shader sees the frame's colours, top row first";
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
}

TEST_F(NDITextureSourceTest, SameSizeFramesReuseTheTextureAndANewSizeMakesANewOne) {
    NDITextureSource source(receiver);
    VideoFrame first = connectTo("Cam@32x16@60", 32, 16);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    frameAfter(fakeNdiFrameNumber(first.data.get()));
    EXPECT_EQ(source.texture(), texture);
    EXPECT_EQ(source.textureCreations(), 1u);
    EXPECT_EQ(source.uploads(), 2u);
    // Asked again with no new frame, nothing is sent again.
    const uint64_t uploads = source.uploads();
    receiver->shutdown();  // keeps the texture; no frames any more
    EXPECT_EQ(source.texture(), texture);
    EXPECT_EQ(source.uploads(), uploads);

    // The sender switches resolution.
    connectTo("Cam HD@64x40@60", 64, 40);
    const GLuint resized = source.texture();
    ASSERT_NE(resized, 0u);
    EXPECT_EQ(textureSize(resized), std::make_pair(64, 40));
    EXPECT_EQ(source.textureCreations(), 2u);
}

TEST_F(NDITextureSourceTest, PausedSourceFreezesThePictureAndResumesWithTheNewest) {
    NDITextureSource source(receiver);
    VideoFrame first = connectTo("Live@32x16@60", 32, 16);
    const GLuint texture = source.texture();
    const uint32_t shown = shownFrame(texture, 32, 16);

    source.setPlaying(false);
    VideoFrame newer = frameAfter(shown);
    EXPECT_EQ(source.texture(), texture);
    EXPECT_EQ(shownFrame(texture, 32, 16), shown) << "frozen while frames arrive";

    source.setPlaying(true);
    source.texture();
    EXPECT_GE(shownFrame(texture, 32, 16), fakeNdiFrameNumber(newer.data.get()));
    EXPECT_TRUE(source.isPlaying());
    (void)first;
}

TEST_F(NDITextureSourceTest, HasNoTimelineAndKeepsItsLastTextureAfterShutdown) {
    NDITextureSource source(receiver);
    EXPECT_FALSE(source.durationSeconds().has_value());
    EXPECT_FALSE(source.currentSeconds().has_value());
    EXPECT_FALSE(source.isSeekable());
    source.seek(12.0);
    source.setLooping(false);
    EXPECT_FALSE(source.isLooping());
    source.stop();

    connectTo("Cam@16x16@30", 16, 16);
    const GLuint texture = source.texture();
    ASSERT_NE(texture, 0u);
    receiver->shutdown();
    EXPECT_FALSE(receiver->latestFrame().has_value());
    EXPECT_EQ(source.texture(), texture);
}

// The sender's sound, played on the device, as a recording takes it from the tap.
TEST_F(NDITextureSourceTest, TheSendersSoundReachesTheRecordingTapWithItsGainAndLevel) {
    connectTo("Tone@32x16@50@1000", 32, 16);
    NDITextureSource source(receiver);
    ASSERT_NE(source.sound(), nullptr);
    ASSERT_TRUE(source.playsSound()) << "no playback device on SDL's dummy driver";
    float lastLevel = 0;
    source.setOnRecordingLevel([&](float level) { lastLevel = level; });

    struct Case {
        float gainDB;
        float peak;  // the fake's tone is a quarter of full scale
    };
    for (const Case c : {Case{0.0f, 0.25f}, Case{-6.0f, 0.125f}}) {
        SCOPED_TRACE(c.gainDB);
        source.setRecordingGainDB(c.gainDB);
        std::mutex lock;
        std::vector<float> left;
        source.installRecordingTap([&](const AudioSampleBuffer& buffer) {
            std::lock_guard guard(lock);
            // The device's first blocks may be silence: the sound starts with the first that is not.
            for (int64_t i = 0; i < buffer.frameCount; ++i) {
                if (!left.empty() || std::abs(buffer.left()[i]) > 0.01f) left.push_back(buffer.left()[i]);
            }
        });
        ASSERT_TRUE(pumpUntil(
            [&] {
                std::lock_guard guard(lock);
                return left.size() >= 48000 / 2;
            },
            std::chrono::seconds(20)));
        source.removeRecordingTap();
        std::lock_guard guard(lock);
        // A device starved on a loaded machine plays silence between blocks: the tone is
        // measured over what was heard.
        std::vector<float> heard;
        for (size_t i = 0, run = 0; i < left.size(); i += run) {
            for (run = 1; left[i] == 0.0f && i + run < left.size() && left[i + run] == 0.0f;) ++run;
            if (left[i] != 0.0f || run < 4) heard.insert(heard.end(), left.begin() + i, left.begin() + i + run);
        }
        EXPECT_NEAR(test::toneHz(heard, 48000), 1000, 30);
        float peak = 0;
        for (const float v : left) peak = std::max(peak, std::abs(v));
        EXPECT_NEAR(peak, c.peak, c.peak * 0.1f);
        EXPECT_GT(lastLevel, 0.0f);
    }
}

TEST_F(NDITextureSourceTest, WithoutPlaybackTheSoundIsLeftToOthers) {
    connectTo("Tone@32x16@50@1000", 32, 16);
    NDITextureSource source(receiver, NDIUploadPath::direct, NDISoundPlayback::none);
    EXPECT_FALSE(source.playsSound());
    EXPECT_EQ(source.sound(), nullptr);
}

}  // namespace
}  // namespace lumbrix
