// How a query runs: Embree finds the nearest hit by its own arithmetic, and
// the project's triangle test then judges that hit. Nearly always it agrees
// and the query is done; when it refuses the hit (a triangle met almost
// edge-on, a ray starting on the triangle, a point outside the root box),
// Embree searches again with a filter that puts every hit it proposes before
// the same judge. Occlusion always runs with the filter, so that only hits
// the judge accepts block.
#include "spatial/embree_scene.h"

#include <embree3/rtcore.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "spatial/octree.h"

namespace lumeno {

namespace {

// Embree's interval is widened by this share of its far end (plus as much in
// absolute terms) so that Embree, whose hit distances round differently,
// never drops a hit the project's test would keep at the interval's ends; the
// judge decides those exactly.
constexpr float kIntervalSlack = 1e-4f;

constexpr unsigned kNoPrimitive = RTC_INVALID_GEOMETRY_ID;

// One query's state, reached from the filter through the intersection
// context (which must come first: Embree hands the filter a pointer to it).
struct QueryContext {
    RTCIntersectContext embree;
    const EmbreeScene::Primitive* primitives = nullptr;
    Vec3 origin;
    Vec3 direction;
    // Below 0 the nearest hit is sought; above 0 any hit nearer than this
    // blocks (the octree's leaf test makes the same distinction).
    float maxDistance = -1.0f;
    // The hit kept so far: the nearest by the project's own distance, the
    // later triangle on a tie, as in an octree leaf.
    unsigned primitive = kNoPrimitive;
    EdgeHit hit;
    Vec3 point;
};

// The octree's leaf box test, for the root box: the points a hit may have.
bool InRootBox(Vec3 p) {
    return kRootBoxMin.x - kLeafBoxTolerance <= p.x && p.x <= kRootBoxMax.x + kLeafBoxTolerance &&
           kRootBoxMin.y - kLeafBoxTolerance <= p.y && p.y <= kRootBoxMax.y + kLeafBoxTolerance &&
           kRootBoxMin.z - kLeafBoxTolerance <= p.z && p.z <= kRootBoxMax.z + kLeafBoxTolerance;
}

// Whether the project's triangle test lets a hit on primitive count; if it
// does and is the nearest so far, the query keeps it.
bool JudgeOne(QueryContext& query, unsigned primitive) {
    const EmbreeScene::Primitive& record = query.primitives[primitive];
    // The hit record will read the whole triangle: start fetching it now,
    // while the test runs.
    const char* triangle = reinterpret_cast<const char*>(record.triangle);
    for (std::size_t line = 0; line < sizeof(Triangle); line += 64) {
        __builtin_prefetch(triangle + line);
    }
    EdgeHit g;
    // A hit at distance 0 (the ray starts on the triangle) ends nothing.
    if (!IntersectEdges(record.edges, query.origin, query.direction, 0.0f, kLeafSearchBound, g) ||
        !(g.t > 0.0f && g.t < kLeafSearchBound) ||
        !(query.maxDistance < 0.0f || query.maxDistance > g.t)) {
        return false;
    }
    const Vec3 point = HitPoint(record.edges, g);
    if (!InRootBox(point)) {
        return false;
    }
    if (query.primitive == kNoPrimitive || g.t < query.hit.t ||
        (g.t == query.hit.t && primitive > query.primitive)) {
        query.primitive = primitive;
        query.hit = g;
        query.point = point;
    }
    return true;
}

// Judges Embree's hit on primitive and on every triangle with the same
// corners, which Embree does not report; true when any of them counts.
bool Judge(QueryContext& query, unsigned primitive) {
    bool counts = JudgeOne(query, primitive);
    for (unsigned mate = query.primitives[primitive].mate; mate != primitive;
         mate = query.primitives[mate].mate) {
        counts = JudgeOne(query, mate) || counts;
    }
    return counts;
}

// Puts every hit Embree proposes before the judge.
void FilterHit(const RTCFilterFunctionNArguments* args) {
    auto* query = reinterpret_cast<QueryContext*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != 0 && !Judge(*query, RTCHitN_primID(args->hit, args->N, i))) {
            args->valid[i] = 0;
        }
    }
}

