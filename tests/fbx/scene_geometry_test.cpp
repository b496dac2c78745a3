#include "fbx/scene_geometry.h"

#include <climits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace lumbrix::fbx {
namespace {

using Spans = std::vector<std::pair<int, int>>;  // (first corner, corners) per polygon

Spans spansOf(const std::vector<Polygon>& polygons) {
    Spans spans;
    for (const Polygon& p : polygons) spans.emplace_back(p.fromVertex, p.vertexCount);
    return spans;
}

std::vector<int> cornersOf(const Partition& partition) {
    std::vector<int> starts;
    for (const Polygon& p : partition.polygons) starts.push_back(p.fromVertex);
    return starts;
}

TEST(SceneGeometryPolygons, EndMarkersCloseRunsAndTurnBackIntoIndices) {
    std::vector<int> indices{0, 1, -3, 2, 3, 4, -6};
    std::vector<Polygon> polygons;
    splitPolygons(indices, polygons);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 2, 3, 4, 5}), indices);
    EXPECT_EQ((Spans{{0, 3}, {3, 4}}), spansOf(polygons));
}

TEST(SceneGeometryPolygons, UnfinishedLastRunAndExtremeValues) {
    std::vector<int> indices{0, 1, -3, 4, 5};
    std::vector<Polygon> polygons;
    splitPolygons(indices, polygons);
    EXPECT_EQ((Spans{{0, 3}, {3, 2}}), spansOf(polygons));

    indices = {INT_MIN, -1, INT_MAX};
    splitPolygons(indices, polygons);
    EXPECT_EQ((std::vector<int>{INT_MAX, 0, INT_MAX}), indices);
    EXPECT_EQ((Spans{{0, 1}, {1, 1}, {2, 1}}), spansOf(polygons));

    indices.clear();
    splitPolygons(indices, polygons);
    EXPECT_TRUE(polygons.empty());
}

TEST(SceneGeometryLayers, ModeNamesIncludingTheirAliases) {
    EXPECT_EQ(LayerMapping::byPolygonVertex, layerMappingFromText("ByPolygonVertex"));
    EXPECT_EQ(LayerMapping::byControlPoint, layerMappingFromText("ByVertice"));
    EXPECT_EQ(LayerMapping::byControlPoint, layerMappingFromText("ByVertex"));
    EXPECT_EQ(LayerMapping::byControlPoint, layerMappingFromText("ByControlPoint"));
    EXPECT_EQ(LayerMapping::byPolygon, layerMappingFromText("ByPolygon"));
    EXPECT_EQ(LayerMapping::allSame, layerMappingFromText("AllSame"));
    EXPECT_EQ(LayerMapping::unsupported, layerMappingFromText("ByEdge"));
    EXPECT_EQ(LayerMapping::unsupported, layerMappingFromText(""));
    EXPECT_EQ(LayerReference::direct, layerReferenceFromText("Direct"));
    EXPECT_EQ(LayerReference::indexToDirect, layerReferenceFromText("IndexToDirect"));
    EXPECT_EQ(LayerReference::indexToDirect, layerReferenceFromText("Index"));
    EXPECT_EQ(LayerReference::unsupported, layerReferenceFromText("direct"));
}

// A triangle (0 1 2) and a quad (2 1 3 4): seven corners.
class SceneGeometryMapping : public ::testing::Test {
protected:
    std::vector<int> vertices{0, 1, 2, 2, 1, 3, 4};
    std::vector<Polygon> polygons{{0, 3}, {3, 4}};
    std::vector<int> corners;

    bool map(LayerMapping mapping, LayerReference reference, const std::vector<int>& index, size_t values) {
        return mapLayerToCorners(mapping, reference, index, values, vertices, polygons, corners);
    }
};

TEST_F(SceneGeometryMapping, ByPolygonVertex) {
    ASSERT_TRUE(map(LayerMapping::byPolygonVertex, LayerReference::direct, {}, 7));
    EXPECT_TRUE(corners.empty());  // values already one per corner

    // Too few values: corners get their own numbers so callers can see which are missing.
    ASSERT_TRUE(map(LayerMapping::byPolygonVertex, LayerReference::direct, {}, 5));
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3, 4, 5, 6}), corners);

    ASSERT_TRUE(map(LayerMapping::byPolygonVertex, LayerReference::indexToDirect, {6, 5, 4, 3, 2, 1, 0}, 7));
    EXPECT_EQ((std::vector<int>{6, 5, 4, 3, 2, 1, 0}), corners);

    ASSERT_TRUE(map(LayerMapping::byPolygonVertex, LayerReference::indexToDirect, {3, 99, -4, 0, 1}, 4));
    EXPECT_EQ((std::vector<int>{3, 99, -4, 0, 1, -1, -1}), corners);
}

