// Octree: the spatial index over the scene's hittable triangles, and the two
// ray queries the light transport asks of the geometry (nearest hit and
// occlusion).
//
// The tree covers a fixed world box, (−100, −100, −40) to (100, 100, 220),
// whatever the scene. A node is split at the centre of its box while it holds
// more than 10 triangles and is no deeper than 15; a triangle that touches
// several children is listed in each, never copied or clipped. The queries
// walk the tree front to back and stop at the first leaf that accepts a hit.
// Build decides one depth at a time on oneTBB tasks; the tree does not depend
// on the number of threads.
//
// Layout: the nodes live in one array (the eight children of a node are
// neighbours), with a compact copy of what the walk down the tree reads. Each
// leaf's triangles are stored together, in list order, as the corner and
// edges the ray test reads, coordinate by coordinate so that SSE loads four
// triangles at once, with each triangle's position in the built list. The
// full Triangle is read only for a triangle the ray meets.
//
// Two query modes share one built tree:
// - exact (FindNearestHit, IsOccluded): takes a number from queryCounter and
//   stamps every triangle it meets with it, so that a triangle listed in
//   several leaves is tested once per query. Single-threaded; the stamps also
//   decide, in rare cases, that a farther hit is reported. Stamps are 16 bits,
//   kept in an array beside the triangles (see Stamps), and stop matching once
//   the counter passes 65,535.
// - parallel (the ...Parallel operations): neither reads nor writes the
//   counter or the stamps, so any number of threads may query one tree. It
//   gives the exact mode's answer for every query numbered above 65,535.
// Neither mode allocates; the walk keeps at most 49 nodes on its stack.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "scene/diagnostics.h"
#include "scene/triangle.h"
#include "spatial/huge_page_allocator.h"
#include "spatial/ray.h"
#include "spatial/triangle_intersection.h"

namespace lumeno {

inline constexpr Vec3 kRootBoxMin{-100.0f, -100.0f, -40.0f};
inline constexpr Vec3 kRootBoxMax{100.0f, 100.0f, 220.0f};
// Deepest node that may still be split (leaves reach depth 16).
inline constexpr int kMaxSplitDepth = 15;
// Most triangles a node keeps without being split.
inline constexpr std::size_t kMaxLeafTriangles = 10;
// What the queries let count, whichever index answers them: a hit nearer
// than the leaf search bound, whose point lies within the tolerance of a
// leaf's box; occlusion stops this much short of its target.
inline constexpr float kLeafSearchBound = 1e9f;
inline constexpr float kLeafBoxTolerance = 1e-7f;
inline constexpr float kOcclusionShortening = 0.001f;

struct OctreeNode {
    Vec3 boxMin;  // the node's box is closed: points on its faces belong to it
    Vec3 boxMax;
    Vec3 center;  // (boxMin + boxMax) · 0.5
    // Inner node: index of child 0 (child i is at first + i).
    // Leaf: index of its first triangle reference.
    std::uint32_t first = 0;
    std::uint32_t triangleCount = 0;  // leaves only
    std::int16_t depth = 0;
    std::uint8_t isLeaf = 0;
};

// The overlap test for a triangle none of whose corners lies in the closed
// box [lo, hi]: true when an edge pierces a face (within 1e-6 of the box's
// extent beyond the rim), a box edge pierces the triangle, or the triangle
// lies in one of the box's face planes and overlaps that face.
bool TriangleOverlapsBox(Vec3 p0, Vec3 p1, Vec3 p2, Vec3 lo, Vec3 hi);

class Octree {
  public:
    // Bounds the memory of a build. The nodes made and the triangle references
    // held in lists (of the leaves and of the nodes still to be decided) are
    // counted. The build decides one depth at a time: when all of a depth's
    // splits fit they are all made, so a tree within the budget is exactly
    // the unbounded one; otherwise the nodes with the longest lists are split
    // while the budget lasts and the others stay leaves, cut short.
    struct Budget {
        std::size_t maxNodes;
        std::size_t maxReferences;
    };
    // 8M nodes (448 MiB with their traversal copies) and 32M references
    // (1.25 GiB: each holds a copy of its triangle's corner and edges): room
    // for meshes of several million triangles, while a pathological scene
    // stops well short of exhausting memory.
    static constexpr Budget kDefaultBudget{std::size_t{1} << 23, std::size_t{1} << 25};

    struct BuildStats {
        std::size_t nodes = 0;
        std::size_t leaves = 0;
        std::size_t references = 0;  // entries of all leaf lists
        int maxDepth = 0;
        // Nodes left as leaves with more than 10 triangles because the budget
        // was spent (0 for every tree that fits), and the longest such list.
        std::size_t leavesCutShort = 0;
        std::size_t largestCutShort = 0;
        bool budgetSpent = false;
    };

