// libFuzzer entry: any bytes through the FBX document reader must parse or fail
// with one line of text; whatever parses must be safe to walk, and every array in
// it must decode into every element type or fail with one line of text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fbx/fbx_document.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

void checkError(const std::string& error) { check(!error.empty() && error.find('\n') == std::string::npos); }

template <class T>
void decodeAll(const lumbrix::fbx::Property& property) {
    std::vector<T> values;
    std::string error;
    if (property.decode(values, error)) {
        check(values.size() == property.arrayCount());
    } else {
        checkError(error);
        check(values.empty());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace lumbrix::fbx;
    // An exact-size copy so reads past the end are caught by the sanitizer.
    const std::vector<uint8_t> bytes(data, data + size);
    std::string error;
    const auto document = Document::parse(bytes.data(), bytes.size(), error);
    if (!document) {
        checkError(error);
        return 0;
    }
    check(error.empty());
    check(document->version() >= 7000 && document->version() <= 7999);
    std::vector<const Node*> pending{&document->root()};
    size_t visited = 0;
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        ++visited;
        check(node->name().size() <= size);
        for (size_t i = 0; i < node->propertyCount(); ++i) {
            const Property& property = node->property(i);
            (void)property.toInt64();
            (void)property.toDouble();
            check(property.toStringView().size() <= size);
            check(property.offset() < size);
            if (!property.isArray()) continue;
            decodeAll<double>(property);
            decodeAll<float>(property);
            decodeAll<int32_t>(property);
            decodeAll<int64_t>(property);
        }
        for (const Node* child = node->firstChild(); child != nullptr; child = child->nextSibling()) {
            pending.push_back(child);
        }
        check(visited <= size + 1);  // every node takes at least a byte of the file
    }
    return 0;
}
