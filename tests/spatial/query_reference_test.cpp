// The octree's queries against a plain reference: the recursive traversal and
// the leaf test written out step by step over the tree's public structure,
// with stamps of its own. On random scenes and long sequences of rays (so
// that stamps, candidates and the query counter carry from query to query)
// every field of every hit record must agree bit for bit, and so must the
// stamps left behind.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>
#include <unordered_map>
#include <vector>

#include "spatial/octree.h"
#include "spatial_test_support.h"

namespace lumeno {
namespace {

using testing::Soup;

class ReferenceQueries {
  public:
    ReferenceQueries(const Octree& tree, const std::vector<Triangle*>& list, bool exact)
        : stamps(list.size(), 0), tree_(tree), exact_(exact) {
        for (std::size_t i = 0; i < list.size(); ++i) {
            position_[list[i]] = i;
        }
    }

    bool FindNearestHit(const Ray& ray, HitRecord& hit) {
        hit.distance = kNoHitDistance;
        hit.maxDistance = -1.0f;
        hit.candidate = nullptr;
        return Start(ray, hit);
    }

    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) {
        hit.candidate = nullptr;
        hit.maxDistance = Length(target - ray.origin) - 0.001f;
        if (Start(ray, hit)) {
            return true;
        }
        hit.distance = hit.maxDistance;
        return false;
    }

    std::vector<std::uint16_t> stamps;  // by position in the built list
    std::int32_t counter = 1;

  private:
    bool Start(const Ray& ray, HitRecord& hit) {
        hit.ray = ray;
        hit.queryNumber = exact_ ? counter : 0;
        if (exact_) {
            counter = static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1u);
        }
        const OctreeNode& root = tree_.Root();
        o_ = ray.origin;
        Vec3 d = ray.direction;
        mirror_ = 0;
        parallel_ = 0;
        Vec3 t0;
        Vec3 t1;
        for (int a = 0; a < 3; ++a) {
            if (d[a] == 0.0f) {
                d[a] = 1e-9f;
                parallel_ |= 4 >> a;
            } else if (d[a] < 0.0f) {
                o_[a] = root.boxMin[a] + root.boxMax[a] - o_[a];
                d[a] = -d[a];
                mirror_ |= 4 >> a;
            }
            t0[a] = (root.boxMin[a] - o_[a]) * (1.0f / d[a]);
            t1[a] = (root.boxMax[a] - o_[a]) * (1.0f / d[a]);
        }
        if (std::max({t0.x, t0.y, t0.z}) < std::min({t1.x, t1.y, t1.z})) {
            return Traverse(root, t0.x, t0.y, t0.z, t1.x, t1.y, t1.z, hit);
        }
        return false;
    }

    static int Next(float a, int p, float b, int q, float c, int r) {
        if (a < b) {
            return a < c ? p : r;
        }
        return b < c ? q : r;
    }

    bool Traverse(const OctreeNode& node, float tx0, float ty0, float tz0, float tx1, float ty1,
                  float tz1, HitRecord& hit) {
        if (tx1 < 0.0f || ty1 < 0.0f || tz1 < 0.0f) {
            return false;
        }
        if (node.isLeaf != 0) {
            return Leaf(node, hit);
        }
        float m[3] = {(tx0 + tx1) * 0.5f, (ty0 + ty1) * 0.5f, (tz0 + tz1) * 0.5f};
        for (int a = 0; a < 3; ++a) {
            if ((parallel_ & (4 >> a)) != 0) {
                m[a] = node.center[a] > o_[a] ? 1e9f : -1e9f;
            }
        }
        auto [txm, tym, tzm] = m;
        int i;
        if (tx0 > ty0 && tx0 > tz0) {
            i = (tym < tx0 ? 2 : 0) + (tzm < tx0 ? 1 : 0);
        } else if (ty0 > tz0) {
            i = (txm < ty0 ? 4 : 0) + (tzm < ty0 ? 1 : 0);
        } else {
            i = (txm < tz0 ? 4 : 0) + (tym < tz0 ? 2 : 0);
        }
        auto child = [&](int k, float a0, float b0, float c0, float a1, float b1, float c1) {
            return Traverse(tree_.Child(node, k ^ mirror_), a0, b0, c0, a1, b1, c1, hit);
        };
        constexpr int kEnd = 8;
        while (i != kEnd) {
            bool done = false;
            switch (i) {
                case 0:
                    done = child(0, tx0, ty0, tz0, txm, tym, tzm);
                    i = Next(txm, 4, tym, 2, tzm, 1);
                    break;
                case 1:
                    done = child(1, tx0, ty0, tzm, txm, tym, tz1);
                    i = Next(txm, 5, tym, 3, tz1, kEnd);
                    break;
                case 2:
                    done = child(2, tx0, tym, tz0, txm, ty1, tzm);
                    i = Next(txm, 6, ty1, kEnd, tzm, 3);
                    break;
                case 3:
                    done = child(3, tx0, tym, tzm, txm, ty1, tz1);
                    i = Next(txm, 7, ty1, kEnd, tz1, kEnd);
                    break;
                case 4:
                    done = child(4, txm, ty0, tz0, tx1, tym, tzm);
                    i = Next(tx1, kEnd, tym, 6, tzm, 5);
                    break;
                case 5:
                    done = child(5, txm, ty0, tzm, tx1, tym, tz1);
                    i = Next(tx1, kEnd, tym, 7, tz1, kEnd);
                    break;
                case 6:
                    done = child(6, txm, tym, tz0, tx1, ty1, tzm);
                    i = Next(tx1, kEnd, ty1, kEnd, tzm, 7);
                    break;
                default:
                    return child(7, txm, tym, tzm, tx1, ty1, tz1);
            }
            if (done) {
                return true;
            }
        }
        return false;
    }

