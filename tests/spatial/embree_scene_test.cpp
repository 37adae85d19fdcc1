// The Embree scene answers the parallel mode's queries as the octree does:
// the same hit (distance, point, normal, texture coordinates, side,
// material) for every ray but the few that graze a triangle's edge or run in
// an octree split plane, and the octree's answers on the cases its own
// semantics single out (root box, distance 0, edge-on triangles, ties,
// occlusion near the target).
#include "spatial/embree_scene.h"

#include <gtest/gtest.h>

#include <atomic>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "spatial/octree.h"
#include "spatial_test_support.h"

namespace lumeno {
namespace {

using testing::AddFiller;
using testing::Soup;

bool SameHit(const HitRecord& a, const HitRecord& b) {
    return a.distance == b.distance && a.point == b.point && a.normal == b.normal &&
           a.material == b.material && a.side == b.side && a.texU == b.texU && a.texV == b.texV;
}

struct Indexes {
    Octree octree;
    EmbreeScene embree;
    explicit Indexes(const Soup& soup) {
        EXPECT_TRUE(octree.Build(soup.list));
        EXPECT_TRUE(embree.Build(soup.list));
    }
};

// 1500 triangles of random size and orientation scattered over the root box
// (some reaching out of it).
void AddScatter(Soup& soup, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::uniform_real_distribution<float> size(-12.0f, 12.0f);
    for (int i = 0; i < 1500; ++i) {
        Vec3 p{x(rng), x(rng), z(rng)};
        soup.Add(p, p + Vec3{size(rng), size(rng), size(rng)},
                 p + Vec3{size(rng), size(rng), size(rng)});
    }
}

// A closed sphere of about 20k triangles sharing their edges, centred on
// the root box's centre so that the root's split planes cut it, with
// smoothly interpolated normals and texture coordinates.
void AddSphere(Soup& soup) {
    const int rings = 70;
    const int segments = 140;
    auto corner = [&](int j, int i) {
        float theta = 3.14159265f * static_cast<float>(j) / rings;
        float phi = 6.2831853f * static_cast<float>(i) / segments;
        return Vec3{std::sin(theta) * std::cos(phi), std::cos(theta),
                    std::sin(theta) * std::sin(phi)};
    };
    const Vec3 centre{0.0f, 0.0f, 90.0f};
    for (int j = 0; j < rings; ++j) {
        for (int i = 0; i < segments; ++i) {
            Vec3 n[4] = {corner(j, i), corner(j, i + 1), corner(j + 1, i + 1), corner(j + 1, i)};
            for (int half = 0; half < 2; ++half) {
                Vec3 a = n[0];
                Vec3 b = n[1 + half];
                Vec3 c = n[2 + half];
                Triangle& t = soup.Add(centre + 60.0f * a, centre + 60.0f * b, centre + 60.0f * c);
                t.normal0 = a;
                t.normal1 = b;
                t.normal2 = c;
                t.uv1 = {1.0f, 0.0f};
                t.uv2 = {0.0f, 1.0f};
            }
        }
    }
}

// A rolling terrain over the whole floor of the box whose grid lines fall on
// the octree's split planes x = 0, ±50, … and z = 90, …
void AddTerrain(Soup& soup) {
    const int side = 64;
    auto point = [&](int i, int j) {
        float x = -100.0f + 200.0f * static_cast<float>(i) / side;
        float z = -40.0f + 260.0f * static_cast<float>(j) / side;
        return Vec3{x, 30.0f + 8.0f * std::sin(0.05f * x) * std::cos(0.04f * z), z};
    };
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            soup.Add(point(i, j), point(i + 1, j), point(i, j + 1));
            soup.Add(point(i + 1, j), point(i + 1, j + 1), point(i, j + 1));
        }
    }
}

bool InRootBox(Vec3 p) {
    return kRootBoxMin.x <= p.x && p.x <= kRootBoxMax.x && kRootBoxMin.y <= p.y &&
           p.y <= kRootBoxMax.y && kRootBoxMin.z <= p.z && p.z <= kRootBoxMax.z;
}

struct Agreement {
    int queries = 0;
    int hits = 0;
    int blocked = 0;
    int disagreements = 0;
};

