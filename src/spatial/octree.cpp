#include "spatial/octree.h"

#include "base/thread_sanitizer.h"

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>
#include <oneapi/tbb/task_arena.h>

#include <emmintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <utility>

namespace lumeno {

namespace {

constexpr float kFaceTolerance = 1e-6f;  // of the box's extent on the axis
constexpr float kMinEdgeExtent = 1e-8f;

// Whether a triangle lying in the plane of one box face (axis a) overlaps
// the closed face rectangle: a separating-axis test in the plane, on the
// rectangle's two axes and the triangle's three edge normals.
bool TriangleOverlapsFace(const std::array<Vec3, 3>& p, int a, Vec3 lo, Vec3 hi) {
    int b = (a + 1) % 3;
    int c = (a + 2) % 3;
    std::array<double, 3> pb{};
    std::array<double, 3> pc{};
    for (int k = 0; k < 3; ++k) {
        pb[static_cast<std::size_t>(k)] = p[static_cast<std::size_t>(k)][b];
        pc[static_cast<std::size_t>(k)] = p[static_cast<std::size_t>(k)][c];
    }
    auto [minB, maxB] = std::minmax({pb[0], pb[1], pb[2]});
    auto [minC, maxC] = std::minmax({pc[0], pc[1], pc[2]});
    if (minB > hi[b] || maxB < lo[b] || minC > hi[c] || maxC < lo[c]) {
        return false;
    }
    const std::array<double, 4> cornerB{lo[b], hi[b], lo[b], hi[b]};
    const std::array<double, 4> cornerC{lo[c], lo[c], hi[c], hi[c]};
    for (std::size_t k = 0; k < 3; ++k) {
        std::size_t next = (k + 1) % 3;
        double nb = -(pc[next] - pc[k]);
        double nc = pb[next] - pb[k];
        if (nb == 0.0 && nc == 0.0) {
            continue;
        }
        double triMin = nb * pb[0] + nc * pc[0];
        double triMax = triMin;
        for (std::size_t j = 1; j < 3; ++j) {
            double s = nb * pb[j] + nc * pc[j];
            triMin = std::min(triMin, s);
            triMax = std::max(triMax, s);
        }
        double boxMin = nb * cornerB[0] + nc * cornerC[0];
        double boxMax = boxMin;
        for (std::size_t j = 1; j < 4; ++j) {
            double s = nb * cornerB[j] + nc * cornerC[j];
            boxMin = std::min(boxMin, s);
            boxMax = std::max(boxMax, s);
        }
        if (boxMax < triMin || boxMin > triMax) {
            return false;
        }
    }
    return true;
}

}  // namespace

namespace {

// x ? a : b per lane (SSE2 has no blend).
__m128 Select(__m128 x, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(x, a), _mm_andnot_ps(x, b));
}

__m128 Load(Vec3 v) {
    return _mm_set_ps(0.0f, v.z, v.y, v.x);
}

}  // namespace