    static void TakeSurface(const HitRecord& s, HitRecord& hit) {
        hit.distance = s.distance;
        hit.point = s.point;
        hit.normal = s.normal;
        hit.tangent = s.tangent;
        hit.bitangent = s.bitangent;
        hit.texU = s.texU;
        hit.texV = s.texV;
        hit.material = s.material;
        hit.side = s.side;
    }

    bool Leaf(const OctreeNode& leaf, HitRecord& hit) {
        auto inBox = [&](Vec3 p) {
            for (int a = 0; a < 3; ++a) {
                if (!(leaf.boxMin[a] - 1e-7f <= p[a] && p[a] <= leaf.boxMax[a] + 1e-7f)) {
                    return false;
                }
            }
            return true;
        };
        HitRecord s = hit;
        float best = 1e9f;
        bool found = false;
        if (hit.candidate != nullptr && IntersectTriangle(*hit.candidate, hit.ray, 0.0f, 1e9f, s) &&
            s.distance > 0.0f && inBox(s.point)) {
            best = s.distance;
            found = true;
            TakeSurface(s, hit);
        }
        for (const Triangle* t : tree_.TrianglesOf(leaf)) {
            std::uint16_t& stamp = stamps[position_.at(t)];
            if (exact_ && static_cast<std::int32_t>(stamp) == hit.queryNumber) {
                continue;
            }
            if (!IntersectTriangle(*t, hit.ray, 0.0f, best, s)) {
                continue;
            }
            if (!(hit.maxDistance < 0.0f || hit.maxDistance > s.distance)) {
                continue;
            }
            hit.candidate = t;
            if (exact_) {
                stamp = static_cast<std::uint16_t>(hit.queryNumber);
            }
            best = s.distance;
            if (hit.maxDistance > 0.0f || inBox(s.point)) {
                found = true;
                TakeSurface(s, hit);
            }
        }
        return found && 0.0f < best && best < 1e9f;
    }

    const Octree& tree_;
    bool exact_;
    std::unordered_map<const Triangle*, std::size_t> position_;
    Vec3 o_;
    int mirror_ = 0;
    int parallel_ = 0;
};

std::uint32_t Bits(float f) {
    return std::bit_cast<std::uint32_t>(f);
}

// Every field, floats compared by their bits.
bool SameRecord(const HitRecord& a, const HitRecord& b) {
    auto same = [](Vec3 p, Vec3 q) {
        return Bits(p.x) == Bits(q.x) && Bits(p.y) == Bits(q.y) && Bits(p.z) == Bits(q.z);
    };
    return Bits(a.distance) == Bits(b.distance) && same(a.point, b.point) &&
           same(a.normal, b.normal) && same(a.tangent, b.tangent) &&
           same(a.bitangent, b.bitangent) && Bits(a.texU) == Bits(b.texU) &&
           Bits(a.texV) == Bits(b.texV) && a.material == b.material && a.candidate == b.candidate &&
           Bits(a.side) == Bits(b.side) && same(a.ray.origin, b.ray.origin) &&
           same(a.ray.direction, b.ray.direction) && a.queryNumber == b.queryNumber &&
           Bits(a.maxDistance) == Bits(b.maxDistance);
}

