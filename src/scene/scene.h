// Scene: the render-time world. It owns the triangles of the last scene load
// in two lists (objectTriangles, which rays can hit, and lightTriangles, read
// from light blocks and never rendered) and the camera. Materials and textures live in the MTL
// reader's tables instead, since they outlive scene loads.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

#include "scene/camera.h"
#include "scene/triangle.h"

namespace lumeno {

// Stable storage for the triangles of one scene load, allocated in large
// chunks so that a million-triangle mesh costs a few hundred allocations.
// Whatever refers to the triangles (an octree, a render pass) holds the
// store, so a later load never frees triangles under a reader's feet.
class TriangleStore {
  public:
    TriangleStore() = default;
    TriangleStore(const TriangleStore&) = delete;
    TriangleStore& operator=(const TriangleStore&) = delete;
    ~TriangleStore();

    // Copies triangle in, or adds a default one for the caller to fill in;
    // the returned address stays valid for the store's life. Throws
    // std::bad_alloc when memory runs out.
    Triangle* Add(const Triangle& triangle);
    Triangle* Add();
    std::size_t Size() const { return size_; }
    const Triangle& At(std::size_t i) const { return chunks_[i / kChunkSize][i % kChunkSize]; }

  private:
    void* NextSlot();

    // 4 MiB chunks on 2 MiB boundaries, so the kernel can back them with huge
    // pages: a large mesh then costs few page faults.
    static constexpr std::size_t kChunkBytes = std::size_t{4} << 20;
    static constexpr std::size_t kChunkSize = kChunkBytes / sizeof(Triangle);
    std::vector<Triangle*> chunks_;
    std::size_t size_ = 0;
};

enum class TriangleList { Object, Light };

struct Scene {
    Scene();

    // Empties both lists and starts a fresh store (the start of a scene load).
    void ClearTriangles();
    // Copies triangle into the store and appends its reference to a list.
    void Append(TriangleList list, const Triangle& triangle);
    // Appends a default triangle, which the caller then fills in where it
    // lies (a reader building a triangle saves copying it).
    Triangle* AppendDefault(TriangleList list);

    std::vector<Triangle*> objectTriangles;
    std::vector<Triangle*> lightTriangles;
    std::shared_ptr<TriangleStore> triangleStore;
    Camera camera;
};

}  // namespace lumeno