// The build calls this millions of times, and the exact mode's tree depends
// on every bit of it. The bounding box, the tolerances and the edge pass run
// on SSE lanes, one per axis, with exactly the operations (and the NaN
// behaviour) of the plain per-axis formulation; the face pass, rarely
// reached, is plain float code.
bool TriangleOverlapsBox(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 lo, Vec3 hi) {
    const __m128 c0 = Load(p0);
    const __m128 c1 = Load(p1);
    const __m128 c2 = Load(p2);
    const __m128 l = Load(lo);
    const __m128 h = Load(hi);
    // The smallest and largest coordinates as "m = p0; if (p1 < m) m = p1;
    // if (p2 < m) m = p2" picks them (minps(x, y) is x < y ? x : y).
    const __m128 mn = _mm_min_ps(c2, _mm_min_ps(c1, c0));
    const __m128 mx = _mm_max_ps(c2, _mm_max_ps(c1, c0));
    // Boxes are closed: a triangle lying in a face plane touches the box where
    // it overlaps the face. The extent test below cannot see it (it has no
    // extent across the plane), and a floor in a split plane would otherwise
    // be missing from every leaf that holds none of its corners.
    const __m128 flat =
        _mm_and_ps(_mm_cmpeq_ps(mn, mx), _mm_or_ps(_mm_cmpeq_ps(mn, l), _mm_cmpeq_ps(mn, h)));
    if (int inFacePlane = _mm_movemask_ps(flat) & 7; inFacePlane != 0) {
        return TriangleOverlapsFace({p0, p1, p2},
                                    std::countr_zero(static_cast<unsigned>(inFacePlane)), lo, hi);
    }
    if ((_mm_movemask_ps(_mm_and_ps(_mm_cmplt_ps(mn, h), _mm_cmpgt_ps(mx, l))) & 7) != 7) {
        return false;
    }
    const __m128 e = _mm_mul_ps(_mm_sub_ps(h, l), _mm_set1_ps(kFaceTolerance));
    // The face of axis a spans [lo − e, hi + e] on the two other axes.
    alignas(16) float faceMin[4];
    alignas(16) float faceMax[4];
    _mm_store_ps(faceMin, _mm_sub_ps(l, e));
    _mm_store_ps(faceMax, _mm_add_ps(h, e));

    // Edge pass: edges that pierce a face, lane a for the planes of axis a.
    // Points where an edge meets a face plane outside the face are kept (as
    // coordinates k of lane a) for the face pass, since they lie on the
    // triangle's cut through that plane.
    const float corners[3][3] = {{p0.x, p0.y, p0.z}, {p1.x, p1.y, p1.z}, {p2.x, p2.y, p2.z}};
    constexpr int kEdges[3][2] = {{0, 1}, {1, 2}, {0, 2}};
    alignas(16) float cut[3][2][3][4];  // [edge][lo, hi][coordinate][axis]
    int cuts[3][2];                     // [edge][lo, hi]: the axes whose plane the edge meets
    const __m128 signless = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    const __m128 laneX = _mm_castsi128_ps(_mm_set_epi32(0, 0, 0, -1));
    const __m128 laneY = _mm_castsi128_ps(_mm_set_epi32(0, 0, -1, 0));
    const __m128 laneZ = _mm_castsi128_ps(_mm_set_epi32(0, -1, 0, 0));
    const __m128 corner[3] = {c0, c1, c2};
    for (int k = 0; k < 3; ++k) {
        const float* a0 = corners[kEdges[k][0]];
        const float* a1 = corners[kEdges[k][1]];
        const __m128 va0 = corner[kEdges[k][0]];
        const __m128 va1 = corner[kEdges[k][1]];
        // On each axis S is the end with the smaller coordinate (the first
        // end on a tie), E the other.
        const __m128 swap = _mm_cmpgt_ps(va0, va1);
        const __m128 ls = Select(swap, va1, va0);
        const __m128 hs = Select(swap, va0, va1);
        const __m128 valid = _mm_and_ps(
            _mm_and_ps(_mm_cmpge_ps(hs, l), _mm_cmple_ps(ls, h)),
            _mm_cmpgt_ps(_mm_and_ps(_mm_sub_ps(ls, hs), signless), _mm_set1_ps(kMinEdgeExtent)));
        const __m128 lowCut = _mm_and_ps(valid, _mm_cmple_ps(ls, l));
        const __m128 highCut = _mm_and_ps(valid, _mm_cmpge_ps(hs, h));
        const __m128 span = _mm_sub_ps(hs, ls);
        const __m128 tLow = _mm_div_ps(_mm_sub_ps(l, ls), span);
        const __m128 tHigh = _mm_div_ps(_mm_sub_ps(h, ls), span);
        __m128 onLow = _mm_castsi128_ps(_mm_set1_epi32(-1));
        __m128 onHigh = onLow;
        for (int c = 0; c < 3; ++c) {
            // Coordinate c of S, E and D = E − S for each lane's ordering.
            const __m128 first = _mm_set1_ps(a0[c]);
            const __m128 second = _mm_set1_ps(a1[c]);
            const __m128 s = Select(swap, second, first);
            const __m128 d = _mm_sub_ps(Select(swap, first, second), s);
            const __m128 low = _mm_add_ps(s, _mm_mul_ps(tLow, d));
            const __m128 high = _mm_add_ps(s, _mm_mul_ps(tHigh, d));
            _mm_store_ps(cut[k][0][c], low);
            _mm_store_ps(cut[k][1][c], high);
            // Within the face on coordinate c; lane c's own axis is exempt.
            const __m128 own = c == 0 ? laneX : (c == 1 ? laneY : laneZ);
            const __m128 fMin = _mm_set1_ps(faceMin[c]);
            const __m128 fMax = _mm_set1_ps(faceMax[c]);
            onLow = _mm_and_ps(onLow, _mm_or_ps(own, _mm_and_ps(_mm_cmple_ps(fMin, low),
                                                                _mm_cmple_ps(low, fMax))));
            onHigh = _mm_and_ps(onHigh, _mm_or_ps(own, _mm_and_ps(_mm_cmple_ps(fMin, high),
                                                                  _mm_cmple_ps(high, fMax))));
        }
        const __m128 pierce = _mm_or_ps(_mm_and_ps(lowCut, onLow), _mm_and_ps(highCut, onHigh));
        if ((_mm_movemask_ps(pierce) & 7) != 0) {
            return true;
        }
        cuts[k][0] = _mm_movemask_ps(lowCut) & 7;
        cuts[k][1] = _mm_movemask_ps(highCut) & 7;
    }

    // Face pass: box edges that pierce the triangle, seen as the triangle's
    // cut through a face plane crossing one of the face's boundary lines. A
    // face uses the first two points kept for it, in edge order. In-plane
    // axes per face axis: z then y, z then x, x then y.
    const float l3[3] = {lo.x, lo.y, lo.z};
    const float h3[3] = {hi.x, hi.y, hi.z};
    constexpr int kInPlane[3][2] = {{2, 1}, {2, 0}, {0, 1}};
    for (int face = 0; face < 6; ++face) {
        const int a = face / 2;
        const int side = face % 2;
        float q[2][3];
        int kept = 0;
        for (int k = 0; k < 3 && kept < 2; ++k) {
            if ((cuts[k][side] >> a & 1) != 0) {
                for (int c = 0; c < 3; ++c) {
                    q[kept][c] = cut[k][side][c][a];
                }
                ++kept;
            }
        }
        if (kept < 2) {
            continue;
        }
        const float* q0 = q[0];
        const float* q1 = q[1];
        for (int k = 0; k < 2; ++k) {
            int b = kInPlane[a][k];
            int c = kInPlane[a][1 - k];
            if (q0[b] > q1[b]) {
                std::swap(q0, q1);
            }
            float span = q1[b] - q0[b];
            if (span == 0.0f) {
                continue;  // parallel to both boundary lines of this axis
            }
            for (float m : {l3[b], h3[b]}) {
                float t = (m - q0[b]) / span;
                float qc = q0[c] + t * (q1[c] - q0[c]);
                if (0.0f <= t && t <= 1.0f && l3[c] <= qc && qc <= h3[c]) {
                    return true;
                }
            }
        }
    }
    return false;
}