// Small and large triangles anywhere, flat ones in split planes, ones with a
// corner on a split plane, exact duplicates (a tie the later one must win)
// and some with vertex normals and texture coordinates.
void FillScene(Soup& soup, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> x(-100.0f, 100.0f);
    std::uniform_real_distribution<float> z(-40.0f, 220.0f);
    std::uniform_real_distribution<float> small(-3.0f, 3.0f);
    std::uniform_real_distribution<float> large(-40.0f, 40.0f);
    const float splits[] = {0.0f, 50.0f, -50.0f, 25.0f, -25.0f, 12.5f};
    for (int i = 0; i < 1500; ++i) {
        Vec3 p{x(rng), x(rng), z(rng)};
        std::uniform_real_distribution<float>& size = i % 20 == 0 ? large : small;
        Vec3 q = p + Vec3{size(rng), size(rng), size(rng)};
        Vec3 r = p + Vec3{size(rng), size(rng), size(rng)};
        int kind = i % 5;
        if (kind == 1) {  // flat in a split plane
            int axis = i % 3;
            float plane = splits[i % 6] + (axis == 2 ? 90.0f : 0.0f);
            p[axis] = q[axis] = r[axis] = plane;
        } else if (kind == 2) {  // one corner on a split plane
            p[i % 3] = splits[i % 6] + (i % 3 == 2 ? 90.0f : 0.0f);
        }
        Triangle& t = soup.Add(p, q, r);
        if (kind == 3) {
            t.normal0 = Normalize(Vec3{small(rng), small(rng), small(rng)});
            t.normal1 = Normalize(Vec3{small(rng), small(rng), small(rng)});
            t.normal2 = Normalize(Vec3{small(rng), small(rng), small(rng)});
            t.uv1 = {1.0f, 0.0f};
            t.uv2 = {0.0f, 1.0f};
        }
        if (i % 50 == 0) {
            soup.Add(p, q, r);
        }
    }
    // A dense cluster, so that the tree also goes deep.
    std::uniform_real_distribution<float> near(-2.0f, 2.0f);
    std::uniform_real_distribution<float> tiny(-0.1f, 0.1f);
    for (int i = 0; i < 500; ++i) {
        Vec3 p = Vec3{10.0f, 10.0f, 100.0f} + Vec3{near(rng), near(rng), near(rng)};
        soup.Add(p, p + Vec3{tiny(rng), tiny(rng), tiny(rng)},
                 p + Vec3{tiny(rng), tiny(rng), tiny(rng)});
    }
}

// Random rays, camera rays, rays bouncing off the last hit (from the point
// itself or just off it), rays along axes from mid-planes, and occlusion
// towards random, near and very near targets; numbers and stamps run on from
// query to query.
void CompareSequence(unsigned seed, std::int32_t firstQuery, bool exact, int queries) {
    Soup soup;
    FillScene(soup, seed);
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    ASSERT_GT(tree.Stats().maxDepth, 7);
    ReferenceQueries reference(tree, soup.list, exact);
    tree.queryCounter = firstQuery;
    reference.counter = firstQuery;

    std::mt19937 rng(seed + 1);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::normal_distribution<float> g;
    auto inBox = [&] {
        return Vec3{-100.0f + 200.0f * unit(rng), -100.0f + 200.0f * unit(rng),
                    -40.0f + 260.0f * unit(rng)};
    };
    HitRecord got;
    HitRecord want;
    HitRecord last;
    bool haveLast = false;
    int hits = 0;
    for (int k = 0; k < queries; ++k) {
        int kind = static_cast<int>(unit(rng) * 5.0f) % 5;
        Ray ray{inBox(), Normalize(Vec3{g(rng), g(rng), g(rng)})};
        Vec3 target;
        bool occlusion = false;
        if (kind == 1) {
            ray = {{5.0f, -20.0f, -39.0f}, Normalize(Vec3{g(rng), g(rng), 3.0f})};
        } else if (kind == 2 && haveLast) {
            Vec3 d = ray.direction;
            if (unit(rng) < 0.2f) {
                d = Normalize(last.normal);
            }
            ray = {last.point + (unit(rng) < 0.3f ? 0.0f : 1e-4f) * d, d};
        } else if (kind == 3) {
            Vec3 d{0.0f, 0.0f, 0.0f};
            d[k % 3] = unit(rng) < 0.5f ? -1.0f : 1.0f;
            ray.direction = d;
            ray.origin[(k + 1) % 3] = (k + 1) % 3 == 2 ? 90.0f : 0.0f;
        } else if (kind == 4) {
            occlusion = true;
            float r = unit(rng);
            float length = r < 0.05f ? 0.0005f : (r < 0.1f ? 0.001f : 200.0f * unit(rng));
            Vec3 start = haveLast ? last.point + 1e-4f * Normalize(last.normal) : ray.origin;
            target = start + length * ray.direction;
            ray = {start, Normalize(target - start)};
        }
        bool a;
        if (exact) {
            a = occlusion ? tree.IsOccluded(target, ray, got) : tree.FindNearestHit(ray, got);
        } else {
            a = occlusion ? tree.IsOccludedParallel(target, ray, got)
                          : tree.FindNearestHitParallel(ray, got);
        }
        bool b = occlusion ? reference.IsOccluded(target, ray, want)
                           : reference.FindNearestHit(ray, want);
        ASSERT_EQ(a, b) << "query " << k;
        ASSERT_TRUE(SameRecord(got, want)) << "query " << k;
        if (a && !occlusion && IsFinite(got.normal) && Length(got.normal) > 0.1f) {
            last = got;
            haveLast = true;
            ++hits;
        }
    }
    EXPECT_GT(hits, queries / 10);
    if (exact) {
        EXPECT_EQ(tree.queryCounter, reference.counter);
        for (std::size_t i = 0; i < soup.list.size(); ++i) {
            ASSERT_EQ(tree.Stamps()[i], reference.stamps[i]) << "triangle " << i;
        }
    }
}

