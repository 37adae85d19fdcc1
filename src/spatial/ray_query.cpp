// The two ray queries over the octree: parametric front-to-back traversal of
// a ray mirrored into the all-positive octant, and the leaf test that accepts
// only hits inside the leaf's own box (so the first accepting leaf holds the
// nearest hit). Nothing here allocates.
#include <algorithm>
#include <bit>
#include <cstdint>

#include "spatial/octree.h"

namespace lumeno {

namespace {

constexpr float kParallelDirection = 1e-9f;
constexpr float kParallelMidParameter = 1e9f;

bool InLeafBox(const OctreeNode& leaf, Vec3 p) {
    return leaf.boxMin.x - kLeafBoxTolerance <= p.x && p.x <= leaf.boxMax.x + kLeafBoxTolerance &&
           leaf.boxMin.y - kLeafBoxTolerance <= p.y && p.y <= leaf.boxMax.y + kLeafBoxTolerance &&
           leaf.boxMin.z - kLeafBoxTolerance <= p.z && p.z <= leaf.boxMax.z + kLeafBoxTolerance;
}

// next(A → p, B → q, C → r) of the crossing order.
int NextChild(float a, int p, float b, int q, float c, int r) {
    if (a < b) {
        return a < c ? p : r;
    }
    return b < c ? q : r;
}

constexpr int kEnd = 8;

std::int32_t NextQueryNumber(std::int32_t counter) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(counter) + 1u);
}

}  // namespace

// The mirrored origin and the axis masks of one query.
struct Octree::Traversal {
    Ray4 ray;  // the query's ray as given, in every lane
    Vec3 origin;
    int mirrorMask = 0;
    int parallelMask = 0;
    std::uint16_t* stamps = nullptr;  // the exact mode's; none in the parallel mode
};

template <bool kExact>
bool Octree::LeafTest(std::uint32_t index, TraversalNode node, const Traversal& traversal,
                      HitRecord& hit) const {
    const OctreeNode& leaf = nodes_[index];
    const Ray& ray = hit.ray;
    float best = kLeafSearchBound;
    bool found = false;
    // The hit the leaf reports, filled in full only once the leaf is done.
    const Triangle* accepted = nullptr;
    EdgeHit acceptedHit;
    Vec3 acceptedPoint;

    if (hit.candidate != nullptr) {
        // Met by this ray in an earlier leaf, so hit again at the same
        // parameter; it may have been stamped since, which is why it is
        // carried here rather than found in the list.
        TriangleEdges edges = EdgesOf(*hit.candidate);
        EdgeHit g;
        if (IntersectEdges(edges, ray.origin, ray.direction, 0.0f, kLeafSearchBound, g)) {
            Vec3 point = HitPoint(edges, g);
            if (g.t > 0.0f && InLeafBox(leaf, point)) {
                best = g.t;
                found = true;
                accepted = hit.candidate;
                acceptedHit = g;
                acceptedPoint = point;
            }
        }
    }

    // Four triangles at a time; the lanes that meet the ray then go through
    // the bound, the stamps and the filters one by one, in list order, as
    // the one-triangle loop would take them.
    const std::size_t n = node.count;
    const float* data = leafData_.data() + 9 * std::size_t{node.first};
    const std::uint32_t* positions = positions_.data() + node.first;
    for (std::size_t k = 0; k < n; k += 4) {
        // Past the leaf's last triangle the loads read the next run's
        // coordinates (or the array's zero padding), ordinary numbers that
        // cost no more to compute with; those lanes are masked off below.
        TriangleEdges4 four;
        for (std::size_t a = 0; a < 3; ++a) {
            four.p0[a] = _mm_loadu_ps(data + a * n + k);
            four.e1[a] = _mm_loadu_ps(data + (3 + a) * n + k);
            four.e2[a] = _mm_loadu_ps(data + (6 + a) * n + k);
        }
        EdgeHits4 hits;
        unsigned lanes = IntersectEdges4(four, traversal.ray, hits);
        if (n - k < 4) {
            lanes &= (1u << (n - k)) - 1u;
        }
        if (lanes == 0) {
            continue;
        }
        alignas(16) float t[4];
        alignas(16) float u[4];
        alignas(16) float v[4];
        alignas(16) float side[4];
        _mm_store_ps(t, hits.t);
        _mm_store_ps(u, hits.u);
        _mm_store_ps(v, hits.v);
        _mm_store_ps(side, hits.side);
        for (; lanes != 0; lanes &= lanes - 1) {
            const auto lane = static_cast<std::size_t>(std::countr_zero(lanes));
            const std::size_t at = k + lane;
            const std::uint32_t position = positions[at];
            if constexpr (kExact) {
                if (static_cast<std::int32_t>(traversal.stamps[position]) == hit.queryNumber) {
                    continue;  // tested by this query in an earlier leaf
                }
            }
            // best is inclusive: a later triangle at the same distance wins.
            if (t[lane] > best) {
                continue;
            }
            if (!(hit.maxDistance < 0.0f || hit.maxDistance > t[lane])) {
                continue;
            }
            const Triangle* triangle = triangles_[position];
            hit.candidate = triangle;
            if constexpr (kExact) {
                traversal.stamps[position] = static_cast<std::uint16_t>(hit.queryNumber);
            }
            best = t[lane];
            const EdgeHit g{t[lane], u[lane], v[lane], side[lane]};
            const TriangleEdges edges{{data[at], data[n + at], data[2 * n + at]},
                                      {data[3 * n + at], data[4 * n + at], data[5 * n + at]},
                                      {data[6 * n + at], data[7 * n + at], data[8 * n + at]}};
            const Vec3 point = HitPoint(edges, g);
            // A blocking test takes any hit on the segment; a nearest-hit test
            // only one inside this leaf, leaving others to the leaf that holds
            // them.
            if (hit.maxDistance > 0.0f || InLeafBox(leaf, point)) {
                found = true;
                accepted = triangle;
                acceptedHit = g;
                acceptedPoint = point;
            }
        }
    }
    if (found) {
        FillHitRecord(*accepted, ray, acceptedHit, acceptedPoint, hit);
    }
    // A hit at parameter 0 (the ray starts on the triangle) is kept in the
    // record but ends nothing: best is then 0.
    return found && 0.0f < best && best < kLeafSearchBound;
}

