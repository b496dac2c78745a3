#include "sources/source_registry.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace lumbrix {

const SourceDescriptor& sourceDescriptor(SourceMode mode) {
    for (const SourceDescriptor& descriptor : kSourceDescriptors) {
        if (descriptor.mode == mode) return descriptor;
    }
    // Every mode has a row (the table test holds it to that); another value is a bug.
    return kSourceDescriptors.front();
}

const SourceDescriptor* sourceDescriptorForPath(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    // A hidden file's leading dot starts its name, not an extension.
    if (dot == std::string_view::npos || dot == 0 || dot + 1 == name.size()) return nullptr;
    std::string extension(name.substr(dot + 1));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const SourceDescriptor& descriptor : kSourceDescriptors) {
        if (std::find(descriptor.extensions.begin(), descriptor.extensions.end(), extension) !=
            descriptor.extensions.end()) {
            return &descriptor;
        }
    }
    return nullptr;
}

}  // namespace lumbrix
