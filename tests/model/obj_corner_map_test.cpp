#include <map>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "model/obj_corner_map.h"

namespace lumbrix {
namespace {

// Drives the map the way the loader does and checks it against std::map.
class CornerMapModel {
public:
    CornerMapModel(size_t positions, size_t vertices) : map_(positions, vertices) {}

    uint32_t vertexFor(const CornerKey& key) {
        uint32_t index = 0;
        const bool found = map_.find(key, index);
        const auto reference = reference_.find(std::tie(key.v, key.vt, key.vn));
        EXPECT_EQ(found, reference != reference_.end()) << key.v << "/" << key.vt << "/" << key.vn;
        if (found) {
            EXPECT_EQ(index, reference->second);
            return index;
        }
        index = next_++;
        map_.insert(key, index);
        reference_[std::make_tuple(key.v, key.vt, key.vn)] = index;
        return index;
    }

    uint32_t distinct() const { return next_; }

private:
    CornerMap map_;
    std::map<std::tuple<int64_t, int64_t, int64_t>, uint32_t> reference_;
    uint32_t next_ = 0;
};

TEST(CornerMap, SameTripleSharesOneVertex) {
    CornerMapModel model(10, 10);
    const uint32_t a = model.vertexFor({1, 2, 3});
    EXPECT_EQ(model.vertexFor({1, 2, 3}), a);
    EXPECT_NE(model.vertexFor({1, 2, 4}), a);
    EXPECT_NE(model.vertexFor({1, 3, 3}), a);
    EXPECT_NE(model.vertexFor({2, 2, 3}), a);
    EXPECT_EQ(model.distinct(), 4u);
}

TEST(CornerMap, ManyVariantsOfOnePositionSpillAndStayFindable) {
    CornerMapModel model(4, 100);
    for (int round = 0; round < 3; ++round) {
        for (int64_t vt = 0; vt < 50; ++vt) model.vertexFor({2, vt, vt % 7});
    }
    EXPECT_EQ(model.distinct(), 50u);
}

TEST(CornerMap, KeysOutsideTheCompactFormAreKept) {
    CornerMapModel model(3, 10);
    const CornerKey odd[] = {
        {-1, 0, 0},  {3, 0, 0},  {1000000, 0, 0}, {0, -5, 0}, {0, 0, int64_t(1) << 40},
        {INT64_MIN, INT64_MIN, INT64_MIN}, {int64_t(UINT32_MAX), int64_t(UINT32_MAX), int64_t(UINT32_MAX)},
        {0, int64_t(UINT32_MAX) - 1, 0},
    };
    for (const auto& key : odd) model.vertexFor(key);
    for (const auto& key : odd) model.vertexFor(key);
    EXPECT_EQ(model.distinct(), std::size(odd));
}

TEST(CornerMap, RandomKeysAgreeWithAReferenceMap) {
    std::mt19937_64 random(1234);
    CornerMapModel model(64, 1000);
    std::uniform_int_distribution<int64_t> small(-3, 70);
    for (int i = 0; i < 20000; ++i) model.vertexFor({small(random), small(random) % 5, small(random) % 3});
    EXPECT_GT(model.distinct(), 1000u);
}

}  // namespace
}  // namespace lumbrix