// An interval [tNear, tFar] of the ray that holds its part inside the root
// box (widened by the slack); false when the ray misses the box, leaves it
// behind or does not move. The judge's box test is exact, so the interval
// only has to be generous and cheap: a ray starting inside the box (nearly
// every ray of a render) runs from 0 to a bound on its way out, with neither
// division nor branch.
bool ClipToRootBox(const Ray& ray, float& tNear, float& tFar) {
    const Vec3 o = ray.origin;
    const Vec3 d = ray.direction;
    if (d.x == 0.0f && d.y == 0.0f && d.z == 0.0f) {
        return false;
    }
    const Vec3 below = o - kRootBoxMin;
    const Vec3 above = kRootBoxMax - o;
    if (below.x >= 0.0f && below.y >= 0.0f && below.z >= 0.0f && above.x >= 0.0f &&
        above.y >= 0.0f && above.z >= 0.0f) {
        // The way out is no longer than the sum of the distances to the far
        // faces (the direction is of unit length).
        tNear = 0.0f;
        tFar = std::max(below.x, above.x) + std::max(below.y, above.y) + std::max(below.z, above.z);
        tFar += kIntervalSlack * (1.0f + tFar);
        return true;
    }
    float enter = -std::numeric_limits<float>::infinity();
    float exit = std::numeric_limits<float>::infinity();
    for (int a = 0; a < 3; ++a) {
        if (d[a] == 0.0f) {
            if (!(kRootBoxMin[a] <= o[a] && o[a] <= kRootBoxMax[a])) {
                return false;
            }
            continue;
        }
        const float inverse = 1.0f / d[a];
        const float t0 = (kRootBoxMin[a] - o[a]) * inverse;
        const float t1 = (kRootBoxMax[a] - o[a]) * inverse;
        if (!(t0 == t0 && t1 == t1)) {
            return false;  // not a number
        }
        enter = std::max(enter, std::min(t0, t1));
        exit = std::min(exit, std::max(t0, t1));
    }
    // Like the octree: the box must be crossed, not touched, and not lie
    // wholly behind the origin.
    if (!(enter < exit) || exit < 0.0f) {
        return false;
    }
    const float slack = kIntervalSlack * (1.0f + exit);
    tNear = enter - slack > 0.0f ? enter - slack : 0.0f;
    tFar = exit + slack;
    return true;
}

RTCRay EmbreeRay(const Ray& ray, float tNear, float tFar) {
    RTCRay r;
    r.org_x = ray.origin.x;
    r.org_y = ray.origin.y;
    r.org_z = ray.origin.z;
    r.tnear = tNear;
    r.dir_x = ray.direction.x;
    r.dir_y = ray.direction.y;
    r.dir_z = ray.direction.z;
    r.time = 0.0f;
    r.tfar = tFar;
    r.mask = ~0u;
    r.id = 0;
    r.flags = 0;
    return r;
}

void StartQuery(QueryContext& query, const EmbreeScene::Primitive* primitives, const Ray& ray,
                float maxDistance) {
    rtcInitIntersectContext(&query.embree);
    query.primitives = primitives;
    query.origin = ray.origin;
    query.direction = ray.direction;
    query.maxDistance = maxDistance;
}

// The nearest hit that counts within [tNear, tFar], into query.
void SearchNearest(RTCScene scene, QueryContext& query, const Ray& ray, float tNear, float tFar) {
    RTCRayHit rayHit;
    rayHit.ray = EmbreeRay(ray, tNear, tFar);
    rayHit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rayHit.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene, &query.embree, &rayHit);
    if (rayHit.hit.geomID == RTC_INVALID_GEOMETRY_ID || Judge(query, rayHit.hit.primID)) {
        return;
    }
    // Refused: search again, judging every hit on the way.
    query.embree.filter = FilterHit;
    rayHit.ray = EmbreeRay(ray, tNear, tFar);
    rayHit.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(scene, &query.embree, &rayHit);
}

