#include "scene/scene.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>
#include <type_traits>

namespace lumeno {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

TriangleStore::~TriangleStore() {
    for (Triangle* chunk : chunks_) {
        std::free(chunk);  // Triangle is trivially destructible
    }
}

void* TriangleStore::NextSlot() {
    static_assert(std::is_trivially_destructible_v<Triangle>);
    static_assert(std::is_trivially_copyable_v<Triangle>);
    if (size_ % kChunkSize == 0) {
        chunks_.reserve(chunks_.size() + 1);
        void* memory = std::aligned_alloc(kHugePage, kChunkBytes);
        if (memory == nullptr) {
            throw std::bad_alloc();
        }
        madvise(memory, kChunkBytes, MADV_HUGEPAGE);
        chunks_.push_back(static_cast<Triangle*>(memory));
    }
    return chunks_.back() + size_++ % kChunkSize;
}

Triangle* TriangleStore::Add(const Triangle& triangle) {
    return new (NextSlot()) Triangle(triangle);
}

Triangle* TriangleStore::Add() {
    return new (NextSlot()) Triangle;
}

Scene::Scene() : triangleStore(std::make_shared<TriangleStore>()) {}

void Scene::ClearTriangles() {
    objectTriangles.clear();
    lightTriangles.clear();
    triangleStore = std::make_shared<TriangleStore>();
}

void Scene::Append(TriangleList list, const Triangle& triangle) {
    Triangle* stored = triangleStore->Add(triangle);
    if (list == TriangleList::Object) {
        objectTriangles.push_back(stored);
    } else {
        lightTriangles.push_back(stored);
    }
}

Triangle* Scene::AppendDefault(TriangleList list) {
    Triangle* stored = triangleStore->Add();
    if (list == TriangleList::Object) {
        objectTriangles.push_back(stored);
    } else {
        lightTriangles.push_back(stored);
    }
    return stored;
}

}  // namespace lumeno