TEST(QueriesAgreeWithTheReference, ExactModeWhileStampsMatch) {
    CompareSequence(31, 1, true, 30000);
}

TEST(QueriesAgreeWithTheReference, ExactModeAcrossQuery65536AndTheWrapAround) {
    CompareSequence(32, 65536 - 15000, true, 30000);
    CompareSequence(33, INT32_MAX - 10000, true, 20000);
}

TEST(QueriesAgreeWithTheReference, ParallelModeLikeTheExactOneWithoutStamps) {
    CompareSequence(34, 1, false, 30000);
}

// Stamps outlive their query: once the counter has wrapped around 2^32,
// numbers 0 … 65535 come again and old stamps match them.
TEST(ExactModeState, ACounterAndStampsRestoredIntoAFreshTreeRepeatTheSameAnswers) {
    Soup soup;
    FillScene(soup, 35);
    std::mt19937 rng(36);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::normal_distribution<float> g;
    std::vector<Ray> rays;
    for (int k = 0; k < 10000; ++k) {
        Vec3 o{-100.0f + 200.0f * unit(rng), -100.0f + 200.0f * unit(rng),
               -40.0f + 260.0f * unit(rng)};
        rays.push_back({o, Normalize(Vec3{g(rng), g(rng), g(rng)})});
    }
    auto second = [&](Octree& tree, HitRecord hit) {
        std::vector<HitRecord> records;
        for (const Ray& ray : rays) {
            tree.FindNearestHit(ray, hit);
            records.push_back(hit);
        }
        return records;
    };
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    // The rays numbered −65536 … leave stamps 0 …; the same rays numbered
    // 0 … some 2^32 queries later find them.
    tree.queryCounter = -65536;
    HitRecord hit;
    for (const Ray& ray : rays) {
        tree.FindNearestHit(ray, hit);
    }
    tree.queryCounter = 0;
    const std::vector<std::uint16_t> stamps(tree.Stamps().begin(), tree.Stamps().end());
    const std::vector<HitRecord> expected = second(tree, hit);

    Octree restored;
    ASSERT_TRUE(restored.Build(soup.list));
    ASSERT_EQ(restored.Stamps().size(), stamps.size());
    std::copy(stamps.begin(), stamps.end(), restored.Stamps().begin());
    restored.queryCounter = 0;
    const std::vector<HitRecord> again = second(restored, hit);
    for (std::size_t k = 0; k < expected.size(); ++k) {
        ASSERT_TRUE(SameRecord(again[k], expected[k])) << "ray " << k;
    }

    // Without the stamps some answers differ: the state is worth saving.
    Octree unrestored;
    ASSERT_TRUE(unrestored.Build(soup.list));
    unrestored.queryCounter = 0;
    const std::vector<HitRecord> fresh = second(unrestored, hit);
    int differing = 0;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        differing += SameRecord(fresh[k], expected[k]) ? 0 : 1;
    }
    EXPECT_GT(differing, 0);
}
}  // namespace
}  // namespace lumeno
