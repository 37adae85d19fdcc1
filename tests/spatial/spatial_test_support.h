// Triangle soups for the octree and ray-query tests: triangles made the way
// the OBJ reader makes them (face frame, no vertex normals unless given),
// kept at stable addresses, with the reference list the octree is built from.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "scene/material.h"
#include "scene/triangle.h"
#include "spatial/octree.h"

namespace lumeno::testing {

inline Triangle MakeTriangle(Vec3 p0, Vec3 p1, Vec3 p2, const Material* material = nullptr) {
    Triangle t;
    t.p0 = p0;
    t.p1 = p1;
    t.p2 = p2;
    t.normal0.x = kNoVertexNormals;
    t.material = material;
    ComputeFaceFrame(t);
    return t;
}

class Soup {
  public:
    // Adds a triangle with a material of its own, so that a hit tells which
    // triangle it came from.
    Triangle& Add(Vec3 p0, Vec3 p1, Vec3 p2) {
        materials_.push_back(std::make_unique<Material>());
        storage_.push_back(MakeTriangle(p0, p1, p2, materials_.back().get()));
        list.push_back(&storage_.back());
        return storage_.back();
    }
    // A small triangle (edges of `size`) with its first corner at p.
    Triangle& AddSmall(Vec3 p, float size = 0.5f) {
        return Add(p, p + Vec3{size, 0, 0}, p + Vec3{0, size, 0});
    }
    const Triangle& At(std::size_t i) const { return *list[i]; }

    std::vector<Triangle*> list;

  private:
    std::deque<Triangle> storage_;
    std::vector<std::unique_ptr<Material>> materials_;
};

// Ten small triangles outside the root box: with one more triangle anywhere
// the root is split, and no child keeps them.
inline void AddFiller(Soup& soup, int count = 10) {
    for (int i = 0; i < count; ++i) {
        soup.AddSmall({300.0f + static_cast<float>(i), 0.0f, 0.0f});
    }
}

}  // namespace lumeno::testing