namespace {

// A node still to visit and its entry and exit parameters on each axis.
struct PendingNode {
    std::uint32_t node;
    float t0[3];
    float t1[3];
};

// A ray crosses at most four of a node's children, and the traversal keeps
// the ones after the first on its stack: three per level, 16 levels.
constexpr int kStackSize = 3 * 16 + 1;

}  // namespace

// Children are visited in the order the ray crosses them, each subtree fully
// before the next, and the first leaf that accepts a hit ends the query: the
// order of the recursive formulation, kept on a small explicit stack.
template <bool kExact>
bool Octree::Traverse(float tx0, float ty0, float tz0, float tx1, float ty1, float tz1,
                      const Traversal& traversal, HitRecord& hit) const {
    PendingNode stack[kStackSize];
    int top = 0;
    std::uint32_t index = 0;
    const Vec3& o = traversal.origin;
    const int mirror = traversal.mirrorMask;
    for (;;) {
        if (!(tx1 < 0.0f || ty1 < 0.0f || tz1 < 0.0f)) {  // else behind the origin
            const TraversalNode node = traversal_[index / 8].node[index % 8];
            if (node.count != kInnerNode) {
                // An empty leaf can only accept the candidate.
                if ((node.count != 0 || hit.candidate != nullptr) &&
                    LeafTest<kExact>(index, node, traversal, hit)) {
                    return true;
                }
            } else {
                float txm = (tx0 + tx1) * 0.5f;
                float tym = (ty0 + ty1) * 0.5f;
                float tzm = (tz0 + tz1) * 0.5f;
                // Along an axis the ray does not move, the origin's side of the
                // centre decides (an origin on the mid-plane counts as the upper
                // side).
                if (traversal.parallelMask != 0) {
                    const Vec3& center = nodes_[index].center;
                    if ((traversal.parallelMask & 4) != 0) {
                        txm = center.x > o.x ? kParallelMidParameter : -kParallelMidParameter;
                    }
                    if ((traversal.parallelMask & 2) != 0) {
                        tym = center.y > o.y ? kParallelMidParameter : -kParallelMidParameter;
                    }
                    if ((traversal.parallelMask & 1) != 0) {
                        tzm = center.z > o.z ? kParallelMidParameter : -kParallelMidParameter;
                    }
                }
                int i;
                if (tx0 > ty0 && tx0 > tz0) {
                    i = (tym < tx0 ? 2 : 0) + (tzm < tx0 ? 1 : 0);
                } else if (ty0 > tz0) {
                    i = (txm < ty0 ? 4 : 0) + (tzm < ty0 ? 1 : 0);
                } else {
                    i = (txm < tz0 ? 4 : 0) + (tym < tz0 ? 2 : 0);
                }
                // The children in crossing order, with their parameters.
                PendingNode order[4];
                int count = 0;
                auto add = [&](int child, float a0, float b0, float c0, float a1, float b1,
                               float c1) {
                    order[count++] = {node.first + static_cast<std::uint32_t>(child ^ mirror),
                                      {a0, b0, c0},
                                      {a1, b1, c1}};
                };
                while (i != kEnd) {
                    switch (i) {
                        case 0:
                            add(0, tx0, ty0, tz0, txm, tym, tzm);
                            i = NextChild(txm, 4, tym, 2, tzm, 1);
                            break;
                        case 1:
                            add(1, tx0, ty0, tzm, txm, tym, tz1);
                            i = NextChild(txm, 5, tym, 3, tz1, kEnd);
                            break;
                        case 2:
                            add(2, tx0, tym, tz0, txm, ty1, tzm);
                            i = NextChild(txm, 6, ty1, kEnd, tzm, 3);
                            break;
                        case 3:
                            add(3, tx0, tym, tzm, txm, ty1, tz1);
                            i = NextChild(txm, 7, ty1, kEnd, tz1, kEnd);
                            break;
                        case 4:
                            add(4, txm, ty0, tz0, tx1, tym, tzm);
                            i = NextChild(tx1, kEnd, tym, 6, tzm, 5);
                            break;
                        case 5:
                            add(5, txm, ty0, tzm, tx1, tym, tz1);
                            i = NextChild(tx1, kEnd, tym, 7, tz1, kEnd);
                            break;
                        case 6:
                            add(6, txm, tym, tz0, tx1, ty1, tzm);
                            i = NextChild(tx1, kEnd, ty1, kEnd, tzm, 7);
                            break;
                        default:
                            add(7, txm, tym, tzm, tx1, ty1, tz1);
                            i = kEnd;
                            break;
                    }
                }
                for (int k = count - 1; k > 0; --k) {
                    stack[top++] = order[k];
                }
                index = order[0].node;
                tx0 = order[0].t0[0];
                ty0 = order[0].t0[1];
                tz0 = order[0].t0[2];
                tx1 = order[0].t1[0];
                ty1 = order[0].t1[1];
                tz1 = order[0].t1[2];
                continue;
            }
        }
        if (top == 0) {
            return false;
        }
        const PendingNode& next = stack[--top];
        index = next.node;
        tx0 = next.t0[0];
        ty0 = next.t0[1];
        tz0 = next.t0[2];
        tx1 = next.t1[0];
        ty1 = next.t1[1];
        tz1 = next.t1[2];
    }
}