// Links the primitives with the same three corners, in whatever order they
// are given, into rings through mate (a lone primitive is its own mate).
void LinkMates(std::vector<EmbreeScene::Primitive>& primitives) {
    using Key = std::array<std::uint32_t, 9>;
    auto keyOf = [&](const EmbreeScene::Primitive& p) {
        const Triangle& t = *p.triangle;
        std::array<std::array<std::uint32_t, 3>, 3> corners;
        int k = 0;
        for (const Vec3& c : {t.p0, t.p1, t.p2}) {
            // +0 for −0: the same corner.
            corners[k++] = {std::bit_cast<std::uint32_t>(c.x + 0.0f),
                            std::bit_cast<std::uint32_t>(c.y + 0.0f),
                            std::bit_cast<std::uint32_t>(c.z + 0.0f)};
        }
        std::sort(corners.begin(), corners.end());
        Key key;
        for (int i = 0; i < 9; ++i) {
            key[static_cast<std::size_t>(i)] =
                corners[static_cast<std::size_t>(i / 3)][static_cast<std::size_t>(i % 3)];
        }
        return key;
    };
    auto hashOf = [](const Key& key) {
        std::uint64_t h = 1469598103934665603ull;
        for (std::uint32_t word : key) {
            h = (h ^ word) * 1099511628211ull;
        }
        return h;
    };
    std::vector<std::pair<std::uint64_t, std::uint32_t>> order(primitives.size());
    for (std::size_t i = 0; i < primitives.size(); ++i) {
        primitives[i].mate = static_cast<std::uint32_t>(i);
        order[i] = {hashOf(keyOf(primitives[i])), static_cast<std::uint32_t>(i)};
    }
    std::sort(order.begin(), order.end());
    for (std::size_t run = 0; run < order.size();) {
        std::size_t end = run + 1;
        while (end < order.size() && order[end].first == order[run].first) {
            ++end;
        }
        // Within a run of one hash, link each primitive to the next one (in
        // index order) with its very corners, closing each ring.
        for (std::size_t a = run; a < end; ++a) {
            EmbreeScene::Primitive& first = primitives[order[a].second];
            if (first.mate != order[a].second) {
                continue;  // already in a ring
            }
            const Key key = keyOf(first);
            std::uint32_t last = order[a].second;
            for (std::size_t b = a + 1; b < end; ++b) {
                std::uint32_t candidate = order[b].second;
                if (primitives[candidate].mate == candidate &&
                    keyOf(primitives[candidate]) == key) {
                    primitives[last].mate = candidate;
                    last = candidate;
                }
            }
            primitives[last].mate = order[a].second;
        }
        run = end;
    }
}

std::string ErrorText(RTCError error) {
    switch (error) {
        case RTC_ERROR_OUT_OF_MEMORY:
            return "out of memory";
        case RTC_ERROR_UNSUPPORTED_CPU:
            return "this processor is not supported";
        case RTC_ERROR_CANCELLED:
            return "cancelled";
        default:
            return "error code " + std::to_string(static_cast<int>(error));
    }
}

}  // namespace

EmbreeScene::~EmbreeScene() {
    Clear();
    if (device_ != nullptr) {
        rtcReleaseDevice(device_);
    }
}

void EmbreeScene::Clear() {
    if (scene_ != nullptr) {
        rtcReleaseScene(scene_);
        scene_ = nullptr;
    }
    primitives_ = {};
}

