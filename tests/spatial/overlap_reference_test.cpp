// The octree's membership rule against a plain reference: the overlap test
// written out axis by axis in scalar floats, and the child lists rebuilt from
// the root down with it. Triangles are placed to provoke the rule's edge
// cases: corners on and just off split planes, edges nearly along them, flat
// triangles in them, and coordinates that are not finite.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "spatial/octree.h"
#include "spatial_test_support.h"

namespace lumeno {
namespace {

using testing::Soup;

// The overlap test for a triangle none of whose corners lies in the box, one
// axis at a time. A triangle lying in one of the box's face planes is left to
// the octree's own test (that case is a separate, unchanged routine).
bool ReferenceOverlap(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 lo, Vec3 hi) {
    const std::array<Vec3, 3> p{p0, p1, p2};
    Vec3 mn;
    Vec3 mx;
    for (int a = 0; a < 3; ++a) {
        mn[a] = std::min({p0[a], p1[a], p2[a]});
        mx[a] = std::max({p0[a], p1[a], p2[a]});
    }
    for (int a = 0; a < 3; ++a) {
        if (mn[a] == mx[a] && (mn[a] == lo[a] || mn[a] == hi[a])) {
            return TriangleOverlapsBox(p0, p1, p2, lo, hi);
        }
    }
    for (int a = 0; a < 3; ++a) {
        if (!(mn[a] < hi[a] && mx[a] > lo[a])) {
            return false;
        }
    }
    Vec3 e;
    for (int a = 0; a < 3; ++a) {
        e[a] = (hi[a] - lo[a]) * 1e-6f;
    }
    auto onFace = [&](Vec3 q, int a) {
        for (int b = 0; b < 3; ++b) {
            if (b != a && !(lo[b] - e[b] <= q[b] && q[b] <= hi[b] + e[b])) {
                return false;
            }
        }
        return true;
    };
    std::array<std::vector<Vec3>, 6> kept;
    const std::array<std::array<int, 2>, 3> edges{{{0, 1}, {1, 2}, {0, 2}}};
    for (auto [first, second] : edges) {
        Vec3 a0 = p[static_cast<std::size_t>(first)];
        Vec3 a1 = p[static_cast<std::size_t>(second)];
        for (int a = 0; a < 3; ++a) {
            Vec3 s = a0[a] > a1[a] ? a1 : a0;
            Vec3 en = a0[a] > a1[a] ? a0 : a1;
            float l = s[a];
            float h = en[a];
            Vec3 d = en - s;
            if (!(h >= lo[a] && l <= hi[a] && std::fabs(l - h) > 1e-8f)) {
                continue;
            }
            for (int side = 0; side < 2; ++side) {
                float plane = side == 0 ? lo[a] : hi[a];
                if (side == 0 ? l <= lo[a] : h >= hi[a]) {
                    Vec3 q = s + ((plane - l) / (h - l)) * d;
                    if (onFace(q, a)) {
                        return true;
                    }
                    kept[static_cast<std::size_t>(2 * a + side)].push_back(q);
                }
            }
        }
    }
    const std::array<std::array<int, 2>, 3> inPlane{{{2, 1}, {2, 0}, {0, 1}}};
    for (std::size_t face = 0; face < 6; ++face) {
        if (kept[face].size() < 2) {
            continue;
        }
        Vec3 q0 = kept[face][0];
        Vec3 q1 = kept[face][1];
        for (int k = 0; k < 2; ++k) {
            int b = inPlane[face / 2][static_cast<std::size_t>(k)];
            int c = inPlane[face / 2][static_cast<std::size_t>(1 - k)];
            if (q0[b] > q1[b]) {
                std::swap(q0, q1);
            }
            for (float m : {lo[b], hi[b]}) {
                float t = (m - q0[b]) / (q1[b] - q0[b]);
                Vec3 q = q0 + t * (q1 - q0);
                if (0.0f <= t && t <= 1.0f && lo[c] <= q[c] && q[c] <= hi[c]) {
                    return true;
                }
            }
        }
    }
    return false;
}

bool ReferenceMember(const Triangle& t, Vec3 lo, Vec3 hi) {
    for (Vec3 c : {t.p0, t.p1, t.p2}) {
        if (lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z &&
            c.z <= hi.z) {
            return true;
        }
    }
    return ReferenceOverlap(t.p0, t.p1, t.p2, lo, hi);
}

// A coordinate near the split planes of the first few depths on axis a:
// exactly on one, a few float steps off it, or anywhere.
class Coordinates {
  public:
    explicit Coordinates(unsigned seed) : rng_(seed) {}

    float Near(int a) {
        float lo = kRootBoxMin[a];
        float hi = kRootBoxMax[a];
        int depth = static_cast<int>(Unit() * 5.0f);
        float step = (hi - lo) / static_cast<float>(1 << depth);
        float plane = lo + step * static_cast<float>(static_cast<int>(Unit() * (1 << depth)));
        float kind = Unit();
        if (kind < 0.3f) {
            return plane;
        }
        if (kind < 0.6f) {
            int ulps = static_cast<int>(Unit() * 9.0f) - 4;
            float v = plane;
            for (; ulps > 0; --ulps) {
                v = std::nextafter(v, hi);
            }
            for (; ulps < 0; ++ulps) {
                v = std::nextafter(v, lo);
            }
            return v;
        }
        if (kind < 0.7f) {
            return plane + (Unit() - 0.5f) * step * 1e-5f;  // within the face tolerance
        }
        return lo - 20.0f + (hi - lo + 40.0f) * Unit();
    }