namespace {

// Where a point or a range lies relative to a node being split, as two sets
// of axis bits (x = 1, y = 2, z = 4): the axes on which it reaches the lower
// half [boxMin, center] and those on which it reaches the upper half
// [center, boxMax]. kChildrenReached[lower | upper << 3] is the set of
// children (bit i for child i) reached on all three axes; bit value 4 of a
// child's number selects the upper half in x, 2 in y, 1 in z.
constexpr std::array<std::uint8_t, 64> kChildrenReached = [] {
    std::array<std::uint8_t, 64> table{};
    for (unsigned sides = 0; sides < 64; ++sides) {
        unsigned children = 0;
        for (unsigned i = 0; i < 8; ++i) {
            bool all = true;
            for (unsigned a = 0; a < 3; ++a) {
                bool upper = (i & (4u >> a)) != 0;
                all = all && ((sides >> (upper ? a + 3 : a)) & 1u) != 0;
            }
            children |= all ? 1u << i : 0u;
        }
        table[sides] = static_cast<std::uint8_t>(children);
    }
    return table;
}();

// The box of a node being split and the boxes of its eight children.
struct SplitBoxes {
    __m128 boxMin;
    __m128 center;
    __m128 boxMax;
    std::array<Vec3, 8> lo;
    std::array<Vec3, 8> hi;
};

SplitBoxes BoxesOf(Vec3 boxMin, Vec3 center, Vec3 boxMax) {
    SplitBoxes b{Load(boxMin), Load(center), Load(boxMax), {}, {}};
    for (std::size_t i = 0; i < 8; ++i) {
        for (int a = 0; a < 3; ++a) {
            bool upper = (i & (4u >> a)) != 0;
            b.lo[i][a] = upper ? center[a] : boxMin[a];
            b.hi[i][a] = upper ? boxMax[a] : center[a];
        }
    }
    return b;
}

std::uint8_t Reached(__m128 lower, __m128 upper) {
    auto sides =
        static_cast<unsigned>((_mm_movemask_ps(lower) & 7) | ((_mm_movemask_ps(upper) & 7) << 3));
    return kChildrenReached[sides];
}

// The children whose closed box holds the point (lo <= c <= hi on every
// axis, as a comparison of floats: a point on the centre plane lies in both
// halves, and a NaN coordinate in none).
std::uint8_t ChildrenHolding(__m128 c, const SplitBoxes& b) {
    __m128 lower = _mm_and_ps(_mm_cmple_ps(b.boxMin, c), _mm_cmple_ps(c, b.center));
    __m128 upper = _mm_and_ps(_mm_cmple_ps(b.center, c), _mm_cmple_ps(c, b.boxMax));
    return Reached(lower, upper);
}

// Whether the plane of a triangle passes so far from the closed box [lo, hi]
// that TriangleOverlapsBox cannot find the two touching. Every point at which
// that test sees the triangle meet the box lies within its tolerance (1e-6 of
// the box's extent) plus a few float roundings (relative to the largest
// coordinate involved) of both; the margin here is four times that, and the
// plane is taken in double precision and only from triangles that are not
// needle-thin, so its own error is far smaller. Used only to skip calls that
// would return false.
class PlaneTest {
  public:
    explicit PlaneTest(const std::array<Vec3, 3>& p) {
        double e1[3] = {};
        double e2[3] = {};
        double e1Length = 0.0;
        double e2Length = 0.0;
        for (int a = 0; a < 3; ++a) {
            p0_[a] = p[0][a];
            e1[a] = static_cast<double>(p[1][a]) - p0_[a];
            e2[a] = static_cast<double>(p[2][a]) - p0_[a];
            e1Length += e1[a] * e1[a];
            e2Length += e2[a] * e2[a];
            magnitude_ =
                std::max({magnitude_, std::fabs(p0_[a]), std::fabs(static_cast<double>(p[1][a])),
                          std::fabs(static_cast<double>(p[2][a]))});
        }
        n_[0] = e1[1] * e2[2] - e1[2] * e2[1];
        n_[1] = e1[2] * e2[0] - e1[0] * e2[2];
        n_[2] = e1[0] * e2[1] - e1[1] * e2[0];
        length_ = std::sqrt(n_[0] * n_[0] + n_[1] * n_[1] + n_[2] * n_[2]);
        usable_ = length_ > 1e-6 * std::sqrt(e1Length * e2Length);
    }

