#include "render/render_session.h"

#include <sys/stat.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "light/integrator.h"
#include "render/image_output.h"
#include "render/wireframe_preview.h"

namespace lumeno {

namespace {

// Exact mode: the octree numbers its queries and stamps triangles.
class ExactQueries final : public RayQueries {
  public:
    explicit ExactQueries(Octree& octree) : octree_(octree) {}
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        return octree_.FindNearestHit(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        return octree_.IsOccluded(target, ray, hit);
    }

  private:
    Octree& octree_;
};

// Parallel mode: read-only queries, safe from any number of threads.
class ParallelQueries final : public RayQueries {
  public:
    explicit ParallelQueries(const Octree& octree) : octree_(octree) {}
    bool FindNearestHit(const Ray& ray, HitRecord& hit) override {
        return octree_.FindNearestHitParallel(ray, hit);
    }
    bool IsOccluded(Vec3 target, const Ray& ray, HitRecord& hit) override {
        return octree_.IsOccludedParallel(target, ray, hit);
    }

  private:
    const Octree& octree_;
};

// The generator of one camera sample in parallel mode.
Random SampleRandom(int pass, int pixelIndex) {
    return Random::FromSeed((static_cast<std::uint64_t>(static_cast<std::uint32_t>(pass)) << 32) |
                            static_cast<std::uint32_t>(pixelIndex));
}

// A sample that is not a finite number would stay in the pixel's sum for the
// rest of the session; it counts as black instead.
float Finite(float v) {
    return std::isfinite(v) ? v : 0.0f;
}

bool EnsureDirectory(const char* path, std::string* error) {
    struct stat info {};
    if (stat(path, &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return true;
        }
        *error = std::string(path) + " exists and is not a folder";
        return false;
    }
    if (mkdir(path, 0777) != 0 && errno != EEXIST) {
        *error = std::string("cannot create ") + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

}  // namespace

Ray CameraSampleRay(const PassSetup& setup, int x, int y, float u1, float u2) {
    float u = ((u1 * setup.stratumStep + static_cast<float>(x) + setup.offsetX) - setup.halfWidth) *
              setup.s;
    float v =
        ((u2 * setup.stratumStep + setup.offsetY + static_cast<float>(y)) - setup.halfHeight) *
        setup.s;
    return {setup.position, Normalize(setup.ex * u + setup.ey * v + setup.c)};
}

PassSetup MakePassSetup(const Camera& camera, int width, int height, float offsetX, float offsetY,
                        float stratumStep, int passCounter) {
    PassSetup setup;
    setup.position = camera.position;
    setup.ex = camera.ex;
    setup.ey = camera.ey;
    setup.c = camera.ez * camera.focus;
    setup.s = 1.0f / static_cast<float>(width < height ? width : height);
    setup.halfWidth = static_cast<float>(width) * 0.5f;
    setup.halfHeight = static_cast<float>(height) * 0.5f;
    setup.offsetX = offsetX;
    setup.offsetY = offsetY;
    setup.stratumStep = stratumStep;
    setup.passCounter = passCounter;
    return setup;
}

RenderSession::RenderSession(Scene& scene, DisplaySink& display, SessionListener* listener)
    : scene_(scene), display_(display), listener_(listener) {}

RenderSession::~RenderSession() {
    Cancel();
}

void RenderSession::SetMode(RenderMode mode, int threads) {
    mode_ = mode;
    threads_ = threads < 0 ? 0 : threads;
}

void RenderSession::Report(const std::string& message) {
    if (listener_ != nullptr) {
        listener_->Message(message);
    }
}

bool RenderSession::SetImageSize(int width, int height) {
    DibImage sized;
    if (!sized.Allocate(width, height)) {
        return false;
    }
    FloatPlane* planes[] = {&accumulation.red,  &accumulation.green,  &accumulation.blue,
                            &displayBuffer.red, &displayBuffer.green, &displayBuffer.blue};
    for (FloatPlane* plane : planes) {
        if (!plane->Create(width, height)) {
            return false;
        }
        plane->Fill(0.0f);  // black until the first refresh
    }
    image_.Allocate(width, height);
    imageWidth = width;
    imageHeight = height;
    minSide = static_cast<float>(width < height ? width : height);
    DrawPreview();
    scenePrepared = false;
    return true;
}

void RenderSession::DrawPreview() {
    if (image_.Empty()) {
        return;
    }
    DrawWireframePreview(scene_.camera, scene_.objectTriangles, accumulation.red, image_, display_);
    accumulationReady = false;
}

bool RenderSession::Enabled() const {
    std::lock_guard lock(mutex_);
    return enabled_;
}

bool RenderSession::WorkerRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool RenderSession::OnRender() {
    std::lock_guard lock(mutex_);
    enabled_ = !enabled_;
    if (enabled_ && !running_) {
        if (worker_.joinable()) {
            worker_.join();  // a worker that has already decided to end
        }
        running_ = true;
        worker_ = std::thread(&RenderSession::RenderThreadMain, this);
    }
    return enabled_;
}

void RenderSession::Cancel() {
    std::thread finishing;
    {
        std::lock_guard lock(mutex_);
        enabled_ = false;
        if (running_) {
            cancel_ = true;
        }
        finishing = std::move(worker_);
    }
    if (finishing.joinable()) {
        finishing.join();
    }
    cancel_ = false;
}

void RenderSession::RenderThreadMain() {
    PrepareRender();
    scene_.subsurfaceScale = kRenderSubsurfaceScale;
    bool complete = false;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!enabled_ || cancel_) {
                running_ = false;
                break;
            }
        }
        complete = RenderPass();
        if (complete) {
            std::lock_guard lock(mutex_);
            enabled_ = false;
            running_ = false;
            break;
        }
    }
    if (listener_ != nullptr) {
        listener_->WorkerStopped(complete);
    }
}