template <bool kExact>
bool Octree::Query(HitRecord& hit, std::uint16_t* stamps) const {
    const OctreeNode& root = nodes_.front();
    Traversal traversal;
    traversal.stamps = stamps;
    traversal.ray = Broadcast(hit.ray);
    Vec3 o = hit.ray.origin;
    Vec3 d = hit.ray.direction;
    float t0[3];
    float t1[3];
    for (int a = 0; a < 3; ++a) {
        int bit = 4 >> a;
        if (d[a] == 0.0f) {
            d[a] = kParallelDirection;
            traversal.parallelMask |= bit;
        } else if (d[a] < 0.0f) {
            o[a] = root.boxMin[a] + root.boxMax[a] - o[a];
            d[a] = -d[a];
            traversal.mirrorMask |= bit;
        }
        float inverse = 1.0f / d[a];
        t0[a] = (root.boxMin[a] - o[a]) * inverse;
        t1[a] = (root.boxMax[a] - o[a]) * inverse;
    }
    traversal.origin = o;
    if (std::max({t0[0], t0[1], t0[2]}) < std::min({t1[0], t1[1], t1[2]})) {
        return Traverse<kExact>(t0[0], t0[1], t0[2], t1[0], t1[1], t1[2], traversal, hit);
    }
    return false;
}

namespace {

void StartNearestHit(const Ray& ray, HitRecord& hit) {
    hit.distance = kNoHitDistance;
    hit.maxDistance = -1.0f;
    hit.candidate = nullptr;
    hit.ray = ray;
}

void StartOcclusion(Vec3 target, const Ray& ray, HitRecord& hit) {
    hit.candidate = nullptr;
    hit.maxDistance = Length(target - ray.origin) - kOcclusionShortening;
    hit.ray = ray;
}

}  // namespace

bool Octree::FindNearestHit(const Ray& ray, HitRecord& hit) {
    StartNearestHit(ray, hit);
    hit.queryNumber = queryCounter;
    queryCounter = NextQueryNumber(queryCounter);
    return Query<true>(hit, stamps_.data());
}

bool Octree::IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) {
    StartOcclusion(target, ray, hit);
    hit.queryNumber = queryCounter;
    queryCounter = NextQueryNumber(queryCounter);
    if (Query<true>(hit, stamps_.data())) {
        return true;
    }
    hit.distance = hit.maxDistance;
    return false;
}

bool Octree::FindNearestHitParallel(const Ray& ray, HitRecord& hit) const {
    StartNearestHit(ray, hit);
    hit.queryNumber = 0;  // no number: stamps are neither read nor written
    return Query<false>(hit, nullptr);
}

bool Octree::IsOccludedParallel(Vec3 target, const Ray& ray, HitRecord& hit) const {
    StartOcclusion(target, ray, hit);
    hit.queryNumber = 0;
    if (Query<false>(hit, nullptr)) {
        return true;
    }
    hit.distance = hit.maxDistance;
    return false;
}

}  // namespace lumeno