    bool Misses(Vec3 lo, Vec3 hi) const {
        if (!usable_) {
            return false;
        }
        double offset = 0.0;
        double reach = 0.0;
        double tolerance = 0.0;
        double magnitude = magnitude_;
        for (int a = 0; a < 3; ++a) {
            double center = 0.5 * (static_cast<double>(lo[a]) + hi[a]);
            double half = 0.5 * (static_cast<double>(hi[a]) - lo[a]);
            offset += n_[a] * (center - p0_[a]);
            reach += std::fabs(n_[a]) * half;
            tolerance = std::max(tolerance, 2.0 * half * kFaceTolerance);
            magnitude = std::max({magnitude, std::fabs(static_cast<double>(lo[a])),
                                  std::fabs(static_cast<double>(hi[a]))});
        }
        double margin = 4.0 * (tolerance + magnitude * 0x1p-20);
        return std::fabs(offset) > reach + margin * length_;
    }

  private:
    double p0_[3];
    double n_[3];
    double length_;
    double magnitude_ = 0.0;
    bool usable_;
};

// The children that list the triangle: those whose closed box holds one of
// its corners, and those that TriangleOverlapsBox finds it crossing. The
// overlap test runs only where it can be true: a triangle whose bounding
// box misses a child's closed box overlaps neither the box nor any face of
// it, nor does one whose plane passes clearly by, so mostly triangles that
// cross a split plane pay for it. Triangles with a coordinate that is not
// finite take the full test everywhere.
std::uint8_t ChildrenListing(const std::array<Vec3, 3>& p, const SplitBoxes& b) {
    const __m128 c0 = Load(p[0]);
    const __m128 c1 = Load(p[1]);
    const __m128 c2 = Load(p[2]);
    std::uint8_t members = ChildrenHolding(c0, b) | ChildrenHolding(c1, b) | ChildrenHolding(c2, b);
    const __m128 infinity = _mm_set1_ps(std::numeric_limits<float>::infinity());
    const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
    __m128 finite = _mm_and_ps(_mm_cmplt_ps(_mm_and_ps(c0, magnitude), infinity),
                               _mm_cmplt_ps(_mm_and_ps(c1, magnitude), infinity));
    finite = _mm_and_ps(finite, _mm_cmplt_ps(_mm_and_ps(c2, magnitude), infinity));
    unsigned rest = 0xFFu & ~members;
    if ((_mm_movemask_ps(finite) & 7) != 7) {
        for (; rest != 0; rest &= rest - 1) {
            auto i = static_cast<std::size_t>(std::countr_zero(rest));
            if (TriangleOverlapsBox(p[0], p[1], p[2], b.lo[i], b.hi[i])) {
                members |= static_cast<std::uint8_t>(1u << i);
            }
        }
        return members;
    }
    __m128 mn = _mm_min_ps(_mm_min_ps(c0, c1), c2);
    __m128 mx = _mm_max_ps(_mm_max_ps(c0, c1), c2);
    __m128 lower = _mm_and_ps(_mm_cmple_ps(mn, b.center), _mm_cmpge_ps(mx, b.boxMin));
    __m128 upper = _mm_and_ps(_mm_cmpge_ps(mx, b.center), _mm_cmple_ps(mn, b.boxMax));
    rest &= Reached(lower, upper);
    if (rest == 0) {
        return members;
    }
    const PlaneTest plane(p);
    for (; rest != 0; rest &= rest - 1) {
        auto i = static_cast<std::size_t>(std::countr_zero(rest));
        if (!plane.Misses(b.lo[i], b.hi[i]) &&
            TriangleOverlapsBox(p[0], p[1], p[2], b.lo[i], b.hi[i])) {
            members |= static_cast<std::uint8_t>(1u << i);
        }
    }
    return members;
}

// An allocator for the build's working arrays: like std::allocator, except
// that resize leaves new elements of trivial types uninitialised (the build
// writes each one before reading it). These arrays grow and are freed during
// the build, so they stay on ordinary pages: huge pages would have every
// regrowth fault in and clear fresh 2 MiB pages.
template <class T>
struct WorkingAllocator : std::allocator<T>, DefaultInitialising {
    using value_type = T;
    template <class U>
    struct rebind {
        using other = WorkingAllocator<U>;
    };
    WorkingAllocator() = default;
    template <class U>
    explicit WorkingAllocator(const WorkingAllocator<U>&) {}
};

template <class T>
using WorkingVector = std::vector<T, WorkingAllocator<T>>;

// Lists are classified in runs of at most this many references, each run
// by one task.
constexpr std::size_t kClassifyGrain = 2048;

}  // namespace