void RenderSession::PrepareRender() {
    if (!scenePrepared) {
        Diagnostics diagnostics;
        preparedStore_ = scene_.triangleStore;
        if (!octree.Build(scene_.objectTriangles, &diagnostics)) {
            octree.Clear();
        }
        probe.LoadProbeImage(kProbeImagePath, diagnostics);
        probe.LoadProbeLights(kProbeLightsPath, diagnostics);
        for (const Diagnostic& d : diagnostics.Entries()) {
            Report(FormatDiagnostic(d));
        }
        scenePrepared = true;
    }
    if (!accumulationReady) {
        accumulation.red.Fill(0.0f);
        accumulation.green.Fill(0.0f);
        accumulation.blue.Fill(0.0f);
        totalPasses = kTotalPasses;
        stratumStep = 0.025f;
        offsetY = 0.0f;
        offsetX = 0.0f;
        passCounter = 1;
        accumulationReady = true;
    }
}

void RenderSession::TraceRows(int first, int end, const PassSetup& setup) {
    auto tracePixel = [&](int x, int y, Random& generator, RayQueries& queries) {
        float u1 = generator.RandomUniformFloat();
        float u2 = generator.RandomUniformFloat();
        Ray ray = CameraSampleRay(setup, x, y, u1, u2);
        PathContext context{queries, probe, generator};
        context.subsurfaceScale = scene_.subsurfaceScale;
        context.maxPathDepth = scene_.maxPathDepth;
        context.StartSample();
        Vec3 radiance = Trace(ray, context).radiance;
        accumulation.red.At(x, y) += Finite(radiance.x);
        accumulation.green.At(x, y) += Finite(radiance.y);
        accumulation.blue.At(x, y) += Finite(radiance.z);
    };

    if (mode_ == RenderMode::Exact) {
        ExactQueries queries(octree);
        for (int y = first; y < end && !cancel_; ++y) {
            for (int x = 0; x < imageWidth; ++x) {
                tracePixel(x, y, random, queries);
            }
        }
        return;
    }
    const Octree& tree = octree;
    auto body = [&](const tbb::blocked_range<int>& rows) {
        ParallelQueries queries(tree);
        for (int y = rows.begin(); y < rows.end() && !cancel_; ++y) {
            for (int x = 0; x < imageWidth; ++x) {
                Random generator = SampleRandom(setup.passCounter, y * imageWidth + x);
                tracePixel(x, y, generator, queries);
            }
        }
    };
    if (threads_ > 0) {
        tbb::task_arena arena(threads_);
        arena.execute([&] { tbb::parallel_for(tbb::blocked_range<int>(first, end, 1), body); });
    } else {
        tbb::parallel_for(tbb::blocked_range<int>(first, end, 1), body);
    }
}

