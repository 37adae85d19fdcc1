#include "spatial/embree_scene.h"

#include <embree3/rtcore.h>

#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <utility>

#include "spatial/octree.h"
#include "spatial/triangle_intersection.h"

namespace lumeno {

namespace {

// What the octree's queries let count, restated for Embree: a hit must lie
// nearer than the octree's leaf search bound, and its point within the leaf
// box tolerance of the root box; occlusion stops that much short of the
// target.
constexpr float kSearchBound = 1e9f;
constexpr float kBoxTolerance = 1e-7f;
constexpr float kOcclusionShortening = 0.001f;

// Embree's interval is widened by this share of its far end (plus as much in
// absolute terms) so that Embree, whose hit distances round differently,
// never drops a hit the project's test would keep at the interval's ends; the
// filter decides those exactly.
constexpr float kIntervalSlack = 1e-4f;

constexpr unsigned kNoPrimitive = RTC_INVALID_GEOMETRY_ID;

// One query's state, reached from the filter through the intersection
// context (which must come first: Embree hands the filter a pointer to it).
struct QueryContext {
    RTCIntersectContext embree;
    const float* vertices = nullptr;
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

bool InRootBox(Vec3 p) {
    return kRootBoxMin.x - kBoxTolerance <= p.x && p.x <= kRootBoxMax.x + kBoxTolerance &&
           kRootBoxMin.y - kBoxTolerance <= p.y && p.y <= kRootBoxMax.y + kBoxTolerance &&
           kRootBoxMin.z - kBoxTolerance <= p.z && p.z <= kRootBoxMax.z + kBoxTolerance;
}

// Corner p0 and the edges from it, the same float differences as EdgesOf.
TriangleEdges EdgesAt(const float* vertices, unsigned primitive) {
    const float* c = vertices + 9 * static_cast<std::size_t>(primitive);
    Vec3 p0{c[0], c[1], c[2]};
    Vec3 p1{c[3], c[4], c[5]};
    Vec3 p2{c[6], c[7], c[8]};
    return {p0, p1 - p0, p2 - p0};
}

// Called by Embree for every hit it proposes, for both kinds of query: the
// project's triangle test decides whether the hit counts.
void FilterHit(const RTCFilterFunctionNArguments* args) {
    auto* query = reinterpret_cast<QueryContext*>(args->context);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] == 0) {
            continue;
        }
        const unsigned primitive = RTCHitN_primID(args->hit, args->N, i);
        const TriangleEdges edges = EdgesAt(query->vertices, primitive);
        EdgeHit g;
        // A hit at distance 0 (the ray starts on the triangle) ends nothing.
        bool counts =
            IntersectEdges(edges, query->origin, query->direction, 0.0f, kSearchBound, g) &&
            g.t > 0.0f && g.t < kSearchBound &&
            (query->maxDistance < 0.0f || query->maxDistance > g.t);
        Vec3 point;
        if (counts) {
            point = HitPoint(edges, g);
            counts = InRootBox(point);
        }
        if (!counts) {
            args->valid[i] = 0;
            continue;
        }
        if (query->primitive == kNoPrimitive || g.t < query->hit.t ||
            (g.t == query->hit.t && primitive > query->primitive)) {
            query->primitive = primitive;
            query->hit = g;
            query->point = point;
        }
    }
}

