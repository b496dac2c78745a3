#include "tools/render/render_scene.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>

#include "model/fbx_scene_importer.h"
#include "model/obj_loader.h"
#include "render/scene_camera.h"

extern char** environ;

namespace lumbrix::render_tool {

namespace {

std::string lowercaseExtension(const std::string& path) {
    std::string extension = std::filesystem::path(path).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension;
}

// Runs `program` with `argument` and returns its standard output; -1 status when it
// could not run.
std::pair<int, std::string> runProgram(const std::string& program, const std::string& argument) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {-1, {}};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), const_cast<char*>(argument.c_str()), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string output;
    if (spawned == 0) {
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(pipeEnds[0], buffer, sizeof buffer)) > 0) output.append(buffer, static_cast<size_t>(got));
    }
    close(pipeEnds[0]);
    if (spawned != 0) return {-1, {}};
    int status = 0;
    waitpid(child, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

// The "error" text of Varnel's JSON line, unescaped.
std::string varnelError(const std::string& json) {
    const size_t key = json.find("\"error\":\"");
    if (key == std::string::npos) return "Failed to read FBX file";
    std::string text;
    for (size_t i = key + 9; i < json.size() && json[i] != '"'; ++i) {
        if (json[i] == '\\' && i + 1 < json.size()) {
            const char next = json[++i];
            text += next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            text += json[i];
        }
    }
    return text;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty()) out.push_back(line);
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out;
}

Expected<LoadedModel, std::vector<std::string>> loadFBX(const std::string& path) {
    // As the viewer does: a path that is no regular file is refused with its reason, then
    // the separate checker runs, so a file that would crash or hang the reader never
    // reaches this process.
    if (auto unreadable = FBXSceneImporter::checkFile(path)) return unexpected(lines(unreadable->description));
    const std::string varnel = (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "Varnel").string();
    auto [status, output] = runProgram(varnel, path);
    if (status < 0) return unexpected(std::vector<std::string>{"Cannot run Varnel (" + varnel + ")"});
    if (status != 0 || output.find("\"ok\":true") == std::string::npos) {
        return unexpected(std::vector<std::string>{varnelError(output)});
    }
    auto imported = FBXSceneImporter::loadSceneFromURL(path);
    if (!imported) return unexpected(lines(imported.error().description));
    const FBXImportedScene& scene = *imported.value();
    if (!scene.mesh()) return unexpected(std::vector<std::string>{"FBX has no mesh geometry."});
    // The importer's records as they are, without a second zero-filled copy of a big mesh.
    auto mesh = std::make_shared<Mesh>(scene.mesh()->toMesh());
    LoadedModel model;
    model.mesh = std::move(mesh);
    model.cameras = scene.cameras();
    return model;
}

// A small JSON reader for the one record a camera file holds.
class JsonReader {
public:
    explicit JsonReader(const std::string& text) : text_(text) {}

