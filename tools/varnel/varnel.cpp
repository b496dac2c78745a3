#include "tools/varnel/varnel.h"

#include <string>
#include <vector>

#include "fbx/fbx_document.h"
#include "fbx/fbx_scene.h"
#include "tools/varnel/json_escape.h"
#include "tools/varnel/whole_file.h"

namespace lumbrix::varnel {

namespace {

constexpr uint64_t kIgnoredBit6 = uint64_t(1) << 6;
static_assert(kVarnelLoadFlags ==
              (fbx::kLoadSkipBlendShapes | kIgnoredBit6 | fbx::kLoadSkipAnimations | fbx::kLoadSkipVideos));

// The viewer reads this line as JSON, so one fputs of a finished line: a
// partial write cannot leave half an object behind a valid prefix.
int finish(std::FILE* out, const std::string& line, int status) {
    std::fputs(line.c_str(), out);
    std::fflush(out);
    return status;
}

int failure(std::FILE* out, std::string_view message) {
    std::string line = "{\"ok\":false,\"error\":\"";
    appendJsonEscaped(line, message);
    line += "\"}\n";
    return finish(out, line, 1);
}

}  // namespace

int runVarnel(int argc, char** argv, std::FILE* out, std::FILE* err) {
    if (argc < 2 || argv[1] == nullptr) {
        std::fputs("Usage: Varnel <path-to-fbx>\n", err);
        std::fflush(err);
        return 1;
    }

    // Anything that is not FBX is told from its first bytes, before the whole file is read.
    WholeFile file;
    const HeadedRead read = readWholeFileAfterHead(
        argv[1], fbx::kFBXHeadBytes,
        [](const uint8_t* head, uint64_t headSize, uint64_t fileSize) {
            return fbx::couldBeFBX(head, headSize, fileSize);
        },
        file);
    if (read == HeadedRead::refused) return failure(out, fbx::kNotAnFBXFile);
    if (read == HeadedRead::failed) return failure(out, "Failed to read FBX file");

    // The count a whole load would give, or its error, without building the meshes:
    // the check reads only what it needs.
    std::string error;
    int meshes = 0;
    if (!fbx::Scene::countMeshes(file.bytes.get(), file.size, kVarnelLoadFlags, meshes, error)) {
        return failure(out, error.empty() ? "OpenFBX failed to parse scene" : error);
    }

    if (meshes == 0) return failure(out, "FBX has no meshes");
    if (meshes >= 2) return failure(out, "Multiple meshes (" + std::to_string(meshes) + "). Export as single mesh.");
    return finish(out, "{\"ok\":true,\"meshCount\":1}\n", 0);
}

}  // namespace lumbrix::varnel
