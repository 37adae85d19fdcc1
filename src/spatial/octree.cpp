#include "spatial/octree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <new>
#include <string>
#include <utility>

namespace lumeno {

namespace {

constexpr float kFaceTolerance = 1e-6f;  // of the box's extent on the axis
constexpr float kMinEdgeExtent = 1e-8f;

bool CornerInBox(Vec3 c, Vec3 lo, Vec3 hi) {
    return lo.x <= c.x && c.x <= hi.x && lo.y <= c.y && c.y <= hi.y && lo.z <= c.z && c.z <= hi.z;
}

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

// The point P lies on the face of axis a, within the tolerance e on the two
// other axes.
bool OnFace(Vec3 p, int a, Vec3 lo, Vec3 hi, Vec3 e) {
    for (int b = 0; b < 3; ++b) {
        if (b == a) {
            continue;
        }
        if (!(lo[b] - e[b] <= p[b] && p[b] <= hi[b] + e[b])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool TriangleOverlapsBox(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 lo, Vec3 hi) {
    const std::array<Vec3, 3> p{p0, p1, p2};
    Vec3 mn;
    Vec3 mx;
    for (int a = 0; a < 3; ++a) {
        mn[a] = std::min({p0[a], p1[a], p2[a]});
        mx[a] = std::max({p0[a], p1[a], p2[a]});
    }
    // Boxes are closed: a triangle lying in a face plane touches the box where
    // it overlaps the face. The extent test below cannot see it (it has no
    // extent across the plane), and a floor in a split plane would otherwise
    // be missing from every leaf that holds none of its corners.
    for (int a = 0; a < 3; ++a) {
        if (mn[a] == mx[a] && (mn[a] == lo[a] || mn[a] == hi[a])) {
            return TriangleOverlapsFace(p, a, lo, hi);
        }
    }
    for (int a = 0; a < 3; ++a) {
        if (!(mn[a] < hi[a] && mx[a] > lo[a])) {
            return false;
        }
    }
    Vec3 e;
    for (int a = 0; a < 3; ++a) {
        e[a] = (hi[a] - lo[a]) * kFaceTolerance;
    }

    // Edge pass: edges that pierce a face. Points where an edge meets a face
    // plane outside the face are kept per face (first two only) for the face
    // pass, since they lie on the triangle's cut through that plane.
    std::array<std::array<Vec3, 2>, 6> facePoints{};
    std::array<int, 6> faceCount{};
    auto keep = [&](int face, Vec3 point) {
        int& count = faceCount[static_cast<std::size_t>(face)];
        if (count < 2) {
            facePoints[static_cast<std::size_t>(face)][static_cast<std::size_t>(count)] = point;
        }
        ++count;
    };
    const std::array<std::pair<int, int>, 3> edges{{{0, 1}, {1, 2}, {0, 2}}};
    for (auto [first, second] : edges) {
        Vec3 a0 = p[static_cast<std::size_t>(first)];
        Vec3 a1 = p[static_cast<std::size_t>(second)];
        for (int a = 0; a < 3; ++a) {
            Vec3 s = a0[a] > a1[a] ? a1 : a0;
            Vec3 en = a0[a] > a1[a] ? a0 : a1;
            float l = s[a];
            float h = en[a];
            Vec3 d = en - s;
            if (!(h >= lo[a] && l <= hi[a] && std::fabs(l - h) > kMinEdgeExtent)) {
                continue;
            }
            if (l <= lo[a]) {
                float t = (lo[a] - l) / (h - l);
                Vec3 point = s + t * d;
                if (OnFace(point, a, lo, hi, e)) {
                    return true;
                }
                keep(2 * a, point);
            }
            if (h >= hi[a]) {
                float t = (hi[a] - l) / (h - l);
                Vec3 point = s + t * d;
                if (OnFace(point, a, lo, hi, e)) {
                    return true;
                }
                keep(2 * a + 1, point);
            }
        }
    }

    // Face pass: box edges that pierce the triangle, seen as the triangle's
    // cut through a face plane crossing one of the face's boundary lines.
    // In-plane axes per face axis: z then y, z then x, x then y.
    const std::array<std::array<int, 2>, 3> inPlane{{{2, 1}, {2, 0}, {0, 1}}};
    for (int face = 0; face < 6; ++face) {
        if (faceCount[static_cast<std::size_t>(face)] < 2) {
            continue;
        }
        Vec3 q0 = facePoints[static_cast<std::size_t>(face)][0];
        Vec3 q1 = facePoints[static_cast<std::size_t>(face)][1];
        const auto& axes = inPlane[static_cast<std::size_t>(face / 2)];
        for (int k = 0; k < 2; ++k) {
            int b = axes[static_cast<std::size_t>(k)];
            int c = axes[static_cast<std::size_t>(1 - k)];
            if (q0[b] > q1[b]) {
                std::swap(q0, q1);
            }
            float span = q1[b] - q0[b];
            if (span == 0.0f) {
                continue;  // parallel to both boundary lines of this axis
            }
            for (float m : {lo[b], hi[b]}) {
                float t = (m - q0[b]) / span;
                Vec3 q = q0 + t * (q1 - q0);
                if (0.0f <= t && t <= 1.0f && lo[c] <= q[c] && q[c] <= hi[c]) {
                    return true;
                }
            }
        }
    }
    return false;
}

// The depth-first build. Lists are runs of triangle indices into the built
// list; each node's list keeps its parent's order.
class Octree::Builder {
  public:
    Builder(Octree& tree, Budget budget) : tree_(tree), budget_(budget) {}

    void Run() {
        const std::vector<Triangle*>& triangles = tree_.triangles_;
        corners_.reserve(triangles.size());
        for (const Triangle* t : triangles) {
            corners_.push_back({t->p0, t->p1, t->p2});
        }
        std::vector<std::uint32_t> rootList(triangles.size());
        for (std::size_t i = 0; i < rootList.size(); ++i) {
            rootList[i] = static_cast<std::uint32_t>(i);
        }
        live_ = rootList.size();
        Subdivide(0, std::move(rootList));
    }

  private:
    void MakeLeaf(std::uint32_t index, const std::vector<std::uint32_t>& list) {
        OctreeNode& node = tree_.nodes_[index];
        node.isLeaf = 1;
        node.first = static_cast<std::uint32_t>(tree_.references_.size());
        node.triangleCount = static_cast<std::uint32_t>(list.size());
        tree_.references_.insert(tree_.references_.end(), list.begin(), list.end());
        BuildStats& stats = tree_.stats_;
        ++stats.leaves;
        stats.maxDepth = std::max(stats.maxDepth, static_cast<int>(node.depth));
    }

    // Fills the eight children's lists; false when the reference budget
    // would be exceeded (the partial lists are then dropped).
    bool Classify(const OctreeNode& node, const std::vector<std::uint32_t>& list,
                  std::array<std::vector<std::uint32_t>, 8>& childLists,
                  std::array<std::pair<Vec3, Vec3>, 8>& boxes) {
        for (int i = 0; i < 8; ++i) {
            Vec3 lo;
            Vec3 hi;
            for (int a = 0; a < 3; ++a) {
                bool upper = (i & (4 >> a)) != 0;
                lo[a] = upper ? node.center[a] : node.boxMin[a];
                hi[a] = upper ? node.boxMax[a] : node.center[a];
            }
            boxes[static_cast<std::size_t>(i)] = {lo, hi};
            std::vector<std::uint32_t>& out = childLists[static_cast<std::size_t>(i)];
            for (std::uint32_t ref : list) {
                const std::array<Vec3, 3>& c = corners_[ref];
                if (CornerInBox(c[0], lo, hi) || CornerInBox(c[1], lo, hi) ||
                    CornerInBox(c[2], lo, hi) || TriangleOverlapsBox(c[0], c[1], c[2], lo, hi)) {
                    if (live_ >= budget_.maxReferences) {
                        for (auto& partial : childLists) {
                            live_ -= partial.size();
                            partial = {};
                        }
                        return false;
                    }
                    out.push_back(ref);
                    ++live_;
                }
            }
        }
        return true;
    }

    void Subdivide(std::uint32_t index, std::vector<std::uint32_t> list) {
        OctreeNode node = tree_.nodes_[index];
        bool wantsSplit = node.depth <= kMaxSplitDepth && list.size() > kMaxLeafTriangles;
        if (!wantsSplit) {
            MakeLeaf(index, list);
            return;
        }
        std::array<std::vector<std::uint32_t>, 8> childLists;
        std::array<std::pair<Vec3, Vec3>, 8> boxes;
        bool fits = !tree_.stats_.budgetSpent && tree_.nodes_.size() + 8 <= budget_.maxNodes &&
                    Classify(node, list, childLists, boxes);
        if (!fits) {
            tree_.stats_.budgetSpent = true;
            ++tree_.stats_.leavesCutShort;
            MakeLeaf(index, list);
            return;
        }
        auto firstChild = static_cast<std::uint32_t>(tree_.nodes_.size());
        for (int i = 0; i < 8; ++i) {
            const auto& [lo, hi] = boxes[static_cast<std::size_t>(i)];
            OctreeNode child;
            child.boxMin = lo;
            child.boxMax = hi;
            child.center = (lo + hi) * 0.5f;
            child.depth = static_cast<std::int16_t>(node.depth + 1);
            tree_.nodes_.push_back(child);
        }
        tree_.nodes_[index].first = firstChild;
        live_ -= list.size();
        list = {};  // an inner node keeps no list
        for (std::uint32_t i = 0; i < 8; ++i) {
            Subdivide(firstChild + i, std::move(childLists[i]));
        }
    }

    Octree& tree_;
    Budget budget_;
    std::vector<std::array<Vec3, 3>> corners_;
    std::size_t live_ = 0;  // references held in lists right now
};

Octree::Octree() {
    Clear();
}

void Octree::Clear() {
    nodes_ = {};
    references_ = {};
    triangles_ = {};
    edges_ = {};
    stats_ = {};
    OctreeNode root;
    root.boxMin = kRootBoxMin;
    root.boxMax = kRootBoxMax;
    root.center = (kRootBoxMin + kRootBoxMax) * 0.5f;
    root.isLeaf = 1;
    nodes_.push_back(root);
    stats_.nodes = 1;
    stats_.leaves = 1;
}

bool Octree::Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics,
                   Budget budget) {
    Clear();
    try {
        if (triangles.size() > UINT32_MAX) {
            throw std::bad_alloc();  // indices are 32-bit
        }
        triangles_ = triangles;
        edges_.reserve(triangles.size());
        for (const Triangle* t : triangles) {
            edges_.push_back(EdgesOf(*t));
        }
        nodes_.front().isLeaf = 0;
        stats_.leaves = 0;
        Builder builder(*this, budget);
        builder.Run();
        references_.shrink_to_fit();
        nodes_.shrink_to_fit();
    } catch (const std::bad_alloc&) {
        Clear();
        if (diagnostics != nullptr) {
            diagnostics->Add("octree", 0,
                             "out of memory while indexing " + std::to_string(triangles.size()) +
                                 " triangles; the scene is not prepared and rays hit nothing");
        }
        return false;
    }
    stats_.nodes = nodes_.size();
    stats_.references = references_.size();
    if (stats_.budgetSpent && diagnostics != nullptr) {
        diagnostics->Add("octree", 0,
                         "the index reached its memory limit (" + std::to_string(budget.maxNodes) +
                             " nodes, " + std::to_string(budget.maxReferences) +
                             " triangle references): " + std::to_string(stats_.leavesCutShort) +
                             " nodes stay unsplit leaves, so rays through them test more "
                             "triangles (overlapping copies of a mesh cause this)");
    }
    return true;
}

std::vector<const Triangle*> Octree::TrianglesOf(const OctreeNode& leaf) const {
    std::vector<const Triangle*> list;
    if (leaf.isLeaf == 0) {
        return list;
    }
    for (std::uint32_t k = 0; k < leaf.triangleCount; ++k) {
        list.push_back(triangles_[references_[leaf.first + k]]);
    }
    return list;
}

std::size_t Octree::MemoryBytes() const {
    return nodes_.capacity() * sizeof(OctreeNode) + references_.capacity() * sizeof(std::uint32_t) +
           triangles_.capacity() * sizeof(Triangle*) + edges_.capacity() * sizeof(TriangleEdges);
}

}  // namespace lumeno