void RenderSession::ToneMapRows(int first, int end) {
    float k = 1.0f / static_cast<float>(passCounter);
    for (int i = first; i < end; ++i) {
        for (int j = 0; j < imageWidth; ++j) {
            displayBuffer.red.At(j, i) = ToneCurve(k * accumulation.red.At(j, i));
            displayBuffer.green.At(j, i) = ToneCurve(k * accumulation.green.At(j, i));
            displayBuffer.blue.At(j, i) = ToneCurve(k * accumulation.blue.At(j, i));
        }
    }
}

void RenderSession::Refresh() {
    image_.FromPlanes(displayBuffer.red, displayBuffer.green, displayBuffer.blue);
    display_.ShowImage(image_);
}

bool RenderSession::RenderPass() {
    if (image_.Empty()) {
        return true;  // no scene: nothing to render
    }
    // Camera changes during the pass take effect in the next one.
    const PassSetup setup = MakePassSetup(scene_.camera, imageWidth, imageHeight, offsetX, offsetY,
                                          stratumStep, passCounter);

    // Rows are traced in bands that end at multiples of 40: row 0, rows 1 …
    // 40, rows 41 … 80, …; after each band the display shows the mean so far
    // with a yellow line at the band's last row.
    for (int y = 0; y < imageHeight; y += kRefreshRows) {
        int first = y == 0 ? 0 : y - kRefreshRows + 1;
        TraceRows(first, y + 1, setup);
        if (cancel_) {
            accumulationReady = false;
            return false;
        }
        ToneMapRows(y - kRefreshRows > 0 ? y - kRefreshRows : 0, y);
        for (int x = 0; x < imageWidth; ++x) {
            displayBuffer.red.At(x, y) = 255.0f;
            displayBuffer.green.At(x, y) = 255.0f;
            displayBuffer.blue.At(x, y) = 0.0f;
        }
        Refresh();
    }
    int lastBand = ((imageHeight - 1) / kRefreshRows) * kRefreshRows;
    TraceRows(lastBand + 1, imageHeight, setup);
    if (cancel_) {
        accumulationReady = false;
        return false;
    }
    ToneMapRows(imageHeight - kRefreshRows > 0 ? imageHeight - kRefreshRows : 0, imageHeight);
    Refresh();

    char title[64];
    std::snprintf(title, sizeof title, "path = %d / %d", passCounter, totalPasses);
    display_.SetTitle(title);

    // The sum is exact in double precision; the wrap test uses it unrounded,
    // so offsetX takes 41 values per cycle (its 40th step lands just below 1).
    double sum = static_cast<double>(offsetX) + static_cast<double>(stratumStep);
    offsetX = static_cast<float>(sum);
    ++passCounter;
    if (!(sum < 1.0)) {
        offsetY = offsetY + stratumStep;
        offsetX = 0.0f;
    }
    if (passCounter % kSaveEvery == 0) {
        SaveMean();
    }
    if (listener_ != nullptr) {
        listener_->PassFinished(passCounter);
    }
    return passCounter > totalPasses;
}

bool RenderSession::SaveMean() {
    if (passCounter <= 1 || accumulation.red.Empty()) {
        return false;  // nothing rendered yet
    }
    std::string error;
    char path[64];
    std::snprintf(path, sizeof path, "%s/path_trace_%d.pfm", kOutputDirectory, passCounter);
    if (!EnsureDirectory(kOutputDirectory, &error) ||
        !WritePfm(path, accumulation.red, accumulation.green, accumulation.blue,
                  static_cast<float>(passCounter - 1), &error)) {
        Report(error);
        return false;
    }
    return true;
}

}  // namespace lumeno
