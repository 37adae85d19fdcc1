#include "render/render_session.h"

#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>

#include "base/file_io.h"
#include "base/thread_sanitizer.h"
#include "base/working_folder.h"
#include "render/wireframe_preview.h"
#include "spatial/ray_queries.h"

namespace lumeno {

namespace {

// The generator of one camera sample in parallel mode.
Random SampleRandom(int pass, int pixelIndex) {
    return Random::FromSeed((static_cast<std::uint64_t>(static_cast<std::uint32_t>(pass)) << 32) |
                            static_cast<std::uint32_t>(pixelIndex));
}

// A sample that is not a finite number would stay in the pixel's sum for the
// rest of the session; it counts as black instead.
Vec3 Finite(Vec3 v) {
    return {std::isfinite(v.x) ? v.x : 0.0f, std::isfinite(v.y) ? v.y : 0.0f,
            std::isfinite(v.z) ? v.z : 0.0f};
}

// How often a row looks whether its pass was abandoned.
constexpr int kCancelCheckPixels = 256;
constexpr std::int64_t kProgressIntervalNanos = 50'000'000;

std::int64_t NowNanos() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

struct RenderSession::Arena {
    explicit Arena(int threads) : arena(threads > 0 ? threads : tbb::task_arena::automatic) {}
    tbb::task_arena arena;
};

RenderSession::RenderSession(Scene& scene, DisplaySink& display, SessionListener* listener)
    : scene_(scene), display_(display), listener_(listener) {
    SetMode(mode_, threads_);
}

RenderSession::~RenderSession() {
    Cancel();
}

SumKind RenderSession::KindForMode() const {
    return mode_ == RenderMode::Exact ? SumKind::Float : SumKind::Fixed;
}

void RenderSession::SetMode(RenderMode mode, int threads) {
    bool kindChanges = mode != mode_;
    mode_ = mode;
    threads_ = threads < 0 ? 0 : threads;
    arena_ = std::make_unique<Arena>(threads_);
    if (kindChanges && !film_.Empty()) {
        // The other mode sums differently: start afresh at the next run.
        film_.SetSize(film_.Width(), film_.Height(), KindForMode());
        accumulationReady_ = false;
    }
}

void RenderSession::Report(const std::string& message) {
    if (listener_ != nullptr) {
        listener_->Message(message);
    }
}

bool RenderSession::SetImageSize(int width, int height) {
    if (!film_.SetSize(width, height, KindForMode())) {
        return false;
    }
    rowDone_.reset(new (std::nothrow) std::atomic<std::uint8_t>[static_cast<std::size_t>(height)]);
    if (!rowDone_) {
        film_.SetSize(0, 0, KindForMode());
        return false;
    }
    DrawPreview();
    scenePrepared_ = false;
    return true;
}

void RenderSession::DrawPreview() {
    if (film_.Empty()) {
        return;
    }
    DrawWireframePreview(scene_.camera, scene_.objectTriangles, film_.PreviewCanvas(),
                         film_.Image(), display_);
    convertAll_ = true;
    accumulationReady_ = false;
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
        cancel_ = false;
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
    RunEnd end = Run(INT_MAX, [this] {
        // Deciding to end and saying so happen under one lock, so that a
        // toggle in between starts a new worker instead of relying on this one.
        std::lock_guard lock(mutex_);
        if (!enabled_) {
            running_ = false;
        }
        return enabled_;
    });
    {
        std::lock_guard lock(mutex_);
        if (end == RunEnd::Complete) {
            enabled_ = false;
        }
        running_ = false;
    }
    if (listener_ != nullptr) {
        listener_->WorkerStopped(end == RunEnd::Complete);
    }
}

void RenderSession::Prepare() {
    // Temporaries of saves that a killed run left behind.
    RemoveStaleTemporaries(kOutputFolder, IsOutputFileName);
    if (!scenePrepared_) {
        Diagnostics diagnostics;
        preparedStore_ = scene_.triangleStore;
        if (!octree_.Build(scene_.objectTriangles, &diagnostics)) {
            octree_.Clear();
        }
        probe_.LoadProbeImage(kProbeImagePath, diagnostics);
        probe_.LoadProbeLights(kProbeLightsPath, diagnostics);
        for (const Diagnostic& d : diagnostics.Entries()) {
            Report(FormatDiagnostic(d));
        }
        scenePrepared_ = true;
    }
    if (!accumulationReady_) {
        film_.Clear();
        schedule_.Reset();
        accumulationReady_ = true;
    }
}

RunEnd RenderSession::Run(int lastPass, const std::function<bool()>& keepGoing) {
    if (film_.Empty()) {
        return RunEnd::NoImage;
    }
    Prepare();
    for (;;) {
        if (cancel_.load(std::memory_order_relaxed)) {
            return RunEnd::Cancelled;
        }
        if (schedule_.PassCounter() > lastPass) {
            return RunEnd::LastPassDone;
        }
        if (keepGoing && !keepGoing()) {
            return RunEnd::Stopped;
        }
        if (RenderPass() == PassEnd::Cancelled) {
            return RunEnd::Cancelled;
        }
        if (schedule_.Complete()) {
            return RunEnd::Complete;
        }
    }
}

bool RenderSession::TraceRow(int y, const PassSetup& setup, RayQueries& queries) {
    const int width = film_.Width();
    for (int x = 0; x < width; ++x) {
        if (x % kCancelCheckPixels == 0 && cancel_.load(std::memory_order_relaxed)) {
            return false;
        }
        Random pixelRandom;
        Random& generator = mode_ == RenderMode::Exact
                                ? random_
                                : (pixelRandom = SampleRandom(setup.passCounter, y * width + x));
        float u1 = generator.RandomUniformFloat();
        float u2 = generator.RandomUniformFloat();
        Ray ray = CameraSampleRay(setup, x, y, u1, u2);
        PathContext context{queries, probe_, generator, settings_};
        context.StartSample();
        film_.SetSample(x, y, Finite(Trace(ray, context).radiance));
    }
    return true;
}

void RenderSession::ShowRows(int first, int end) {
    if (convertAll_) {
        // The bitmap still shows the preview: the whole display replaces it.
        first = 0;
        end = film_.Height();
        convertAll_ = false;
    }
    film_.ConvertRows(first, end);
    display_.ShowImage(film_.Image());
}

void RenderSession::RefreshBand(int y, int passNumber) {
    int first = y - kRefreshRows > 0 ? y - kRefreshRows : 0;
    film_.ToneMapRows(first, y, passNumber, true);
    film_.MarkRow(y);
    ShowRows(first, y + 1);
}

void RenderSession::RefreshEnd(int passNumber) {
    int height = film_.Height();
    int first = height - kRefreshRows > 0 ? height - kRefreshRows : 0;
    film_.ToneMapRows(first, height, passNumber, true);
    ShowRows(first, height);
}

void RenderSession::RowTraced(int y, bool blocking) {
    if (y >= 0) {
        rowDone_[static_cast<std::size_t>(y)].store(1, std::memory_order_release);
    }
    std::unique_lock lock(progressMutex_, std::defer_lock);
    if (blocking) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return;  // the thread holding it moves the prefix on, or the pass's end does
    }
    const int height = film_.Height();
    const int passNumber = schedule_.PassCounter();
    const bool showing = display_.Showing();
    int prefix = tracedPrefix_;
    while (prefix < height &&
           rowDone_[static_cast<std::size_t>(prefix)].load(std::memory_order_acquire) != 0) {
        if (showing && prefix % kRefreshRows == 0) {
            RefreshBand(prefix, passNumber);
        }
        ++prefix;
    }
    if (prefix != tracedPrefix_) {
        tracedPrefix_ = prefix;
        std::int64_t now = NowNanos();
        if (listener_ != nullptr && now - lastProgressNanos_ >= kProgressIntervalNanos) {
            lastProgressNanos_ = now;
            listener_->RowsTraced(prefix, height);
        }
    }
}

RenderSession::PassEnd RenderSession::RenderPass() {
    const int width = film_.Width();
    const int height = film_.Height();
    // Camera changes during the pass take effect in the next one.
    const PassSetup setup = schedule_.Setup(scene_.camera, width, height);
    const int passNumber = schedule_.PassCounter();
    // What an abandoned pass must give back in the exact mode.
    const Random randomAtStart = random_;
    const std::int32_t queryCounterAtStart = octree_.queryCounter;

    for (int y = 0; y < height; ++y) {
        rowDone_[static_cast<std::size_t>(y)].store(0, std::memory_order_relaxed);
    }
    tracedPrefix_ = 0;
    lastProgressNanos_ = NowNanos();

    bool cancelled = false;
    if (mode_ == RenderMode::Exact) {
        OctreeExactQueries queries(octree_);
        for (int y = 0; y < height && !cancelled; ++y) {
            cancelled = !TraceRow(y, setup, queries);
            if (!cancelled) {
                RowTraced(y, true);
            }
        }
    } else {
        // Rows go out in order to whichever thread is free, so the traced
        // prefix (and with it the display) moves down the image steadily.
        std::atomic<int> nextRow{0};
        std::atomic<bool> stopped{false};
        const Octree& tree = octree_;
        tbb::task_arena& arena = arena_->arena;
        auto share = [&](int) {
            OctreeParallelQueries queries(tree);
            for (;;) {
                int y = nextRow.fetch_add(1, std::memory_order_relaxed);
                if (y >= height) {
                    return;
                }
                if (!TraceRow(y, setup, queries)) {
                    stopped = true;
                    return;
                }
                RowTraced(y, false);
            }
        };
#ifdef LUMENO_THREAD_SANITIZER
        RunSharesOnThreads(arena.max_concurrency(), share);
#else
        arena.execute([&] {
            tbb::parallel_for(0, arena.max_concurrency(), share, tbb::static_partitioner());
        });
#endif
        cancelled = stopped.load();
        if (!cancelled) {
            RowTraced(-1, true);  // rows whose refresh another thread held
        }
    }
    // A cancel that came while the last rows finished still drops the pass:
    // nothing of it is committed yet.
    if (cancelled || cancel_.load(std::memory_order_relaxed)) {
        random_ = randomAtStart;
        octree_.queryCounter = queryCounterAtStart;
        return PassEnd::Cancelled;
    }

    if (display_.Showing()) {
        RefreshEnd(passNumber);
    }
    film_.CommitPass();
    char title[64];
    std::snprintf(title, sizeof title, "path = %d / %d", passNumber, schedule_.TotalPasses());
    display_.SetTitle(title);

    schedule_.Advance();
    if (schedule_.SaveDue()) {
        (void)SaveMean();  // a failed save is reported and rendering goes on
    }
    if (listener_ != nullptr) {
        listener_->PassFinished(schedule_.PassCounter());
    }
    return PassEnd::Done;
}

std::string RenderSession::MeanPath() const {
    return std::string(kOutputFolder) + "/path_trace_" + std::to_string(schedule_.PassCounter()) +
           ".pfm";
}

Status RenderSession::SaveMean() {
    if (schedule_.PassesHeld() < 1 || film_.Empty()) {
        return Status::Error("nothing rendered yet: no mean to save");
    }
    Status saved = EnsureFolder(kOutputFolder);
    if (saved) {
        saved = film_.SaveMean(MeanPath(), schedule_.PassesHeld());
    }
    if (!saved) {
        Report(saved.Message());
    }
    return saved;
}

const DibImage& RenderSession::DisplayImage() {
    if (!display_.Showing() && !film_.Empty() && schedule_.PassesHeld() > 0) {
        film_.ToneMapRows(0, film_.Height(), schedule_.PassesHeld(), false);
        film_.ConvertRows(0, film_.Height());
    }
    return film_.Image();
}

}  // namespace lumeno
