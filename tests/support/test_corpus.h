#pragma once
// Where test files come from. Our own exports (tests/data) travel with the
// repository; the shared corpus beside it (third-party files, the 6 MB Blender
// grid) does not, so a plain clone skips what needs it. CI sets
// LUMBRIX_REQUIRE_CORPUS, which turns that skip into a failure: a broken corpus
// path there must not quietly drop a hundred files from the run.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

namespace lumbrix::test {

// A file of tests/data, e.g. "generated/blender/bl_b_cube_uv.fbx".
inline std::filesystem::path testData(const std::string& relative) {
    return std::filesystem::path(LUMBRIX_TEST_DATA_DIR) / relative;
}

// A file of the shared corpus, e.g. "third_party/ufbx/data/maya_cube_7400_ascii.fbx".
inline std::filesystem::path sharedCorpus(const std::string& relative) {
    return std::filesystem::path(LUMBRIX_CORPUS_DIR) / relative;
}

// Empty when the corpus is there, otherwise the one line a skip prints.
inline std::string sharedCorpusAbsence() {
    std::error_code ignored;
    if (std::filesystem::is_directory(sharedCorpus("third_party"), ignored)) return {};
    return "shared corpus absent at " LUMBRIX_CORPUS_DIR;
}

inline bool sharedCorpusRequired() {
    const char* value = std::getenv("LUMBRIX_REQUIRE_CORPUS");
    return value && *value && std::string_view(value) != "0";
}

}  // namespace lumbrix::test

// First statement of a test that reads the shared corpus.
#define LUMBRIX_SKIP_WITHOUT_SHARED_CORPUS()                                                         \
    do {                                                                                             \
        const std::string lumbrixAbsence = ::lumbrix::test::sharedCorpusAbsence();                   \
        if (!lumbrixAbsence.empty()) {                                                               \
            if (::lumbrix::test::sharedCorpusRequired()) {                                           \
                GTEST_FAIL() << lumbrixAbsence << ", and LUMBRIX_REQUIRE_CORPUS asks for it";        \
            }                                                                                        \
            GTEST_SKIP() << lumbrixAbsence;                                                          \
        }                                                                                            \
    } while (false)