// Random rays from inside the box; each also asks whether the segment to a
// random point along it is blocked.
void Compare(const Indexes& indexes, unsigned seed, int rays, Agreement& agreement) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::uniform_real_distribution<float> length(0.0f, 150.0f);
    std::normal_distribution<float> g;
    for (int i = 0; i < rays; ++i) {
        Ray ray{{x(rng), x(rng), z(rng)}, Normalize(Vec3{g(rng), g(rng), g(rng)})};
        HitRecord octreeHit;
        HitRecord embreeHit;
        bool octreeFound = indexes.octree.FindNearestHitParallel(ray, octreeHit);
        bool embreeFound = indexes.embree.FindNearestHit(ray, embreeHit);
        ++agreement.queries;
        agreement.hits += octreeFound ? 1 : 0;
        if (octreeFound != embreeFound || (octreeFound && !SameHit(octreeHit, embreeHit))) {
            ++agreement.disagreements;
        }
        // Targets inside the box: the octree lets a hit outside the box
        // block when its triangle is listed in a leaf the segment crosses,
        // where Embree's interval stops at the box.
        Vec3 target = ray.origin + length(rng) * ray.direction;
        if (!InRootBox(target)) {
            continue;
        }
        bool octreeBlocked = indexes.octree.IsOccludedParallel(target, ray, octreeHit);
        bool embreeBlocked = indexes.embree.IsOccluded(target, ray, embreeHit);
        agreement.blocked += octreeBlocked ? 1 : 0;
        if (octreeBlocked != embreeBlocked ||
            (!octreeBlocked && octreeHit.distance != embreeHit.distance)) {
            ++agreement.disagreements;
        }
        ++agreement.queries;
    }
}

TEST(EmbreeScene, AgreesWithTheOctreeOnAllButAHandfulOfAMillionQueries) {
    Agreement agreement;
    {
        Soup soup;
        AddScatter(soup, 31);
        Compare(Indexes(soup), 1, 1 << 18, agreement);
    }
    {
        Soup soup;
        AddSphere(soup);
        Compare(Indexes(soup), 2, 1 << 18, agreement);
    }
    {
        Soup soup;
        AddTerrain(soup);
        AddScatter(soup, 32);
        Compare(Indexes(soup), 3, 1 << 18, agreement);
    }
    RecordProperty("disagreements", agreement.disagreements);
    std::printf("%d queries, %d nearest hits, %d blocked, %d disagreements\n", agreement.queries,
                agreement.hits, agreement.blocked, agreement.disagreements);
    // Enough of both answers that agreement means something.
    EXPECT_GT(agreement.hits, agreement.queries / 8);
    EXPECT_GT(agreement.blocked, agreement.queries / 16);
    // Rays through an edge, which the two triangle tests round differently,
    // or along a split plane, where the octree may not list a triangle: a few
    // in a million.
    EXPECT_LE(agreement.disagreements, agreement.queries / 100000);
}

// Each case is a ray that the octree's semantics single out; Embree must give
// the answer stated, which is the octree's where it says so.
TEST(EmbreeScene, ABuildCalledOffBuildsNothing) {
    Soup soup;
    for (int i = 0; i < 2000; ++i) {
        soup.AddSmall({static_cast<float>(i % 40), static_cast<float>(i / 40), 10.0f});
    }
    EmbreeScene scene;
    std::atomic<bool> cancel{true};
    EXPECT_FALSE(scene.Build(soup.list, nullptr, &cancel));
    EXPECT_FALSE(scene.Built());
    cancel = false;
    EXPECT_TRUE(scene.Build(soup.list, nullptr, &cancel));
    EXPECT_TRUE(scene.Built());
}