// The build, one depth at a time. Every node of a depth is classified (in
// parallel: runs of each list independently), then the splits are decided
// in one sequential step, so the tree is the same for any number of threads.
// Lists are runs of triangle indices into the built list; each child's list
// keeps its parent's order. Nodes are numbered in the order they are made,
// depth by depth, the root alone in the first group of eight.
//
// The budget counts the nodes made and the references held in lists (of the
// leaves and of the nodes of the depth being decided). When a depth's splits
// all fit, they are all made, so a tree that fits is exactly the unbounded
// one. When they do not, the nodes with the longest lists are split first
// and the rest stay leaves, cut short; every part of the scene has then been
// refined to the same depth or one less, and the budget is spent where the
// lists are longest.
class Octree::Builder {
  public:
    // Thrown out of the build (through the task library) when it is called off.
    struct Cancelled {};

    Builder(Octree& tree, Budget budget, const std::atomic<bool>* cancel)
        : tree_(tree), nodes_(tree.nodes_), budget_(budget), cancel_(cancel) {}

    void Run() {
        const std::vector<Triangle*>& triangles = tree_.triangles_;
        const std::size_t count = triangles.size();
        corners_.resize(count);
        level_.resize(count);
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, kClassifyGrain),
                          [&](const tbb::blocked_range<std::size_t>& r) {
                              for (std::size_t i = r.begin(); i != r.end(); ++i) {
                                  const Triangle& t = *triangles[i];
                                  corners_[i] = {t.p0, t.p1, t.p2};
                                  level_[i] = static_cast<std::uint32_t>(i);
                              }
                          });
        // Room for typical trees up front: untouched capacity costs no memory,
        // and growing these arrays would copy them and fault in fresh pages.
        nodes_.clear();
        nodes_.reserve(std::min(budget_.maxNodes, 4 * count) + 8);
        leafLists_.reserve(std::min(budget_.maxReferences, 16 * count + 64));
        nodes_.assign(8, OctreeNode{});
        OctreeNode& root = nodes_.front();
        root.boxMin = kRootBoxMin;
        root.boxMax = kRootBoxMax;
        root.center = (kRootBoxMin + kRootBoxMax) * 0.5f;
        pending_.push_back({0, 0, count});
        live_ = count;
        while (!pending_.empty()) {
            CheckCancel();
            SplitLevel();
            std::swap(pending_, next_);
        }
        CheckCancel();
        FillLeaves();
    }

  private:
    void CheckCancel() const {
        if (cancel_ != nullptr && cancel_->load(std::memory_order_relaxed)) {
            throw Cancelled{};
        }
    }

    // A node of the depth being decided and its run of level_.
    struct Pending {
        std::uint32_t node;
        std::size_t start;
        std::size_t size;
    };
    // A run of a pending node's list, classified by one task: how many of
    // its references each child lists, and later where they go in the next
    // depth's lists.
    struct Slice {
        std::size_t wanting;
        std::size_t start;
        std::size_t end;
        std::array<std::size_t, 8> counts;
    };
    // A pending node that wants a split: how many references each child
    // lists and where each child's list will start, and whether the budget
    // lets it split.
    struct Wanting {
        std::size_t pending;
        std::array<std::size_t, 8> counts;
        std::array<std::size_t, 8> starts;
        std::size_t childRefs;
        bool split;
    };
    // What a depth's decisions mean for one pending node: its entry in
    // wanting_ if it splits (else kNone), and where its children go (split)
    // or where its list goes among the leaves' lists (leaf).
    struct Outcome {
        std::size_t wanting;
        std::size_t place;
    };
    static constexpr std::size_t kNone = SIZE_MAX;

    bool WantsSplit(const Pending& p) const {
        return nodes_[p.node].depth <= kMaxSplitDepth && p.size > kMaxLeafTriangles;
    }

    void Classify(Slice& slice, const Pending& p) {
        const OctreeNode& node = nodes_[p.node];
        const SplitBoxes boxes = BoxesOf(node.boxMin, node.center, node.boxMax);
        std::array<std::size_t, 8> counts{};
        for (std::size_t k = slice.start; k < slice.end; ++k) {
            std::uint8_t mask = ChildrenListing(corners_[level_[k]], boxes);
            masks_[k] = mask;
            for (std::size_t i = 0; i < 8; ++i) {
                counts[i] += (mask >> i) & 1u;
            }
        }
        slice.counts = counts;
    }

    // Decides every node of pending_ and puts the nodes of the next depth
    // into next_.
    void SplitLevel() {
        const std::vector<Pending>& pending = pending_;
        std::vector<Wanting>& wanting = wanting_;
        wanting.clear();
        slices_.clear();
        outcomes_.assign(pending.size(), {kNone, 0});
        for (std::size_t j = 0; j < pending.size(); ++j) {
            const Pending& p = pending[j];
            if (!WantsSplit(p)) {
                continue;
            }
            for (std::size_t start = p.start; start < p.start + p.size; start += kClassifyGrain) {
                slices_.push_back({wanting.size(),
                                   start,
                                   std::min(start + kClassifyGrain, p.start + p.size),
                                   {}});
            }
            outcomes_[j].wanting = wanting.size();
            wanting.push_back({j, {}, {}, 0, false});
        }
        masks_.resize(level_.size());
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, slices_.size()),
                          [&](const tbb::blocked_range<std::size_t>& r) {
                              for (std::size_t k = r.begin(); k != r.end(); ++k) {
                                  CheckCancel();
                                  Slice& slice = slices_[k];
                                  Classify(slice, pending[wanting[slice.wanting].pending]);
                              }
                          });
        for (const Slice& slice : slices_) {
            Wanting& w = wanting[slice.wanting];
            for (std::size_t i = 0; i < 8; ++i) {
                w.counts[i] += slice.counts[i];
                w.childRefs += slice.counts[i];
            }
        }
        DecideSplits(pending, wanting);

        // Where everything goes: the children of the split nodes, eight by
        // eight, in order; their lists, child by child, in the next depth's
        // lists; and the new leaves' lists after the earlier leaves' lists.
        const std::size_t firstNew = nodes_.size();
        std::size_t children = firstNew;
        std::size_t nextSize = 0;
        std::size_t leafList = leafLists_.size();
        BuildStats& stats = tree_.stats_;
        for (std::size_t j = 0; j < pending.size(); ++j) {
            Outcome& outcome = outcomes_[j];
            if (outcome.wanting != kNone && wanting[outcome.wanting].split) {
                Wanting& w = wanting[outcome.wanting];
                outcome.place = children;
                children += 8;
                for (std::size_t i = 0; i < 8; ++i) {
                    w.starts[i] = nextSize;
                    nextSize += w.counts[i];
                }
            } else {
                outcome.wanting = kNone;
                outcome.place = leafList;
                leafList += pending[j].size;
                ++stats.leaves;
                stats.maxDepth =
                    std::max(stats.maxDepth, static_cast<int>(nodes_[pending[j].node].depth));
            }
        }
        // Each slice of a split node's list learns where its references go.
        for (Slice& slice : slices_) {
            Wanting& owner = wanting[slice.wanting];
            if (!owner.split) {
                slice.end = slice.start;  // nothing to hand on
                continue;
            }
            for (std::size_t i = 0; i < 8; ++i) {
                std::size_t count = slice.counts[i];
                slice.counts[i] = owner.starts[i];
                owner.starts[i] += count;
            }
        }
        nodes_.resize(children);
        leafLists_.resize(leafList);
        next_.resize(children - firstNew);
        spare_.resize(nextSize);

        // The children and the leaves, node by node; then the next depth's
        // lists, slice by slice.
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, pending.size()),
            [&](const tbb::blocked_range<std::size_t>& r) {
                for (std::size_t j = r.begin(); j != r.end(); ++j) {
                    const Pending& p = pending[j];
                    const Outcome& outcome = outcomes_[j];
                    OctreeNode& node = nodes_[p.node];
                    if (outcome.wanting == kNone) {
                        node.isLeaf = 1;
                        node.first = 0;  // its first block, once the blocks are laid out
                        node.triangleCount = static_cast<std::uint32_t>(p.size);
                        auto from = level_.begin() + static_cast<std::ptrdiff_t>(p.start);
                        std::copy(from, from + static_cast<std::ptrdiff_t>(p.size),
                                  leafLists_.begin() + static_cast<std::ptrdiff_t>(outcome.place));
                        continue;
                    }
                    const Wanting& w = wanting_[outcome.wanting];
                    node.first = static_cast<std::uint32_t>(outcome.place);
                    const SplitBoxes boxes = BoxesOf(node.boxMin, node.center, node.boxMax);
                    for (std::size_t i = 0; i < 8; ++i) {
                        OctreeNode& child = nodes_[outcome.place + i];
                        child = OctreeNode{};
                        child.boxMin = boxes.lo[i];
                        child.boxMax = boxes.hi[i];
                        child.center = (boxes.lo[i] + boxes.hi[i]) * 0.5f;
                        child.depth = static_cast<std::int16_t>(node.depth + 1);
                        // w.starts now hold each child's end.
                        next_[outcome.place + i - firstNew] = {
                            static_cast<std::uint32_t>(outcome.place + i),
                            w.starts[i] - w.counts[i], w.counts[i]};
                    }
                }
            });
        tbb::parallel_for(
            tbb::blocked_range<std::size_t>(0, slices_.size()),
            [&](const tbb::blocked_range<std::size_t>& r) {
                for (std::size_t k = r.begin(); k != r.end(); ++k) {
                    Slice& slice = slices_[k];
                    for (std::size_t e = slice.start; e < slice.end; ++e) {
                        for (unsigned m = masks_[e]; m != 0; m &= m - 1) {
                            std::size_t& at =
                                slice.counts[static_cast<std::size_t>(std::countr_zero(m))];
                            spare_[at++] = level_[e];
                        }
                    }
                }
            });
        std::swap(level_, spare_);
    }

    // All wanted splits when they fit; otherwise the longest lists first
    // (ties in tree order), each as long as the budget allows.
    void DecideSplits(const std::vector<Pending>& pending, std::vector<Wanting>& wanting) {
        std::size_t allNodes = nodeCount_ + 8 * wanting.size();
        std::size_t allLive = live_;
        for (const Wanting& w : wanting) {
            allLive = allLive - pending[w.pending].size + w.childRefs;
        }
        if (allNodes <= budget_.maxNodes && allLive <= budget_.maxReferences) {
            for (Wanting& w : wanting) {
                w.split = true;
            }
            nodeCount_ = allNodes;
            live_ = allLive;
            return;
        }
        std::vector<std::size_t> order(wanting.size());
        for (std::size_t k = 0; k < order.size(); ++k) {
            order[k] = k;
        }
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return pending[wanting[a].pending].size > pending[wanting[b].pending].size;
        });
        for (std::size_t k : order) {
            Wanting& w = wanting[k];
            std::size_t size = pending[w.pending].size;
            std::size_t live = live_ - size + w.childRefs;
            if (nodeCount_ + 8 <= budget_.maxNodes && live <= budget_.maxReferences) {
                w.split = true;
                nodeCount_ += 8;
                live_ = live;
            } else {
                BuildStats& stats = tree_.stats_;
                stats.budgetSpent = true;
                ++stats.leavesCutShort;
                stats.largestCutShort = std::max(stats.largestCutShort, size);
            }
        }
    }

    // The traversal copy of every node, and each leaf's triangles into its
    // data, leaves in node order.
    void FillLeaves() {
        const std::size_t count = nodes_.size();
        // Each leaf's first entry in leafLists_, in node order (the lists were
        // placed depth by depth in node order too; the root group's seven
        // spare places are no leaves).
        std::vector<std::size_t> listStart(count, 0);
        std::size_t lists = 0;
        for (std::size_t n = 0; n < count; ++n) {
            OctreeNode& node = nodes_[n];
            if (node.isLeaf != 0) {
                listStart[n] = lists;
                node.first = static_cast<std::uint32_t>(lists);
                lists += node.triangleCount;
            }
        }
        if (9 * lists + 3 > UINT32_MAX) {
            throw std::bad_alloc();  // word indices are 32-bit
        }
        tree_.traversal_.resize((count + 7) / 8);
        tree_.leafData_.resize(9 * lists + 3);
        std::fill(tree_.leafData_.end() - 3, tree_.leafData_.end(), 0.0f);
        tree_.positions_.resize(lists);
        tbb::parallel_for(tbb::blocked_range<std::size_t>(0, count, 256),
                          [&](const tbb::blocked_range<std::size_t>& r) {
                              for (std::size_t n = r.begin(); n != r.end(); ++n) {
                                  const OctreeNode& node = nodes_[n];
                                  tree_.traversal_[n / 8].node[n % 8] = {
                                      node.first,
                                      node.isLeaf != 0 ? node.triangleCount : kInnerNode};
                                  if (node.isLeaf != 0) {
                                      FillLeaf(node, listStart[n]);
                                  }
                              }
                          });
        tree_.stats_.nodes = nodeCount_;
        tree_.stats_.references = lists;
    }

    void FillLeaf(const OctreeNode& leaf, std::size_t listStart) {
        const std::size_t n = leaf.triangleCount;
        float* data = tree_.leafData_.data() + 9 * std::size_t{leaf.first};
        std::uint32_t* positions = tree_.positions_.data() + leaf.first;
        for (std::size_t k = 0; k < n; ++k) {
            std::uint32_t position = leafLists_[listStart + k];
            const std::array<Vec3, 3>& c = corners_[position];
            Vec3 e1 = c[1] - c[0];
            Vec3 e2 = c[2] - c[0];
            for (int a = 0; a < 3; ++a) {
                data[static_cast<std::size_t>(a) * n + k] = c[0][a];
                data[static_cast<std::size_t>(3 + a) * n + k] = e1[a];
                data[static_cast<std::size_t>(6 + a) * n + k] = e2[a];
            }
            positions[k] = position;
        }
    }

    Octree& tree_;
    HugePageVector<OctreeNode>& nodes_;  // the tree's own, written as the build goes
    Budget budget_;
    const std::atomic<bool>* cancel_;
    WorkingVector<std::array<Vec3, 3>> corners_;
    WorkingVector<std::uint32_t> level_;      // the lists of the depth being decided
    WorkingVector<std::uint32_t> spare_;      // the next depth's lists, while they are made
    WorkingVector<std::uint8_t> masks_;       // per entry of level_: the children listing it
    WorkingVector<std::uint32_t> leafLists_;  // the leaves' lists, depth by depth
    std::vector<Slice> slices_;
    std::vector<Pending> pending_;  // the nodes of the depth being decided
    std::vector<Pending> next_;
    std::vector<Wanting> wanting_;
    std::vector<Outcome> outcomes_;  // per pending node
    std::size_t nodeCount_ = 1;
    std::size_t live_ = 0;  // references in the leaves' and the undecided nodes' lists
};