bool EmbreeScene::Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics,
                        const std::atomic<bool>* cancel) {
    Clear();
    auto fail = [&](const std::string& why) {
        if (diagnostics != nullptr) {
            diagnostics->Add("embree", 0, "cannot build the ray-query scene: " + why);
        }
        Clear();
        return false;
    };
    if (device_ == nullptr) {
        device_ = rtcNewDevice("verbose=0");
        if (device_ == nullptr) {
            return fail(ErrorText(rtcGetDeviceError(nullptr)));
        }
    }
    (void)rtcGetDeviceError(device_);  // forget any earlier error
    const std::size_t count = triangles.size();
    if (count > std::numeric_limits<unsigned>::max() / 3) {
        return fail("too many triangles");
    }
    try {
        primitives_.resize(count);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
    for (std::size_t i = 0; i < count; ++i) {
        primitives_[i] = {EdgesOf(*triangles[i]), static_cast<std::uint32_t>(i), triangles[i]};
    }
    try {
        LinkMates(primitives_);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }

    RTCScene scene = rtcNewScene(device_);
    if (scene == nullptr) {
        return fail(ErrorText(rtcGetDeviceError(device_)));
    }
    // Robust: no traversal shortcut that trades accuracy for speed, so that
    // Embree does not lose hits along shared edges and at the interval's
    // ends, which the octree (testing every listed triangle exactly) finds.
    // The context filter is the judge of the searches that need it. High
    // quality: the scene is built once per load and then answers every ray of
    // every pass, so a slower build that traverses faster pays for itself.
    rtcSetSceneFlags(scene, RTC_SCENE_FLAG_ROBUST | RTC_SCENE_FLAG_CONTEXT_FILTER_FUNCTION);
    rtcSetSceneBuildQuality(scene, RTC_BUILD_QUALITY_HIGH);
    if (cancel != nullptr) {
        // Embree asks this now and then while it builds; false calls it off.
        rtcSetSceneProgressMonitorFunction(
            scene,
            [](void* flag, double) {
                return !static_cast<const std::atomic<bool>*>(flag)->load(
                    std::memory_order_relaxed);
            },
            const_cast<std::atomic<bool>*>(cancel));
    }
    if (count > 0) {
        RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        if (geometry != nullptr) {
            rtcSetGeometryBuildQuality(geometry, RTC_BUILD_QUALITY_HIGH);
            auto* corners = static_cast<float*>(
                rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                        3 * sizeof(float), 3 * count));
            auto* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
                geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), count));
            if (corners != nullptr && indices != nullptr) {
                for (std::size_t i = 0; i < count; ++i) {
                    const Triangle& t = *triangles[i];
                    for (const Vec3& p : {t.p0, t.p1, t.p2}) {
                        *corners++ = p.x;
                        *corners++ = p.y;
                        *corners++ = p.z;
                    }
                    for (unsigned k = 0; k < 3; ++k) {
                        indices[3 * i + k] = static_cast<unsigned>(3 * i + k);
                    }
                }
            }
            rtcCommitGeometry(geometry);
            rtcAttachGeometry(scene, geometry);
            rtcReleaseGeometry(geometry);
        }
    }
    rtcCommitScene(scene);
    RTCError error = rtcGetDeviceError(device_);
    if (error == RTC_ERROR_CANCELLED) {
        rtcReleaseScene(scene);
        Clear();
        return false;
    }
    if (error != RTC_ERROR_NONE) {
        rtcReleaseScene(scene);
        return fail(ErrorText(error));
    }
    scene_ = scene;
    return true;
}

bool EmbreeScene::FindNearestHit(const Ray& ray, HitRecord& hit) const {
    hit.distance = kNoHitDistance;
    hit.maxDistance = -1.0f;
    hit.candidate = nullptr;
    hit.ray = ray;
    hit.queryNumber = 0;
    float tNear;
    float tFar;
    if (scene_ == nullptr || !ClipToRootBox(ray, tNear, tFar)) {
        return false;
    }
    QueryContext query;
    StartQuery(query, primitives_.data(), ray, -1.0f);
    SearchNearest(scene_, query, ray, tNear, tFar);
    if (query.primitive == kNoPrimitive) {
        return false;
    }
    const Triangle& triangle = *primitives_[query.primitive].triangle;
    hit.candidate = &triangle;
    FillHitRecord(triangle, ray, query.hit, query.point, hit);
    return true;
}

bool EmbreeScene::IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) const {
    hit.candidate = nullptr;
    hit.maxDistance = Length(target - ray.origin) - kOcclusionShortening;
    hit.ray = ray;
    hit.queryNumber = 0;
    const float maxDistance = hit.maxDistance;
    float tNear;
    float tFar;
    QueryContext query;
    // A maxDistance of exactly 0 (or not a number) lets nothing block.
    if (scene_ != nullptr && (maxDistance < 0.0f || maxDistance > 0.0f) &&
        ClipToRootBox(ray, tNear, tFar)) {
        StartQuery(query, primitives_.data(), ray, maxDistance);
        if (maxDistance < 0.0f) {
            // A target nearer than the shortening: any hit at all blocks, and
            // the nearest one is the one that does.
            SearchNearest(scene_, query, ray, tNear, tFar);
        } else {
            const float limit = maxDistance + kIntervalSlack * (1.0f + maxDistance);
            RTCRay shadow = EmbreeRay(ray, tNear, std::min(tFar, limit));
            if (shadow.tnear <= shadow.tfar) {
                query.embree.filter = FilterHit;
                rtcOccluded1(scene_, &query.embree, &shadow);
            }
        }
    }
    if (query.primitive == kNoPrimitive) {
        hit.distance = maxDistance;
        return false;
    }
    const Triangle& triangle = *primitives_[query.primitive].triangle;
    hit.candidate = &triangle;
    FillHitRecord(triangle, ray, query.hit, query.point, hit);
    return true;
}

}  // namespace lumeno
