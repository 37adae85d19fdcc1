#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <thread>
#include <vector>

#include "render/pass_schedule.h"
#include "scene/camera.h"
#include "spatial/octree.h"
#include "spatial_test_support.h"

namespace lumeno {
namespace {

using testing::AddFiller;
using testing::Soup;

Ray RayTo(Vec3 origin, Vec3 target) {
    return {origin, Normalize(target - origin)};
}

void ExpectSameHit(const HitRecord& a, const HitRecord& b) {
    EXPECT_EQ(a.distance, b.distance);
    EXPECT_EQ(a.point, b.point);
    EXPECT_EQ(a.normal, b.normal);
    EXPECT_EQ(a.material, b.material);
    EXPECT_EQ(a.side, b.side);
    EXPECT_EQ(a.texU, b.texU);
    EXPECT_EQ(a.texV, b.texV);
}

TEST(NearestHit, ARayMissingTheRootBoxFindsNothing) {
    Soup soup;
    soup.Add({-10, -10, 50}, {10, -10, 50}, {0, 10, 50});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    Ray away{{0, 0, 300}, {0, 0, 1}};
    EXPECT_FALSE(tree.FindNearestHit(away, hit));
    EXPECT_EQ(hit.distance, kNoHitDistance);
    EXPECT_FALSE(tree.IsOccluded({0, 0, 400}, away, hit));
    EXPECT_FLOAT_EQ(hit.distance, 100.0f - 0.001f);
    EXPECT_FLOAT_EQ(hit.maxDistance, 100.0f - 0.001f);
}

TEST(NearestHit, ARayFromOutsideTheBoxIsTraversed) {
    Soup soup;
    AddFiller(soup);
    Triangle& t = soup.Add({-10, -10, 50}, {10, -10, 50}, {0, 10, 50});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    ASSERT_TRUE(tree.FindNearestHit({{1, 2, -500}, {0, 0, 1}}, hit));
    EXPECT_FLOAT_EQ(hit.distance, 550.0f);
    EXPECT_EQ(hit.material, t.material);
    EXPECT_NEAR(hit.point.x, 1.0f, 1e-5f);
    EXPECT_NEAR(hit.point.y, 2.0f, 1e-5f);
    EXPECT_EQ(hit.point.z, 50.0f);
    // faceNormal points along −z for this winding: the ray travels against
    // it, so it arrives on the side the face normal points to.
    EXPECT_EQ(hit.side, 1.0f);
    EXPECT_EQ(hit.normal, (Vec3{0, 0, -1}));
}

TEST(NearestHit, AxisParallelRaysAreTraversedFromEitherSideOfAMidPlane) {
    Soup soup;
    for (int i = 0; i < 40; ++i) {  // enough to split a few levels deep
        soup.AddSmall({-60.0f + 3.0f * static_cast<float>(i), 40.0f, 150.0f});
    }
    Triangle& target = soup.Add({-20, -20, 120}, {20, -20, 120}, {0, 20, 120});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    // Along −z with the origin exactly on the mid-planes x = 0 and y = 0.
    ASSERT_TRUE(tree.FindNearestHit({{0, 0, 200}, {0, 0, -1}}, hit));
    EXPECT_EQ(hit.material, target.material);
    EXPECT_FLOAT_EQ(hit.distance, 80.0f);
    // Along +z from below the box.
    ASSERT_TRUE(tree.FindNearestHit({{5, 1, -30}, {0, 0, 1}}, hit));
    EXPECT_FLOAT_EQ(hit.distance, 150.0f);
    // Along +x, with the other two components zero.
    Triangle& wall = soup.Add({30, -50, 0}, {30, 50, 0}, {30, 0, 100});
    ASSERT_TRUE(tree.Build(soup.list));
    ASSERT_TRUE(tree.FindNearestHit({{-90, 0.5f, 40}, {1, 0, 0}}, hit));
    EXPECT_EQ(hit.material, wall.material);
    EXPECT_FLOAT_EQ(hit.distance, 120.0f);
}

TEST(NearestHit, OfTwoTrianglesAtTheSameDistanceTheLaterOneWins) {
    Soup soup;
    Triangle& first = soup.Add({-10, -10, 50}, {10, -10, 50}, {0, 10, 50});
    Triangle& second = soup.Add({-10, -10, 50}, {10, -10, 50}, {0, 10, 50});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    ASSERT_TRUE(tree.FindNearestHit({{0, 0, 0}, {0, 0, 1}}, hit));
    EXPECT_EQ(hit.material, second.material);
    EXPECT_NE(hit.material, first.material);
}

TEST(NearestHit, ARayStartingOnATriangleIgnoresThatLeafAndGoesOn) {
    Soup soup;
    AddFiller(soup);
    // Both in the leaf of child 7 (upper x, y, z); a third one further on in
    // child 6 (lower z) behind the start.
    Triangle& start = soup.Add({0, 0, 100}, {20, 0, 100}, {0, 20, 100});
    soup.Add({0, 0, 150}, {20, 0, 150}, {0, 20, 150});
    Triangle& beyond = soup.Add({0, 0, 50}, {20, 0, 50}, {0, 20, 50});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    // Towards +z: starts on `start`, the leaf's bound drops to 0 and the
    // triangle at z = 150 in the same leaf is not reported.
    EXPECT_FALSE(tree.FindNearestHit({{5, 5, 100}, {0, 0, 1}}, hit));
    EXPECT_EQ(hit.distance, 0.0f);
    EXPECT_EQ(hit.material, start.material);
    // Towards −z the traversal leaves that leaf and finds `beyond`.
    ASSERT_TRUE(tree.FindNearestHit({{5, 5, 100}, {0, 0, -1}}, hit));
    EXPECT_EQ(hit.material, beyond.material);
    EXPECT_FLOAT_EQ(hit.distance, 50.0f);
}

TEST(NearestHit, AHitOutsideTheRootBoxIsNeverReported) {
    Soup soup;
    Triangle& outside = soup.Add({-10, -10, 250}, {10, -10, 250}, {0, 10, 250});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    Ray ray{{0, 0, 200}, {0, 0, 1}};
    EXPECT_FALSE(tree.FindNearestHit(ray, hit));
    EXPECT_EQ(hit.distance, kNoHitDistance);
    // The blocking test takes any hit on the segment.
    ASSERT_TRUE(tree.IsOccluded({0, 0, 300}, ray, hit));
    EXPECT_EQ(hit.material, outside.material);
    EXPECT_FLOAT_EQ(hit.distance, 50.0f);
}

TEST(NearestHit, ATriangleListedInSeveralLeavesIsReportedFromTheLeafHoldingTheHit) {
    Soup soup;
    AddFiller(soup);
    // Spans children 3 and 7 (upper y, upper z); the ray along +x crosses
    // child 3 first but meets the triangle at x = 30, in child 7.
    Triangle& slanted = soup.Add({-50, 10, 100}, {40, 10, 200}, {40, 90, 150});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    ASSERT_TRUE(tree.FindNearestHit({{-95, 30, 175}, {1, 0, 0}}, hit));
    EXPECT_EQ(hit.material, slanted.material);
    EXPECT_GT(hit.point.x, 0.0f);
}

// The stamp case: T is met in leaf A (child 1) with its hit in leaf C
// (child 7), U only in leaf B (child 3) with a farther hit, also in C. T is
// at position 10 of the built list.
struct StampScene {
    Soup soup;
    Triangle* t;
    Triangle* u;
    Octree tree;
    Ray ray{{-90, -10, 150}, Normalize(Vec3{1, 1, 0})};