    bool readObject(CameraState& state, std::string& problem) {
        skip();
        if (!take('{')) return fail(problem, "not a JSON object");
        bool position = false, target = false;
        for (bool first = true;; first = false) {
            skip();
            if (take('}')) break;
            if (!first && !take(',')) return fail(problem, "expected , or }");
            skip();
            std::string key;
            if (!readString(key)) return fail(problem, "expected a key");
            skip();
            if (!take(':')) return fail(problem, "expected :");
            skip();
            if (key == "position" || key == "target") {
                Float3& into = key == "position" ? state.position : state.target;
                (key == "position" ? position : target) = true;
                if (!readVector(into)) return fail(problem, key + " must be an array of three numbers");
            } else if (key == "yaw" || key == "pitch" || key == "distance" || key == "fov") {
                double value = 0;
                if (!readNumber(value)) return fail(problem, key + " must be a number");
                float& into = key == "yaw" ? state.yaw : key == "pitch" ? state.pitch : key == "distance" ? state.distance : state.fov;
                into = static_cast<float>(value);
            } else if (!skipValue()) {
                return fail(problem, "unreadable value of " + key);
            }
        }
        skip();
        if (at_ != text_.size()) return fail(problem, "text after the object");
        if (!position || !target) return fail(problem, "position and target are required");
        return true;
    }

private:
    static bool fail(std::string& problem, std::string text) {
        problem = std::move(text);
        return false;
    }
    void skip() {
        while (at_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[at_]))) ++at_;
    }
    bool take(char c) {
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool readString(std::string& out) {
        if (!take('"')) return false;
        while (at_ < text_.size() && text_[at_] != '"') {
            if (text_[at_] == '\\') ++at_;
            if (at_ < text_.size()) out += text_[at_++];
        }
        return take('"');
    }
    bool readNumber(double& value) {
        const char* start = text_.c_str() + at_;
        char* end = nullptr;
        value = std::strtod(start, &end);
        if (end == start || !std::isfinite(value)) return false;
        at_ += static_cast<size_t>(end - start);
        return true;
    }
    bool readVector(Float3& out) {
        double v[3];
        if (!take('[')) return false;
        for (int i = 0; i < 3; ++i) {
            skip();
            if (i > 0 && !take(',')) return false;
            skip();
            if (!readNumber(v[i])) return false;
        }
        skip();
        if (!take(']')) return false;
        out = {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
        return true;
    }
    bool skipValue() {
        skip();
        std::string ignored;
        double number = 0;
        if (at_ < text_.size() && text_[at_] == '"') return readString(ignored);
        if (take('[') || take('{')) {
            int depth = 1;
            while (at_ < text_.size() && depth > 0) {
                if (text_[at_] == '"') {
                    if (!readString(ignored)) return false;
                    continue;
                }
                if (text_[at_] == '[' || text_[at_] == '{') ++depth;
                if (text_[at_] == ']' || text_[at_] == '}') --depth;
                ++at_;
            }
            return depth == 0;
        }
        for (const char* word : {"true", "false", "null"}) {
            if (text_.compare(at_, std::strlen(word), word) == 0) {
                at_ += std::strlen(word);
                return true;
            }
        }
        return readNumber(number);
    }

    const std::string& text_;
    size_t at_ = 0;
};

}  // namespace

Expected<LoadedModel, std::vector<std::string>> loadModel(const std::string& path) {
    const std::string extension = lowercaseExtension(path);
    if (extension == ".fbx") return loadFBX(path);
    if (extension != ".obj") {
        return unexpected(std::vector<std::string>{"Not an OBJ or FBX file: " + path});
    }
    auto loaded = OBJLoader::load(path);
    if (!loaded) {
        if (const auto* obj = std::get_if<OBJError>(&loaded.error())) {
            if (obj->errorCase == OBJErrorCase::validationFailed) return unexpected(obj->messages);
        }
        return unexpected(std::vector<std::string>{describe(loaded.error())});
    }
    LoadedModel model;
    model.mesh = std::make_shared<Mesh>(std::move(loaded.value()));
    return model;
}

Expected<CameraState, Error> parseCameraState(const std::string& json) {
    CameraState state;
    std::string problem;
    JsonReader reader(json);
    if (!reader.readObject(state, problem)) return unexpected(Error("CameraState", 1, problem));
    return state;
}

void applyFBXCamera(OrbitCamera& camera, const FBXImportedCamera& fbx, float aspect, const Float3& modelCentre) {
    camera.fovDegrees = verticalFovDegrees(fbx.fovHDegrees(), aspect);
    const Float3 position{fbx.position()[0], fbx.position()[1], fbx.position()[2]};
    const Float3 forward{fbx.forward()[0], fbx.forward()[1], fbx.forward()[2]};
    lookFromSceneCamera(camera, position, forward, modelCentre);
}

}  // namespace lumbrix::render_tool
