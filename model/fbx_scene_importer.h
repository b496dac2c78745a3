#pragma once
// Imports an FBX file as one merged triangle mesh in scene space, with its cameras.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "model/fbx_imported_scene.h"
#include "platform/error.h"
#include "platform/expected.h"

namespace lumbrix {

class FBXSceneImporter {
public:
    static constexpr const char* kErrorDomain = "FBXSceneImporter";
    enum ErrorCode { readFailed = 1, parseFailed = 2, unsupportedContent = 3 };

    static Expected<std::shared_ptr<FBXImportedScene>, Error> loadSceneFromURL(const std::string& path);
    static Expected<std::vector<std::shared_ptr<FBXImportedCamera>>, Error> loadCamerasFromURL(
        const std::string& path);

    // The readFailed error an import of `path` would give when it is missing, a folder or
    // not a regular file (a named pipe, a device), told without opening it; nothing for a
    // regular file. Lets a caller refuse those before running anything else on the path.
    static std::optional<Error> checkFile(const std::string& path);

    // The same import on bytes already in memory.
    static Expected<std::shared_ptr<FBXImportedScene>, Error> loadScene(const uint8_t* data, uint64_t size);
};

}  // namespace lumbrix