    Vec3 Point() { return {Near(0), Near(1), Near(2)}; }
    float Unit() { return std::uniform_real_distribution<float>(0.0f, 1.0f)(rng_); }

  private:
    std::mt19937 rng_;
};

Triangle RandomTriangle(Coordinates& c) {
    Vec3 p = c.Point();
    Vec3 q = c.Point();
    Vec3 r = c.Point();
    float kind = c.Unit();
    if (kind < 0.2f) {  // small, around p
        q = p + 0.05f * (q - p);
        r = p + 0.05f * (r - p);
    } else if (kind < 0.35f) {  // flat on an axis
        int a = static_cast<int>(c.Unit() * 3.0f) % 3;
        q[a] = r[a] = p[a];
    } else if (kind < 0.45f) {  // an edge along an axis
        int a = static_cast<int>(c.Unit() * 3.0f) % 3;
        q = p;
        q[a] = r[a];
    } else if (kind < 0.6f) {  // an edge passing a line of split planes by a hair
        Vec3 x = c.Point();
        Vec3 d = Normalize(Vec3{c.Unit() - 0.5f, c.Unit() - 0.5f, c.Unit() - 0.5f});
        Vec3 hair = 1e-4f * Vec3{c.Unit() - 0.5f, c.Unit() - 0.5f, c.Unit() - 0.5f};
        q = x + 3.0f * d + hair;
        r = x - 3.0f * d + hair;
        p = x + 3.0f * Vec3{c.Unit() - 0.5f, c.Unit() - 0.5f, c.Unit() - 0.5f};
    } else if (kind < 0.62f) {
        q.y = c.Unit() < 0.5f ? std::numeric_limits<float>::infinity()
                              : std::numeric_limits<float>::quiet_NaN();
    }
    return testing::MakeTriangle(p, q, r);
}

TEST(OverlapReference, TheOverlapTestAgreesWithThePlainOneOnEdgeCases) {
    Coordinates c(5);
    int overlaps = 0;
    for (int k = 0; k < 400000; ++k) {
        Triangle t = RandomTriangle(c);
        Vec3 lo = c.Point();
        Vec3 hi = c.Point();
        for (int a = 0; a < 3; ++a) {
            if (hi[a] < lo[a]) {
                std::swap(lo[a], hi[a]);
            }
        }
        bool expected = ReferenceOverlap(t.p0, t.p1, t.p2, lo, hi);
        ASSERT_EQ(TriangleOverlapsBox(t.p0, t.p1, t.p2, lo, hi), expected)
            << "case " << k << ": " << t.p0.x << " " << t.p0.y << " " << t.p0.z << " / " << t.p1.x
            << " " << t.p1.y << " " << t.p1.z << " / " << t.p2.x << " " << t.p2.y << " " << t.p2.z
            << " in " << lo.x << " " << lo.y << " " << lo.z << " … " << hi.x << " " << hi.y << " "
            << hi.z;
        overlaps += expected ? 1 : 0;
    }
    EXPECT_GT(overlaps, 20000);
}

// Rebuilds every node's list from its parent's with the reference rule and
// compares it with each leaf's list.
void ExpectListsFromTheRoot(const Octree& tree, const OctreeNode& node,
                            const std::vector<const Triangle*>& list, int& leavesChecked) {
    if (node.isLeaf != 0) {
        ASSERT_EQ(tree.TrianglesOf(node), list) << "leaf at depth " << node.depth;
        ++leavesChecked;
        return;
    }
    for (int i = 0; i < 8; ++i) {
        const OctreeNode& child = tree.Child(node, i);
        std::vector<const Triangle*> childList;
        for (const Triangle* t : list) {
            if (ReferenceMember(*t, child.boxMin, child.boxMax)) {
                childList.push_back(t);
            }
        }
        ExpectListsFromTheRoot(tree, child, childList, leavesChecked);
    }
}

TEST(OverlapReference, EveryLeafListsExactlyTheTrianglesTheRuleGivesIt) {
    Coordinates c(6);
    Soup soup;
    for (int k = 0; k < 800; ++k) {
        Triangle t = RandomTriangle(c);
        soup.Add(t.p0, t.p1, t.p2);
    }
    Octree tree;
    ASSERT_TRUE(tree.Build(soup.list));
    ASSERT_GT(tree.Stats().maxDepth, 4);
    std::vector<const Triangle*> all(soup.list.begin(), soup.list.end());
    int leavesChecked = 0;
    ExpectListsFromTheRoot(tree, tree.Root(), all, leavesChecked);
    EXPECT_GT(leavesChecked, 1000);
}

}  // namespace
}  // namespace lumeno