Octree::Octree() {
    Clear();
}

void Octree::Clear() {
    nodes_ = {};
    traversal_ = {};
    leafData_ = {};
    positions_ = {};
    triangles_ = {};
    stamps_ = {};
    stats_ = {};
    OctreeNode root;
    root.boxMin = kRootBoxMin;
    root.boxMax = kRootBoxMax;
    root.center = (kRootBoxMin + kRootBoxMax) * 0.5f;
    root.isLeaf = 1;
    nodes_.push_back(root);
    traversal_.emplace_back();
    traversal_.front().node[0] = {0, 0};
    stats_.nodes = 1;
    stats_.leaves = 1;
}

bool Octree::Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics, Budget budget,
                   const std::atomic<bool>* cancel) {
    Clear();
    // The root's own list holds every triangle: a scene of more triangles
    // than the budget's references could then never split at all. It may
    // always hold its list plus a quarter of the budget for the triangles
    // that straddle split planes.
    budget.maxReferences =
        std::max(budget.maxReferences, triangles.size() + budget.maxReferences / 4);
    try {
        if (triangles.size() > UINT32_MAX) {
            throw std::bad_alloc();  // indices are 32-bit
        }
        triangles_ = triangles;
        stamps_.assign(triangles.size(), 0);
        nodes_.front().isLeaf = 0;
        stats_.leaves = 0;
        Builder builder(*this, budget, cancel);
#ifdef LUMENO_THREAD_SANITIZER
        // One thread: the task library's hand-offs are invisible to the
        // sanitizer (see base/thread_sanitizer.h).
        tbb::task_arena serial(1);
        serial.execute([&] { builder.Run(); });
#else
        builder.Run();
#endif

    } catch (const Builder::Cancelled&) {
        Clear();
        return false;
    } catch (const std::bad_alloc&) {
        Clear();
        if (diagnostics != nullptr) {
            diagnostics->Add("octree", 0,
                             "out of memory while indexing " + std::to_string(triangles.size()) +
                                 " triangles; the scene is not prepared and rays hit nothing");
        }
        return false;
    }
    if (stats_.budgetSpent && diagnostics != nullptr) {
        diagnostics->Add("octree", 0,
                         "the index reached its memory limit (" + std::to_string(budget.maxNodes) +
                             " nodes, " + std::to_string(budget.maxReferences) +
                             " triangle references): " + std::to_string(stats_.leavesCutShort) +
                             " leaves were left unsplit, the largest holding " +
                             std::to_string(stats_.largestCutShort) +
                             " triangles, so rays through them test more triangles");
    }
    return true;
}

std::vector<const Triangle*> Octree::TrianglesOf(const OctreeNode& leaf) const {
    std::vector<const Triangle*> list;
    if (leaf.isLeaf == 0) {
        return list;
    }
    for (std::uint32_t k = 0; k < leaf.triangleCount; ++k) {
        list.push_back(triangles_[positions_[leaf.first + k]]);
    }
    return list;
}

std::size_t Octree::MemoryBytes() const {
    return nodes_.size() * sizeof(OctreeNode) + traversal_.size() * sizeof(TraversalGroup) +
           leafData_.size() * sizeof(float) + positions_.size() * sizeof(std::uint32_t) +
           triangles_.size() * sizeof(Triangle*) + stamps_.size() * sizeof(std::uint16_t);
}

}  // namespace lumeno