TEST_F(SceneGeometryMapping, ByControlPoint) {
    ASSERT_TRUE(map(LayerMapping::byControlPoint, LayerReference::direct, {}, 5));
    EXPECT_EQ(vertices, corners);

    // Vertex 4 has no entry in the index array.
    ASSERT_TRUE(map(LayerMapping::byControlPoint, LayerReference::indexToDirect, {10, 11, 12, 13}, 20));
    EXPECT_EQ((std::vector<int>{10, 11, 12, 12, 11, 13, -1}), corners);

    vertices[6] = INT_MAX;
    ASSERT_TRUE(map(LayerMapping::byControlPoint, LayerReference::indexToDirect, {10, 11, 12, 13}, 20));
    EXPECT_EQ(-1, corners[6]);
}

TEST_F(SceneGeometryMapping, ByPolygonAndAllSame) {
    ASSERT_TRUE(map(LayerMapping::byPolygon, LayerReference::direct, {}, 2));
    EXPECT_EQ((std::vector<int>{0, 0, 0, 1, 1, 1, 1}), corners);
    ASSERT_TRUE(map(LayerMapping::byPolygon, LayerReference::indexToDirect, {5}, 8));
    EXPECT_EQ((std::vector<int>{5, 5, 5, -1, -1, -1, -1}), corners);

    ASSERT_TRUE(map(LayerMapping::allSame, LayerReference::direct, {}, 1));
    EXPECT_EQ(std::vector<int>(7, 0), corners);
    ASSERT_TRUE(map(LayerMapping::allSame, LayerReference::indexToDirect, {9, 1}, 10));
    EXPECT_EQ(std::vector<int>(7, 9), corners);
}

TEST_F(SceneGeometryMapping, IndexModeWithoutIndexArrayReadsDirectly) {
    ASSERT_TRUE(map(LayerMapping::byControlPoint, LayerReference::indexToDirect, {}, 5));
    EXPECT_EQ(vertices, corners);
    ASSERT_TRUE(map(LayerMapping::byPolygonVertex, LayerReference::indexToDirect, {}, 7));
    EXPECT_TRUE(corners.empty());
}

TEST_F(SceneGeometryMapping, UnsupportedModesGiveNoLayer) {
    corners = {1, 2, 3};
    EXPECT_FALSE(map(LayerMapping::unsupported, LayerReference::direct, {}, 7));
    EXPECT_TRUE(corners.empty());
    EXPECT_FALSE(map(LayerMapping::byPolygonVertex, LayerReference::unsupported, {}, 7));
}

TEST(SceneGeometryPartitions, PolygonsGoToTheirSlotOrToSlotZero) {
    const std::vector<Polygon> polygons{{0, 3}, {3, 4}, {7, 3}, {10, 3}, {13, 3}};
    auto partitions = partitionByMaterial(polygons, LayerMapping::byPolygon, {1, 0, 5, -1}, 2);
    ASSERT_EQ(2u, partitions.size());
    // Index 5 and -1 are outside the two slots; the fifth polygon has no entry.
    EXPECT_EQ((std::vector<int>{3, 7, 10, 13}), cornersOf(partitions[0]));
    EXPECT_EQ((std::vector<int>{0}), cornersOf(partitions[1]));

    partitions = partitionByMaterial(polygons, LayerMapping::allSame, {1}, 3);
    ASSERT_EQ(3u, partitions.size());
    EXPECT_TRUE(partitions[0].polygons.empty());
    EXPECT_EQ(spansOf(polygons), spansOf(partitions[1].polygons));
    EXPECT_TRUE(partitions[2].polygons.empty());
}

TEST(SceneGeometryPartitions, SlotCountFollowsTheModelsMaterials) {
    const std::vector<Polygon> polygons{{0, 3}, {3, 3}};
    // No material connected: still one partition holding everything.
    auto partitions = partitionByMaterial(polygons, LayerMapping::byPolygon, {1, 1}, 0);
    ASSERT_EQ(1u, partitions.size());
    EXPECT_EQ(spansOf(polygons), spansOf(partitions[0].polygons));

    partitions = partitionByMaterial(polygons, LayerMapping::unsupported, {1, 1}, 2);
    ASSERT_EQ(2u, partitions.size());
    EXPECT_EQ(spansOf(polygons), spansOf(partitions[0].polygons));

    EXPECT_TRUE(partitionByMaterial({}, LayerMapping::byPolygon, {0}, 3).empty());
}

}  // namespace
}  // namespace lumbrix::fbx