    StampScene() {
        AddFiller(soup);
        t = &soup.Add({0, -1, 100}, {12, 110, 200}, {12, 110, 100});
        u = &soup.Add({-5, 50, 100}, {25, 117.5f, 200}, {25, 117.5f, 100});
        tree.Build(soup.list);
    }
};

TEST(RayStamps, WithinTheFirstQueriesAStampCanMakeAFartherHitReported) {
    StampScene scene;
    HitRecord hit;
    ASSERT_TRUE(scene.tree.FindNearestHit(scene.ray, hit));
    EXPECT_EQ(hit.material, scene.u->material);
    EXPECT_EQ(scene.tree.Stamps()[10], 1);
    EXPECT_EQ(scene.tree.queryCounter, 2);
}

TEST(RayStamps, FromQuery65536OnNoStampMatchesAndTheNearestHitIsReported) {
    StampScene scene;
    scene.tree.queryCounter = 65536;
    HitRecord exact;
    ASSERT_TRUE(scene.tree.FindNearestHit(scene.ray, exact));
    EXPECT_EQ(exact.material, scene.t->material);
    EXPECT_EQ(exact.queryNumber, 65536);
    HitRecord parallel;
    ASSERT_TRUE(scene.tree.FindNearestHitParallel(scene.ray, parallel));
    ExpectSameHit(parallel, exact);
    // The number wraps to 0 in 16 bits; a later query numbered 0 … 65535
    // would not see it as its own because query numbers only grow.
    EXPECT_EQ(scene.tree.Stamps()[10], 0);
}

TEST(RayStamps, TheParallelModeWritesNeitherCounterNorStamps) {
    StampScene scene;
    HitRecord hit;
    ASSERT_TRUE(scene.tree.FindNearestHitParallel(scene.ray, hit));
    EXPECT_EQ(hit.material, scene.t->material);
    scene.tree.IsOccludedParallel({0, 80, 150}, scene.ray, hit);
    EXPECT_EQ(scene.tree.queryCounter, 1);
    ASSERT_EQ(scene.tree.Stamps().size(), scene.soup.list.size());
    for (std::uint16_t stamp : scene.tree.Stamps()) {
        EXPECT_EQ(stamp, 0);
    }
}

TEST(RayStamps, TheCounterWrapsAroundLikeA32BitInteger) {
    Octree tree;
    tree.queryCounter = INT32_MAX;
    HitRecord hit;
    tree.FindNearestHit({{0, 0, 0}, {0, 0, 1}}, hit);
    EXPECT_EQ(hit.queryNumber, INT32_MAX);
    EXPECT_EQ(tree.queryCounter, INT32_MIN);
}

TEST(Occlusion, ATriangleOnTheSegmentBlocksItAndOneBeyondDoesNot) {
    Soup soup;
    AddFiller(soup);
    Triangle& wall = soup.Add({-10, -10, 50}, {10, -10, 50}, {0, 10, 50});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    Ray ray{{0, 0, 0}, {0, 0, 1}};
    ASSERT_TRUE(tree.IsOccluded({0, 0, 60}, ray, hit));
    EXPECT_EQ(hit.material, wall.material);
    EXPECT_FLOAT_EQ(hit.distance, 50.0f);
    EXPECT_FALSE(tree.IsOccluded({0, 0, 40}, ray, hit));
    EXPECT_FLOAT_EQ(hit.distance, 40.0f - 0.001f);
    // A target 0.0005 beyond the wall is within the shortening: not blocked.
    EXPECT_FALSE(tree.IsOccluded({0, 0, 50.0005f}, ray, hit));
}

TEST(Occlusion, ATargetCloserThanAMillimetreCountsAsBlockedByAnythingAhead) {
    Soup soup;
    Triangle& far = soup.Add({-10, -10, 150}, {10, -10, 150}, {0, 10, 150});
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    HitRecord hit;
    Ray ray{{0, 0, 0}, {0, 0, 1}};
    ASSERT_TRUE(tree.IsOccluded({0, 0, 0.0005f}, ray, hit));
    EXPECT_LT(hit.maxDistance, 0.0f);
    EXPECT_EQ(hit.material, far.material);
    // Exactly 0.001 away: the segment has length 0 and nothing blocks it.
    EXPECT_FALSE(tree.IsOccluded({0, 0, 0.001f}, ray, hit));
    EXPECT_EQ(hit.maxDistance, 0.0f);
    EXPECT_EQ(hit.distance, 0.0f);
}

// Brute force over a random soup: the nearest hit of all triangles whose hit
// point lies in the root box, and whether any triangle lies on a segment.
struct RandomScene {
    Soup soup;
    Octree tree;