// The part [tNear, tFar] of the ray inside the root box, widened by the
// slack; false when the ray misses the box, starts beyond it or does not move.
bool ClipToRootBox(const Ray& ray, float& tNear, float& tFar) {
    float enter = -std::numeric_limits<float>::infinity();
    float exit = std::numeric_limits<float>::infinity();
    bool moves = false;
    for (int a = 0; a < 3; ++a) {
        const float o = ray.origin[a];
        const float d = ray.direction[a];
        if (d == 0.0f) {
            if (!(kRootBoxMin[a] <= o && o <= kRootBoxMax[a])) {
                return false;
            }
            continue;
        }
        moves = true;
        const float inverse = 1.0f / d;
        float t0 = (kRootBoxMin[a] - o) * inverse;
        float t1 = (kRootBoxMax[a] - o) * inverse;
        if (t0 > t1) {
            std::swap(t0, t1);
        }
        if (!(t0 <= t1)) {
            return false;  // not a number
        }
        enter = t0 > enter ? t0 : enter;
        exit = t1 < exit ? t1 : exit;
    }
    // Like the octree: the box must be crossed, not touched, and not lie
    // wholly behind the origin.
    if (!moves || !(enter < exit) || exit < 0.0f) {
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

void StartQuery(QueryContext& query, const float* vertices, const Ray& ray, float maxDistance) {
    rtcInitIntersectContext(&query.embree);
    query.vertices = vertices;
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
    triangles_ = {};
    vertices_ = {};
}

bool EmbreeScene::Build(const std::vector<Triangle*>& triangles, Diagnostics* diagnostics) {
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
        triangles_.assign(triangles.begin(), triangles.end());
        // Embree reads each corner with one 16-byte load: one float of
        // padding after the last.
        vertices_.assign(9 * count + 1, 0.0f);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Triangle& t = *triangles[i];
        float* c = vertices_.data() + 9 * i;
        for (const Vec3& p : {t.p0, t.p1, t.p2}) {
            *c++ = p.x;
            *c++ = p.y;
            *c++ = p.z;
        }
    }

    RTCScene scene = rtcNewScene(device_);
    if (scene == nullptr) {
        return fail(ErrorText(rtcGetDeviceError(device_)));
    }
    // Robust: no traversal shortcut that trades accuracy for speed, so Embree
    // does not lose hits along shared edges and at the interval's ends, which
    // the octree (testing every listed triangle exactly) finds. High quality:
    // the scene is built once per load and then answers every ray of every
    // pass, so a slower build that traverses faster pays for itself.
    rtcSetSceneFlags(scene, RTC_SCENE_FLAG_ROBUST);
    rtcSetSceneBuildQuality(scene, RTC_BUILD_QUALITY_HIGH);
    if (count > 0) {
        const auto corners = static_cast<unsigned>(3 * count);
        RTCGeometry geometry = rtcNewGeometry(device_, RTC_GEOMETRY_TYPE_TRIANGLE);
        if (geometry != nullptr) {
            rtcSetGeometryBuildQuality(geometry, RTC_BUILD_QUALITY_HIGH);
            rtcSetSharedGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                       vertices_.data(), 0, 3 * sizeof(float), corners);
            auto* indices = static_cast<unsigned*>(rtcSetNewGeometryBuffer(
                geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3, 3 * sizeof(unsigned), count));
            if (indices != nullptr) {
                for (unsigned k = 0; k < corners; ++k) {
                    indices[k] = k;
                }
            }
            rtcSetGeometryIntersectFilterFunction(geometry, FilterHit);
            rtcSetGeometryOccludedFilterFunction(geometry, FilterHit);
            rtcCommitGeometry(geometry);
            rtcAttachGeometry(scene, geometry);
            rtcReleaseGeometry(geometry);
        }
    }
    rtcCommitScene(scene);
    RTCError error = rtcGetDeviceError(device_);
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
    StartQuery(query, vertices_.data(), ray, -1.0f);
    SearchNearest(scene_, query, ray, tNear, tFar);
    if (query.primitive == kNoPrimitive) {
        return false;
    }
    const Triangle& triangle = *triangles_[query.primitive];
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
        StartQuery(query, vertices_.data(), ray, maxDistance);
        if (maxDistance < 0.0f) {
            // A target nearer than the shortening: any hit at all blocks, and
            // the nearest one is the one that does.
            SearchNearest(scene_, query, ray, tNear, tFar);
        } else {
            const float limit = maxDistance + kIntervalSlack * (1.0f + maxDistance);
            RTCRay shadow = EmbreeRay(ray, tNear, tFar < limit ? tFar : limit);
            if (shadow.tnear <= shadow.tfar) {
                rtcOccluded1(scene_, &query.embree, &shadow);
            }
        }
    }
    if (query.primitive == kNoPrimitive) {
        hit.distance = maxDistance;
        return false;
    }
    const Triangle& triangle = *triangles_[query.primitive];
    hit.candidate = &triangle;
    FillHitRecord(triangle, ray, query.hit, query.point, hit);
    return true;
}

}  // namespace lumeno
