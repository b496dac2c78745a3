#include "tests/support/test_media.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace lumbrix::test {

namespace {

struct ProgramRun {
    bool started = false;
    int exitCode = -1;   // -1 when killed by a signal
    std::string output;  // stderr, and stdout when asked for
};

// Arguments go to exec as they are: no shell, so paths need no quoting.
ProgramRun runProgram(const std::vector<std::string>& args, bool keepStdout) {
    ProgramRun run;
    int pipeFds[2];
    // Close-on-exec so that children spawned by other threads do not hold the write
    // end open and keep our read from ending.
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        run.output = std::string("pipe: ") + std::strerror(errno);
        return run;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (keepStdout) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    }
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDERR_FILENO);

    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    if (spawned != 0) {
        ::close(pipeFds[0]);
        run.output = "cannot run " + args[0] + ": " + std::strerror(spawned);
        return run;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer);
        if (got > 0) {
            run.output.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    // 127 is what the child reports when exec failed after the fork.
    run.started = !(WIFEXITED(status) && WEXITSTATUS(status) == 127 && run.output.empty());
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (!run.started) run.output = "cannot run " + args[0];
    return run;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string lowercaseExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// The colour lands inside a filtergraph, where ':' ',' ';' '[' and quotes have meaning;
// anything beyond names, hex and an @alpha is refused rather than escaped.
bool isPlainColour(const std::string& colour) {
    if (colour.empty()) return false;
    return std::all_of(colour.begin(), colour.end(), [](unsigned char c) {
        return std::isalnum(c) || c == '_' || c == '#' || c == '@' || c == '.';
    });
}

// "file:" keeps ffmpeg from reading a leading '-' as an option or a "name:" as a protocol.
std::string outputArgument(const std::string& path) { return "file:" + path; }

bool fail(std::string* error, std::string message) {
    if (error != nullptr) *error = std::move(message);
    return false;
}

bool runFfmpeg(std::vector<std::string> args, const std::string& path, std::string* error) {
    args.insert(args.begin(), {"ffmpeg", "-hide_banner", "-loglevel", "error", "-nostdin", "-y"});
    args.push_back(outputArgument(path));
    const ProgramRun run = runProgram(args, false);
    if (run.started && run.exitCode == 0) return true;
    // A half-written file would only confuse the next test that trips over it.
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
    std::string message = run.started ? "ffmpeg exited with " + std::to_string(run.exitCode) : "ffmpeg did not run";
    std::string output = run.output;
    while (!output.empty() && std::isspace(static_cast<unsigned char>(output.back()))) output.pop_back();
    constexpr size_t kMaxOutput = 2000;
    if (output.size() > kMaxOutput) output = "..." + output.substr(output.size() - kMaxOutput);
    if (!output.empty()) message += ": " + output;
    return fail(error, std::move(message));
}

bool wantsFaststart(const std::string& muxer) {
    return muxer == "mp4" || muxer == "mov" || muxer == "m4v" || muxer == "m4a" || muxer == "ipod";
}

}  // namespace