TEST(EmbreeScene, AnswersTheCasesTheQuerySemanticsSingleOut) {
    Soup soup;
    AddFiller(soup);                                       // 0 … 9: outside the box
    soup.Add({-10, -10, 50}, {10, -10, 50}, {0, 10, 50});  // 10
    soup.Add({-10, -10, 60}, {10, -10, 60}, {0, 10, 60});  // 11
    // 12: a sliver with edges of 0.0005, whose determinant is always below
    // the threshold, in front of 10.
    soup.AddSmall({0, 0, 40}, 0.0005f);
    // 13, 14: the same triangle twice; the later one wins a tie.
    soup.Add({-10, -10, 100}, {10, -10, 100}, {0, 10, 100});
    soup.Add({-10, -10, 100}, {10, -10, 100}, {0, 10, 100});
    // 15: the plane z = 230 − x + y, leaving the box at z = 220.
    soup.Add({-10, -10, 230}, {10, -10, 210}, {0, 10, 230});
    // 16, 17: one triangle given twice, its corners in another order.
    soup.Add({30, -10, 120}, {50, -10, 120}, {40, 10, 120});
    soup.Add({50, -10, 120}, {40, 10, 120}, {30, -10, 120});
    struct Case {
        const char* what;
        Ray ray;
        int triangle;  // the triangle hit, or −1 for none
        bool asTheOctree;
    };
    const Case cases[] = {
        {"a ray from outside the box is traversed", {{1, 2, -500}, {0, 0, 1}}, 10, true},
        {"a ray missing the box finds nothing", {{0, 0, 300}, {0, 0, 1}}, -1, true},
        {"a sliver of |det| below the threshold is missed",
         {{0.0001f, 0.0001f, 30}, {0, 0, 1}},
         10,
         true},
        {"of two equal hits the later triangle's is reported", {{1, 2, 80}, {0, 0, 1}}, 14, true},
        {"...whatever the order of its corners", {{40, 0, 110}, {0, 0, 1}}, 17, true},
        {"a hit outside the box is not reported", {{1, -5, 200}, {0, 0, 1}}, -1, true},
        {"a hit inside the box on a triangle leaving it is", {{8, -9, 200}, {0, 0, 1}}, 15, true},
        // The octree also drops 11, the other triangle of the leaf where the
        // ray starts, and reports 14: a hit at distance 0 ends nothing here.
        {"a ray starting on a triangle finds the next one", {{1, 2, 50}, {0, 0, 1}}, 11, false},
    };
    Indexes indexes(soup);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HitRecord octreeHit;
        HitRecord embreeHit;
        bool octreeFound = indexes.octree.FindNearestHitParallel(c.ray, octreeHit);
        ASSERT_EQ(indexes.embree.FindNearestHit(c.ray, embreeHit), c.triangle >= 0);
        if (c.triangle >= 0) {
            EXPECT_EQ(embreeHit.material, soup.At(static_cast<std::size_t>(c.triangle)).material);
        } else {
            EXPECT_EQ(embreeHit.distance, kNoHitDistance);
        }
        if (c.asTheOctree) {
            EXPECT_EQ(octreeFound, c.triangle >= 0);
            EXPECT_TRUE(!octreeFound || SameHit(octreeHit, embreeHit));
        }
    }

    // Occlusion: blocked by a triangle before the target, with the blocking
    // hit described; not blocked by one 0.001 beyond the shortened segment's
    // end, which is then the reported distance; and a target nearer than the
    // shortening is blocked by whatever the ray meets first.
    const Ray up{{1, 2, 30}, {0, 0, 1}};
    HitRecord hit;
    ASSERT_TRUE(indexes.embree.IsOccluded({1, 2, 70}, up, hit));
    EXPECT_EQ(hit.material, soup.At(10).material);
    EXPECT_FLOAT_EQ(hit.distance, 20.0f);
    EXPECT_FALSE(indexes.embree.IsOccluded({1, 2, 50.0005f}, up, hit));
    EXPECT_FLOAT_EQ(hit.distance, 20.0005f - 0.001f);
    ASSERT_TRUE(indexes.embree.IsOccluded({1, 2, 30.0005f}, up, hit));
    EXPECT_EQ(hit.material, soup.At(10).material);
    HitRecord octreeHit;
    for (Vec3 target : {Vec3{1, 2, 70}, Vec3{1, 2, 50.0005f}, Vec3{1, 2, 30.0005f}}) {
        EXPECT_EQ(indexes.octree.IsOccludedParallel(target, up, octreeHit),
                  indexes.embree.IsOccluded(target, up, hit));
        EXPECT_EQ(octreeHit.distance, hit.distance);
    }

    // An empty scene misses everything.
    EmbreeScene empty;
    ASSERT_TRUE(empty.Build({}));
    EXPECT_FALSE(empty.FindNearestHit(up, hit));
    EXPECT_FALSE(empty.IsOccluded({1, 2, 70}, up, hit));
}

}  // namespace
}  // namespace lumeno
