#include "spatial/octree.h"

#include <gtest/gtest.h>

#include <atomic>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "spatial_test_support.h"

namespace lumeno {
namespace {

using testing::AddFiller;
using testing::Soup;

// The leaf whose box holds p (p chosen off every split plane).
const OctreeNode& LeafAt(const Octree& tree, Vec3 p) {
    const OctreeNode* node = &tree.Root();
    while (node->isLeaf == 0) {
        int i = (p.x > node->center.x ? 4 : 0) + (p.y > node->center.y ? 2 : 0) +
                (p.z > node->center.z ? 1 : 0);
        node = &tree.Child(*node, i);
    }
    return *node;
}

bool Lists(const Octree& tree, const OctreeNode& leaf, const Triangle* triangle) {
    for (const Triangle* t : tree.TrianglesOf(leaf)) {
        if (t == triangle) {
            return true;
        }
    }
    return false;
}

// Depth, box, leaf flag and list of every node, depth first.
struct NodeImage {
    int depth;
    Vec3 boxMin;
    Vec3 boxMax;
    bool leaf;
    std::vector<const Triangle*> triangles;
    bool operator==(const NodeImage&) const = default;
};

void Flatten(const Octree& tree, const OctreeNode& node, std::vector<NodeImage>& out) {
    out.push_back({node.depth, node.boxMin, node.boxMax, node.isLeaf != 0, tree.TrianglesOf(node)});
    if (node.isLeaf == 0) {
        for (int i = 0; i < 8; ++i) {
            Flatten(tree, tree.Child(node, i), out);
        }
    }
}

std::vector<NodeImage> Flatten(const Octree& tree) {
    std::vector<NodeImage> out;
    Flatten(tree, tree.Root(), out);
    return out;
}

void RandomSoup(Soup& soup, int count, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> y(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::uniform_real_distribution<float> offset(-15.0f, 15.0f);
    for (int i = 0; i < count; ++i) {
        Vec3 p{x(rng), y(rng), z(rng)};
        soup.Add(p, p + Vec3{offset(rng), offset(rng), offset(rng)},
                 p + Vec3{offset(rng), offset(rng), offset(rng)});
    }
}

TEST(OctreeSplitRule, TenTrianglesStayInTheRootLeafWhereverTheyLie) {
    Soup soup;
    AddFiller(soup, 9);
    soup.AddSmall({500.0f, 500.0f, 500.0f});  // outside the root box, kept anyway
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    const OctreeNode& root = tree.Root();
    EXPECT_EQ(root.isLeaf, 1);
    EXPECT_EQ(root.depth, 0);
    EXPECT_EQ(tree.TrianglesOf(root),
              std::vector<const Triangle*>(soup.list.begin(), soup.list.end()));
    EXPECT_EQ(root.boxMin, kRootBoxMin);
    EXPECT_EQ(root.boxMax, kRootBoxMax);
    EXPECT_EQ(root.center, (Vec3{0, 0, 90}));
}

TEST(OctreeSplitRule, ElevenTrianglesSplitTheRootAndOutsideOnesAreDropped) {
    Soup soup;
    for (int i = 0; i < 11; ++i) {
        soup.AddSmall({300.0f + static_cast<float>(i), 0.0f, 0.0f});
    }
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    ASSERT_EQ(tree.Root().isLeaf, 0);
    for (int i = 0; i < 8; ++i) {
        const OctreeNode& child = tree.Child(tree.Root(), i);
        EXPECT_EQ(child.isLeaf, 1);
        EXPECT_EQ(child.depth, 1);
        EXPECT_TRUE(tree.TrianglesOf(child).empty()) << "child " << i;
    }
    EXPECT_EQ(tree.Stats().references, 0u);
}

TEST(OctreeSplitRule, ChildrenAreNumberedUpperXUpperYUpperZByBits421) {
    Soup soup;
    AddFiller(soup);
    soup.AddSmall({0, 0, 0});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    const OctreeNode& c5 = tree.Child(tree.Root(), 5);
    EXPECT_EQ(c5.boxMin, (Vec3{0, -100, 90}));
    EXPECT_EQ(c5.boxMax, (Vec3{100, 0, 220}));
    EXPECT_EQ(c5.center, (Vec3{50, -50, 155}));
    const OctreeNode& c2 = tree.Child(tree.Root(), 2);
    EXPECT_EQ(c2.boxMin, (Vec3{-100, 0, -40}));
    EXPECT_EQ(c2.boxMax, (Vec3{0, 100, 90}));
}

TEST(OctreeSplitRule, DepthFifteenStillSplitsAndDepthSixteenIsAlwaysALeaf) {
    Soup soup;
    // Eleven tiny triangles inside one depth-16 cell.
    for (int i = 0; i < 11; ++i) {
        soup.Add({1.0005f + 1e-5f * static_cast<float>(i), 1.0005f, 91.0005f},
                 {1.0006f + 1e-5f * static_cast<float>(i), 1.0005f, 91.0005f},
                 {1.0005f + 1e-5f * static_cast<float>(i), 1.0006f, 91.0005f});
    }
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    const OctreeNode& leaf = LeafAt(tree, {1.00055f, 1.00052f, 91.0005f});
    EXPECT_EQ(leaf.depth, 16);
    EXPECT_EQ(tree.TrianglesOf(leaf).size(), 11u);
    EXPECT_EQ(tree.Stats().maxDepth, 16);

    Soup ten;
    for (int i = 0; i < 10; ++i) {
        ten.AddSmall({1.0f, 1.0f, 91.0f}, 1e-4f);
    }
    ASSERT_TRUE(tree.Build(ten.list));
    EXPECT_EQ(tree.Root().isLeaf, 1);
}

TEST(OctreeSplitRule, ListsKeepTheInputOrder) {
    Soup soup;
    RandomSoup(soup, 400, 7);
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    std::map<const Triangle*, std::size_t> position;
    for (std::size_t i = 0; i < soup.list.size(); ++i) {
        position[soup.list[i]] = i;
    }
    std::size_t leavesChecked = 0;
    for (const NodeImage& node : Flatten(tree)) {
        for (std::size_t k = 1; k < node.triangles.size(); ++k) {
            ASSERT_LT(position[node.triangles[k - 1]], position[node.triangles[k]]);
        }
        leavesChecked += node.leaf ? 1 : 0;
    }
    EXPECT_GT(leavesChecked, 8u);
}

TEST(OctreeMembership, ACornerOnASplitPlaneBelongsToBothNeighbours) {
    Soup soup;
    AddFiller(soup);
    Triangle& t = soup.Add({0, 10, 10}, {-20, 10, 10}, {-20, 30, 10});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    EXPECT_TRUE(Lists(tree, tree.Child(tree.Root(), 2), &t));
    EXPECT_TRUE(Lists(tree, tree.Child(tree.Root(), 6), &t));
    EXPECT_FALSE(Lists(tree, tree.Child(tree.Root(), 4), &t));
    EXPECT_FALSE(Lists(tree, tree.Child(tree.Root(), 7), &t));
}

TEST(OctreeMembership, ATriangleLyingInASplitPlaneIsListedWhereverItsFootprintReaches) {
    Soup soup;
    AddFiller(soup);
    // In the plane x = 0; children 1 and 5 (lower y, upper z) hold none of
    // its corners.
    Triangle& t = soup.Add({0, -95, -30}, {0, 95, -30}, {0, 5, 215});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(Lists(tree, tree.Child(tree.Root(), i), &t)) << "child " << i;
    }
}

TEST(OctreeMembership, BuildingTwiceGivesTheSameTreeAndTheCounterGoesOn) {
    Soup soup;
    RandomSoup(soup, 300, 3);
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    std::vector<NodeImage> first = Flatten(tree);
    HitRecord hit;
    tree.FindNearestHit({{0, 0, 0}, {0, 0, 1}}, hit);
    tree.IsOccluded({0, 0, 50}, {{0, 0, 0}, {0, 0, 1}}, hit);
    EXPECT_EQ(tree.queryCounter, 3);
    ASSERT_TRUE(tree.Build(soup.list));
    EXPECT_EQ(Flatten(tree), first);
    EXPECT_EQ(tree.queryCounter, 3);
}

TEST(OctreeMembership, ABuildCalledOffLeavesAnEmptyTreeAndTheNextBuildIsWhole) {
    Soup soup;
    RandomSoup(soup, 3000, 5);
    Octree tree;
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(tree.Build(soup.list, nullptr, Octree::kDefaultBudget, &cancel));
    HitRecord hit;
    EXPECT_FALSE(tree.FindNearestHitParallel({{0, 0, 50}, {0, 0, 1}}, hit));
    EXPECT_EQ(tree.Stats().references, 0u);
    cancel = false;
    ASSERT_TRUE(tree.Build(soup.list, nullptr, Octree::kDefaultBudget, &cancel));
    Octree plain;
    ASSERT_TRUE(plain.Build(soup.list));
    EXPECT_EQ(Flatten(tree), Flatten(plain));
}

TEST(TriangleOverlapsBox, ATriangleCuttingThroughWithAllCornersOutsideOverlaps) {
    Vec3 lo{0, 0, 0};
    Vec3 hi{1, 1, 1};
    EXPECT_TRUE(TriangleOverlapsBox({-10, -10, 0.2f}, {10, -10, 0.5f}, {0, 20, 0.8f}, lo, hi));
    // Large and in the plane x = 0.5: only box edges pierce it.
    EXPECT_TRUE(TriangleOverlapsBox({0.5f, -5, -5}, {0.5f, 10, -5}, {0.5f, -5, 10}, lo, hi));
    // The same beside the box.
    EXPECT_FALSE(TriangleOverlapsBox({1.5f, -5, -5}, {1.5f, 10, -5}, {1.5f, -5, 10}, lo, hi));
    // Tilted past a box corner without reaching it.
    EXPECT_FALSE(TriangleOverlapsBox({3.1f, 0, 0}, {0, 3.1f, 0}, {0, 0, 3.1f}, lo, hi));
}

TEST(TriangleOverlapsBox, ATriangleInAFacePlaneTouchesWhereItOverlapsTheFace) {
    Vec3 lo{0, 0, 0};
    Vec3 hi{1, 1, 1};
    // Covering the face x = 0 with every corner outside the box.
    EXPECT_TRUE(TriangleOverlapsBox({0, -5, -5}, {0, 10, -5}, {0, -5, 10}, lo, hi));
    EXPECT_TRUE(TriangleOverlapsBox({-5, -5, 1}, {10, -5, 1}, {-5, 10, 1}, lo, hi));
    // In the face plane, touching the face only at its corner (1, 1).
    EXPECT_TRUE(TriangleOverlapsBox({0, 1, 1}, {0, 3, 1}, {0, 1, 3}, lo, hi));
    // In the face plane but beside the face.
    EXPECT_FALSE(TriangleOverlapsBox({0, 2, 2}, {0, 5, 2}, {0, 2, 5}, lo, hi));
    // In the face plane, its bounding square overlapping the face but its
    // hypotenuse passing beyond the corner (1, 1).
    EXPECT_FALSE(TriangleOverlapsBox({0, 3, 0.5f}, {0, 0.5f, 3}, {0, 3, 3}, lo, hi));
}

TEST(TriangleOverlapsBox, AnEdgeJustBeyondTheRimTouchesWithinTheTolerance) {
    Vec3 lo{0, 0, 0};
    Vec3 hi{1, 1, 1};
    // The edge from a to b runs past the box edge x = 0, y = 1 at distance
    // s; the third corner keeps the triangle on the far side.
    auto triangle = [&](float s) {
        Vec3 a{-2.0f - s, -1.0f, 0.5f};
        Vec3 b{1.0f, 2.0f + s, 0.5f};
        Vec3 c{-2.0f, 5.0f, 0.5f};
        return TriangleOverlapsBox(a, b, c, lo, hi);
    };
    EXPECT_TRUE(triangle(5e-7f));
    EXPECT_FALSE(triangle(1e-5f));
}

TEST(OctreeBudget, AStackOfCoincidentCopiesIsCutShortWithADiagnostic) {
    Soup soup;
    AddFiller(soup);
    for (int i = 0; i < 12; ++i) {
        soup.Add({-90, -90, 10}, {90, -90, 10}, {-90, 90, 10});
    }
    Octree tree;
    Diagnostics diagnostics;
    ASSERT_TRUE(tree.Build(soup.list, &diagnostics, {20000, 1u << 20}));
    EXPECT_TRUE(tree.Stats().budgetSpent);
    EXPECT_GT(tree.Stats().leavesCutShort, 0u);
    EXPECT_LE(tree.Stats().nodes, 20000u);
    ASSERT_EQ(diagnostics.Entries().size(), 1u);
    EXPECT_NE(diagnostics.Entries()[0].message.find("memory limit"), std::string::npos);

    // Rays still find the panel.
    HitRecord hit;
    ASSERT_TRUE(tree.FindNearestHitParallel({{-50, 30, 100}, {0, 0, -1}}, hit));
    EXPECT_FLOAT_EQ(hit.distance, 90.0f);
}

TEST(OctreeBudget, OverlappingPanelsInOnePlaneStopAtTheNodeLimit) {
    Soup soup;
    // Eleven differently shaped panels in one plane: where they overlap no
    // split ever separates them, down to depth 16.
    for (int i = 0; i < 11; ++i) {
        float r = 60.0f + 3.0f * static_cast<float>(i);
        soup.Add({-r, -r, 10.3f}, {r, -r, 10.3f}, {-r, r, 10.3f});
    }
    Octree tree;
    Diagnostics diagnostics;
    const Octree::Budget budget{100000, 1u << 22};
    ASSERT_TRUE(tree.Build(soup.list, &diagnostics, budget));
    EXPECT_TRUE(tree.Stats().budgetSpent);
    EXPECT_LE(tree.Stats().nodes, budget.maxNodes);
    EXPECT_LE(tree.MemoryBytes(), 2 * (budget.maxNodes * sizeof(OctreeNode) +
                                       budget.maxReferences * sizeof(std::uint32_t)));
    EXPECT_FALSE(diagnostics.Empty());
}

// More triangles than the budget has references: the root's list alone is
// over it, yet the scene is still divided.
TEST(OctreeBudget, MoreTrianglesThanReferencesStillSplit) {
    Soup soup;
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> at(-90.0f, 90.0f);
    for (int i = 0; i < 200; ++i) {
        soup.AddSmall({at(rng), at(rng), at(rng) + 90.0f});
    }
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list, nullptr, {1u << 23, 150}));
    EXPECT_GT(tree.Stats().nodes, 1u);
    EXPECT_LT(tree.Stats().largestCutShort, 200u);
}