    Octree();

    // Discards the previous tree and builds one over triangles, which must
    // outlive the tree (or the next Build or Clear). Returns false when memory
    // runs out: the tree is then empty, every query misses, and a diagnostic
    // says why. A spent budget is reported too, but the build succeeds.
    // When *cancel becomes true the build stops soon after (between slices of
    // a few thousand references) and returns false with an empty tree and no
    // diagnostic.
    bool Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics = nullptr,
               Budget budget = kDefaultBudget, const std::atomic<bool>* cancel = nullptr);

    // Empties the tree: a root leaf with the fixed box and no triangles.
    void Clear();

    // Exact mode. The first triangle the ray meets (distance, point, normal,
    // frame, texture coordinates, material, side) goes into hit.
    bool FindNearestHit(const Ray& ray, HitRecord& hit);
    // Exact mode. Whether a triangle lies on the segment from ray.origin
    // towards target (shortened by 0.001); ray.direction must point at target.
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit);

    // Parallel mode: the same queries without the counter and the stamps.
    bool FindNearestHitParallel(const Ray& ray, HitRecord& hit) const;
    bool IsOccludedParallel(Vec3 target, const Ray& ray, HitRecord& hit) const;

    const OctreeNode& Root() const { return nodes_.front(); }
    // Child i (0 … 7) of an inner node.
    const OctreeNode& Child(const OctreeNode& node, int i) const {
        return nodes_[node.first + static_cast<std::uint32_t>(i)];
    }
    // A leaf's triangles, in list order.
    std::vector<const Triangle*> TrianglesOf(const OctreeNode& leaf) const;
    const BuildStats& Stats() const { return stats_; }
    // Bytes of memory the tree's arrays fill. Room reserved for growth that
    // the build did not use is not counted: it holds address space, not
    // memory.
    std::size_t MemoryBytes() const;

    // Number the next exact query takes; starts at 1, never reset, wraps
    // around like a 32-bit two's-complement integer.
    std::int32_t queryCounter = 1;

    // The exact mode's other state, for saving and restoring it with
    // queryCounter: one stamp per triangle of the list given to Build, at the
    // triangle's position in that list (a triangle listed twice has two). A
    // stamp holds the low 16 bits of the number of the last exact query that
    // met the triangle; Build sets every stamp to 0. Restoring queryCounter
    // and the stamps after a Build over the same list lets the exact mode go
    // on bit for bit. The parallel mode neither reads nor writes them.
    std::span<std::uint16_t> Stamps() { return stamps_; }
    std::span<const std::uint16_t> Stamps() const { return stamps_; }

  private:
    struct Traversal;
    class Builder;

    // What the traversal reads of a node, side by side with nodes_ (same
    // index): eight bytes, so that a walk down the tree touches few cache
    // lines. The leaf's box, needed only when a triangle is hit, and the
    // centre, needed only for rays parallel to an axis, stay in nodes_.
    struct TraversalNode {
        std::uint32_t first;  // inner: index of child 0; leaf: its first reference
        std::uint32_t count;  // leaf: number of triangles; inner: kInnerNode
    };
    static constexpr std::uint32_t kInnerNode = UINT32_MAX;
    // Node i is node[i % 8] of group i / 8: eight siblings share a cache line.
    struct alignas(64) TraversalGroup {
        TraversalNode node[8];
    };

    template <bool kExact>
    bool Query(HitRecord& hit, std::uint16_t* stamps) const;
    template <bool kExact>
    bool Traverse(float tx0, float ty0, float tz0, float tx1, float ty1, float tz1,
                  const Traversal& traversal, HitRecord& hit) const;
    template <bool kExact>
    bool LeafTest(std::uint32_t index, TraversalNode node, const Traversal& traversal,
                  HitRecord& hit) const;

    HugePageVector<OctreeNode> nodes_;
    HugePageVector<TraversalGroup> traversal_;
    // Each leaf's triangles, from reference `first` on: in leafData_, nine
    // runs of one float per triangle in list order, from word 9 · first (the
    // corner p0's x, y and z, then those of the edges e1 and e2), so that a
    // leaf of n triangles holds p0.y of its k-th triangle at 9 · first + n + k;
    // in positions_, each triangle's position in the built list. The ray test
    // loads four triangles of a run at once, reading past a leaf's last one
    // into its next run (those lanes are ignored), so the data ends with three
    // zero words.
    HugePageVector<float> leafData_;
    HugePageVector<std::uint32_t> positions_;
    std::vector<Triangle*> triangles_;   // the built list, in its order
    std::vector<std::uint16_t> stamps_;  // the exact mode's, by position
    BuildStats stats_;
};

}  // namespace lumeno
