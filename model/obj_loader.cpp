#include "model/obj_loader.h"

#include <cerrno>
#include <algorithm>
#include <new>

#include "model/obj_geometry.h"
#include "platform/file_buffer.h"

namespace lumbrix {

OBJError OBJError::invalidUTF8(size_t byteOffset) {
    return {OBJErrorCase::invalidUTF8,
            {"The file is not valid UTF-8 text (first invalid byte at offset " + std::to_string(byteOffset) + ")."}};
}

std::string OBJError::description() const {
    std::string text;
    for (const auto& message : messages) {
        if (!text.empty()) text += ' ';
        text += message;
    }
    return text;
}

std::string describe(const OBJLoadError& error) {
    if (const auto* system = std::get_if<Error>(&error)) return system->description;
    return std::get<OBJError>(error).description();
}

namespace {

OBJLoadResult fromParse(Expected<Mesh, OBJError>&& parsed) {
    if (!parsed) return unexpected(OBJLoadError(std::move(parsed.error())));
    return std::move(parsed).value();
}

}  // namespace

OBJLoadResult OBJLoader::load(const std::string& path) {
    auto file = readWholeFile(path);
    if (!file) return unexpected(OBJLoadError(file.error()));
    try {
        FileBuffer& buffer = file.value();
        OBJGeometryOptions options;
        // The text is read front to back once the validation pass is over, so the
        // part already turned into geometry can go back to the system.
        options.releaseConsumed = [&buffer](size_t offset, size_t length) {
            buffer.releaseConsumed(offset, length);
        };
        return fromParse(parseOBJText(buffer.data(), buffer.size(), options));
    } catch (const std::bad_alloc&) {
        return unexpected(OBJLoadError(posixError(ENOMEM, "Cannot load " + path)));
    }
}

OBJLoadResult OBJLoader::loadFromMemory(std::string_view bytes) {
    try {
        // The parser reads one byte past the text, so give it a terminated copy.
        FileBuffer copy(bytes.size());
        std::copy(bytes.begin(), bytes.end(), copy.data());
        copy.data()[bytes.size()] = '\0';
        return fromParse(parseOBJText(copy.data(), bytes.size()));
    } catch (const std::bad_alloc&) {
        return unexpected(OBJLoadError(posixError(ENOMEM, "Cannot load model text")));
    }
}

}  // namespace lumbrix