TEST(OctreeBudget, ATreeThatFitsIsExactlyTheUnboundedOne) {
    Soup soup;
    RandomSoup(soup, 500, 11);
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    ASSERT_FALSE(tree.Stats().budgetSpent);
    std::vector<NodeImage> unbounded = Flatten(tree);
    std::size_t nodes = tree.Stats().nodes;

    ASSERT_TRUE(tree.Build(soup.list, nullptr, {nodes, Octree::kDefaultBudget.maxReferences}));
    EXPECT_FALSE(tree.Stats().budgetSpent);
    EXPECT_EQ(Flatten(tree), unbounded);

    Diagnostics diagnostics;
    ASSERT_TRUE(tree.Build(soup.list, &diagnostics, {nodes - 1, 1u << 20}));
    EXPECT_TRUE(tree.Stats().budgetSpent);
    EXPECT_FALSE(diagnostics.Empty());
    // Everything before the first refused split is as specified, in
    // depth-first order; the refused node keeps its whole list.
    std::vector<NodeImage> cut = Flatten(tree);
    ASSERT_LT(cut.size(), unbounded.size());
    std::size_t same = 0;
    while (same < cut.size() && cut[same] == unbounded[same]) {
        ++same;
    }
    ASSERT_LT(same, cut.size());
    EXPECT_TRUE(cut[same].leaf);
    EXPECT_FALSE(unbounded[same].leaf);
    EXPECT_GT(cut[same].triangles.size(), kMaxLeafTriangles);
}