bool makeClip(const std::string& path, const ClipSpec& spec, std::string* error) {
    if (path.empty()) return fail(error, "empty path");
    if (spec.widthPx <= 0 || spec.heightPx <= 0 || spec.widthPx % 2 != 0 || spec.heightPx % 2 != 0) {
        return fail(error, "yuv420p needs a positive, even width and height");
    }
    if (!(spec.fps > 0.0) || spec.fps > 1000.0) return fail(error, "frame rate out of range");
    if (spec.secondColors.empty()) return fail(error, "no colours: the clip would last 0 seconds");
    for (const std::string& colour : spec.secondColors) {
        if (!isPlainColour(colour)) return fail(error, "unusable colour \"" + colour + "\"");
    }
    const bool withSound = spec.sineHz > 0.0;
    if (withSound) {
        if (spec.audioChannels != 1 && spec.audioChannels != 2) return fail(error, "audioChannels must be 1 or 2");
        if (spec.audioRate <= 0) return fail(error, "audioRate must be positive");
        if (!(spec.sineAmplitude >= 0.0 && spec.sineAmplitude <= 1.0)) return fail(error, "sineAmplitude not in 0..1");
    }
    if (spec.videoCodec.empty() || (withSound && spec.audioCodec.empty())) return fail(error, "codec name missing");

    const std::string size = std::to_string(spec.widthPx) + "x" + std::to_string(spec.heightPx);
    const std::string rate = number(spec.fps);
    const size_t seconds = spec.secondColors.size();

    // Everything comes from source filters inside one graph: no inputs to open.
    std::string graph;
    for (size_t i = 0; i < seconds; ++i) {
        graph += "color=c=" + spec.secondColors[i] + ":s=" + size + ":r=" + rate + ":d=1[c" + std::to_string(i) + "];";
    }
    for (size_t i = 0; i < seconds; ++i) graph += "[c" + std::to_string(i) + "]";
    graph += "concat=n=" + std::to_string(seconds) + ":v=1:a=0";
    if (spec.movingDetail) {
        const int bandHeight = std::max(2, spec.heightPx / 4 * 2);
        graph += "[colours];testsrc2=s=" + std::to_string(spec.widthPx) + "x" + std::to_string(bandHeight) +
                 ":r=" + rate + ":d=" + std::to_string(seconds) +
                 "[band];[colours][band]overlay=x=0:y=" + std::to_string((spec.heightPx - bandHeight) / 2 / 2 * 2) +
                 ":eof_action=pass";
    }
    graph += ",format=yuv420p[v]";
    if (withSound) {
        // The sine source's peak is 1/8.
        graph += ";sine=frequency=" + number(spec.sineHz) + ":sample_rate=" + std::to_string(spec.audioRate) +
                 ":duration=" + std::to_string(seconds) + ",volume=" + number(spec.sineAmplitude * 8.0);
        if (spec.audioChannels == 2) graph += ",pan=stereo|c0=c0|c1=c0";
        graph += "[a]";
    }

    std::vector<std::string> args = {"-filter_complex", graph, "-map", "[v]", "-c:v", spec.videoCodec,
                                     "-pix_fmt", "yuv420p"};
    // A key frame every second keeps any seek within one second of decoding.
    const std::string keyInterval = std::to_string(std::max(1L, std::lround(spec.fps)));
    if (spec.videoCodec == "libx264") {
        args.insert(args.end(), {"-preset", "ultrafast", "-g", keyInterval, "-keyint_min", keyInterval});
    } else {
        args.insert(args.end(), {"-g", keyInterval});
        if (spec.videoCodec == "mpeg4") args.insert(args.end(), {"-q:v", "4"});
    }
    if (withSound) {
        args.insert(args.end(), {"-map", "[a]", "-c:a", spec.audioCodec, "-ar", std::to_string(spec.audioRate), "-ac",
                                 std::to_string(spec.audioChannels)});
        if (spec.audioCodec == "aac") args.insert(args.end(), {"-b:a", spec.audioChannels == 2 ? "160k" : "96k"});
    }
    const std::string muxer = spec.container.empty() ? lowercaseExtension(path) : spec.container;
    if (wantsFaststart(muxer)) args.insert(args.end(), {"-movflags", "+faststart"});
    if (!spec.container.empty()) args.insert(args.end(), {"-f", spec.container});
    return runFfmpeg(std::move(args), path, error);
}

bool makeAudioOnlyClip(const std::string& path, double seconds, std::string* error) {
    if (path.empty()) return fail(error, "empty path");
    if (!(seconds > 0.0) || seconds > 24.0 * 3600.0) return fail(error, "length out of range");
    std::vector<std::string> args = {
        "-filter_complex", "sine=frequency=440:sample_rate=48000:duration=" + number(seconds) +
                               ",volume=4,pan=stereo|c0=c0|c1=c0[a]",
        "-map", "[a]", "-ar", "48000", "-ac", "2"};
    const std::string extension = lowercaseExtension(path);
    if (extension == "mp4" || extension == "m4a" || extension == "mov" || extension == "mkv") {
        args.insert(args.end(), {"-c:a", "aac", "-b:a", "160k"});
    } else if (extension == "wav") {
        args.insert(args.end(), {"-c:a", "pcm_s16le"});
    }
    if (wantsFaststart(extension)) args.insert(args.end(), {"-movflags", "+faststart"});
    return runFfmpeg(std::move(args), path, error);
}

bool makeFileOfBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

std::string noiseBytes(size_t count, uint64_t seed) {
    // splitmix64: repeatable everywhere, unlike std:: distributions.
    std::string bytes(count, '\0');
    uint64_t state = seed;
    for (size_t i = 0; i < count; ++i) {
        state += 0x9E3779B97F4A7C15ull;
        uint64_t z = state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        bytes[i] = static_cast<char>((z ^ (z >> 31)) & 0xFF);
    }
    return bytes;
}

std::string ffmpegVersionLine() {
    // Asked once per process: suites check it in every SetUp.
    static const std::string line = [] {
        const ProgramRun run = runProgram({"ffmpeg", "-hide_banner", "-nostdin", "-version"}, true);
        if (!run.started || run.exitCode != 0) return std::string();
        std::string first = run.output.substr(0, run.output.find('\n'));
        return first.rfind("ffmpeg version", 0) == 0 ? first : std::string();
    }();
    return line;
}

}  // namespace lumbrix::test