    explicit RandomScene(unsigned seed, int count = 1500) {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> x(-100.0f, 100.0f);
        std::uniform_real_distribution<float> z(-40.0f, 220.0f);
        std::uniform_real_distribution<float> size(-12.0f, 12.0f);
        for (int i = 0; i < count; ++i) {
            Vec3 p{x(rng), x(rng), z(rng)};
            soup.Add(p, p + Vec3{size(rng), size(rng), size(rng)},
                     p + Vec3{size(rng), size(rng), size(rng)});
        }
        tree.Build(soup.list);
    }
};

bool InRootBox(Vec3 p) {
    return kRootBoxMin.x <= p.x && p.x <= kRootBoxMax.x && kRootBoxMin.y <= p.y &&
           p.y <= kRootBoxMax.y && kRootBoxMin.z <= p.z && p.z <= kRootBoxMax.z;
}

std::vector<Ray> RandomRays(unsigned seed, int count) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::normal_distribution<float> g;
    std::vector<Ray> rays;
    for (int i = 0; i < count; ++i) {
        rays.push_back({{x(rng), x(rng), z(rng)}, Normalize(Vec3{g(rng), g(rng), g(rng)})});
    }
    return rays;
}

TEST(BruteForce, TheNearestHitIsTheNearestOfAllTrianglesInsideTheBox) {
    RandomScene scene(21);
    ASSERT_GT(scene.tree.Stats().maxDepth, 2);
    int hits = 0;
    for (const Ray& ray : RandomRays(5, 4000)) {
        float bestT = 1e30f;
        const Material* bestMaterial = nullptr;
        for (const Triangle* t : scene.soup.list) {
            HitRecord probe;
            if (IntersectTriangle(*t, ray, 0.0f, 1e9f, probe) && InRootBox(probe.point) &&
                probe.distance <= bestT && probe.distance > 0.0f) {
                bestT = probe.distance;
                bestMaterial = t->material;
            }
        }
        HitRecord hit;
        bool found = scene.tree.FindNearestHitParallel(ray, hit);
        ASSERT_EQ(found, bestMaterial != nullptr);
        if (found) {
            ++hits;
            ASSERT_EQ(hit.distance, bestT);
            ASSERT_EQ(hit.material, bestMaterial);
        }
    }
    EXPECT_GT(hits, 1000);
}

TEST(BruteForce, OcclusionAgreesWithASegmentTestOfEveryTriangle) {
    RandomScene scene(22);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> length(0.0f, 150.0f);
    int blocked = 0;
    for (const Ray& ray : RandomRays(6, 4000)) {
        Vec3 target = ray.origin + length(rng) * ray.direction;
        if (!InRootBox(target)) {
            continue;
        }
        Ray toTarget{ray.origin, Normalize(target - ray.origin)};
        float maxDistance = Length(target - ray.origin) - 0.001f;
        bool expected = false;
        for (const Triangle* t : scene.soup.list) {
            HitRecord probe;
            if (IntersectTriangle(*t, toTarget, 0.0f, 1e9f, probe) && probe.distance > 0.0f &&
                probe.distance < maxDistance) {
                expected = true;
            }
        }
        if (maxDistance <= 0.0f) {
            continue;
        }
        HitRecord hit;
        ASSERT_EQ(scene.tree.IsOccludedParallel(target, toTarget, hit), expected);
        blocked += expected ? 1 : 0;
    }
    EXPECT_GT(blocked, 300);
}

TEST(QueryModes, ExactAndParallelAgreeOnEveryQueryNumberedAbove65535) {
    RandomScene exactScene(23);
    exactScene.tree.queryCounter = 65536;
    const Octree& shared = exactScene.tree;
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> length(0.0f, 200.0f);
    for (const Ray& ray : RandomRays(7, 3000)) {
        HitRecord exact;
        HitRecord parallel;
        ASSERT_EQ(exactScene.tree.FindNearestHit(ray, exact),
                  shared.FindNearestHitParallel(ray, parallel));
        ExpectSameHit(exact, parallel);
        Vec3 target = ray.origin + length(rng) * ray.direction;
        ASSERT_EQ(exactScene.tree.IsOccluded(target, ray, exact),
                  shared.IsOccludedParallel(target, ray, parallel));
        EXPECT_EQ(exact.distance, parallel.distance);
    }
    EXPECT_EQ(exactScene.tree.queryCounter, 65536 + 6000);
}

TEST(QueryModes, ThreadsSharingOneTreeGetTheSingleThreadedAnswers) {
    RandomScene scene(24);
    const std::vector<Ray> rays = RandomRays(8, 2000);
    std::vector<HitRecord> expected(rays.size());
    for (std::size_t i = 0; i < rays.size(); ++i) {
        scene.tree.FindNearestHitParallel(rays[i], expected[i]);
    }
    const Octree& shared = scene.tree;
    std::vector<std::vector<HitRecord>> results(4, std::vector<HitRecord>(rays.size()));
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < results.size(); ++k) {
        threads.emplace_back([&, k] {
            for (std::size_t i = 0; i < rays.size(); ++i) {
                shared.FindNearestHitParallel(rays[i], results[k][i]);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (const auto& result : results) {
        for (std::size_t i = 0; i < rays.size(); ++i) {
            ExpectSameHit(result[i], expected[i]);
        }
    }
}

// A floor in the split plane y = 0, made of two large triangles spanning
// the root box, under clusters of small triangles just below it that make
// the tree split deep around the floor.
struct FloorScene {
    Soup soup;
    Triangle* floorA;
    Triangle* floorB;
    Octree tree;

    FloorScene() {
        floorA = &soup.Add({-100, 0, -40}, {100, 0, -40}, {100, 0, 220});
        floorB = &soup.Add({-100, 0, -40}, {100, 0, 220}, {-100, 0, 220});
        for (int gz = 0; gz < 8; ++gz) {
            for (int gx = 0; gx < 8; ++gx) {
                Vec3 base{-90.0f + 25.0f * static_cast<float>(gx), -0.5f,
                          -30.0f + 32.0f * static_cast<float>(gz)};
                for (int k = 0; k < 12; ++k) {
                    soup.AddSmall(base + Vec3{0.3f * static_cast<float>(k), 0, 0}, 0.2f);
                }
            }
        }
        tree.Build(soup.list);
    }

    bool IsFloor(const HitRecord& hit) const {
        return hit.material == floorA->material || hit.material == floorB->material;
    }
};

TEST(SplitPlaneFloor, EveryRayFromAboveHitsTheFloor) {
    FloorScene scene;
    ASSERT_GE(scene.tree.Stats().maxDepth, 5);
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> x(-99.0f, 99.0f);
    std::uniform_real_distribution<float> z(-39.0f, 219.0f);
    std::uniform_real_distribution<float> tilt(-0.5f, 0.5f);
    for (int i = 0; i < 5000; ++i) {
        Vec3 onFloor{x(rng), 0.0f, z(rng)};
        Vec3 origin = onFloor + Vec3{tilt(rng) * 20.0f, 20.0f, tilt(rng) * 20.0f};
        HitRecord hit;
        ASSERT_TRUE(scene.tree.FindNearestHit(RayTo(origin, onFloor), hit)) << i;
        ASSERT_TRUE(scene.IsFloor(hit));
        EXPECT_NEAR(hit.point.x, onFloor.x, 1e-3f);
        EXPECT_NEAR(hit.point.z, onFloor.z, 1e-3f);
    }
}

TEST(SplitPlaneFloor, AGridOfCameraRaysFindsNoHole) {
    FloorScene scene;
    Camera camera;
    camera.position = {10, 60, 80};
    camera.lookAt = {0, 0, 95};
    DeriveCameraBasis(camera);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 100; ++x) {
            float u = (static_cast<float>(x) + 0.5f - 50.0f) / 100.0f;
            float v = (static_cast<float>(y) + 0.5f - 50.0f) / 100.0f;
            HitRecord hit;
            ASSERT_TRUE(scene.tree.FindNearestHit(PrimaryRay(camera, u, v), hit))
                << "pixel " << x << ", " << y;
            ASSERT_TRUE(scene.IsFloor(hit));
            EXPECT_EQ(hit.point.y, 0.0f);
        }
    }
}

}  // namespace
}  // namespace lumeno