TEST(OctreeBudget, AShortBudgetIsSharedByAllPartsOfTheSceneAndReportedAsItIs) {
    // Eight separate clusters: the unbounded tree refines each of them alike.
    Soup soup;
    std::mt19937 rng(17);
    std::uniform_real_distribution<float> spread(-3.0f, 3.0f);
    for (int k = 0; k < 8; ++k) {
        Vec3 center{(k & 4) != 0 ? 50.0f : -50.0f, (k & 2) != 0 ? 50.0f : -50.0f,
                    (k & 1) != 0 ? 155.0f : 25.0f};
        for (int i = 0; i < 400; ++i) {
            soup.AddSmall(center + Vec3{spread(rng), spread(rng), spread(rng)}, 0.2f);
        }
    }
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    std::size_t nodes = tree.Stats().nodes;

    Diagnostics diagnostics;
    ASSERT_TRUE(tree.Build(soup.list, &diagnostics, {nodes / 2, 1u << 20}));
    const Octree::BuildStats& stats = tree.Stats();
    ASSERT_TRUE(stats.budgetSpent);
    EXPECT_LE(stats.nodes, nodes / 2);
    // No cluster is left behind: every one is split well below its 400.
    std::size_t largest = 0;
    std::size_t cut = 0;
    for (const NodeImage& node : Flatten(tree)) {
        if (node.leaf && node.triangles.size() > kMaxLeafTriangles && node.depth <= 15) {
            largest = std::max(largest, node.triangles.size());
            ++cut;
        }
    }
    EXPECT_LT(largest, 100u);
    EXPECT_EQ(stats.leavesCutShort, cut);
    EXPECT_EQ(stats.largestCutShort, largest);
    ASSERT_EQ(diagnostics.Entries().size(), 1u);
    const std::string& message = diagnostics.Entries()[0].message;
    EXPECT_NE(message.find(std::to_string(cut) + " leaves"), std::string::npos) << message;
    EXPECT_NE(message.find(std::to_string(largest) + " triangles"), std::string::npos) << message;
    EXPECT_EQ(message.find("overlap"), std::string::npos) << message;
}

TEST(OctreeLifecycle, AnEmptyListGivesARootLeafThatEveryRayMisses) {
    Octree tree;
    ASSERT_TRUE(tree.Build({}));
    EXPECT_EQ(tree.Root().isLeaf, 1);
    HitRecord hit;
    EXPECT_FALSE(tree.FindNearestHit({{0, 0, 0}, {0, 0, 1}}, hit));
    EXPECT_EQ(hit.distance, kNoHitDistance);
}

}  // namespace
}  // namespace lumeno
