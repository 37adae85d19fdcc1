#include "render/render_session.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>
#include <tbb/task_group.h>

#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>
#include <thread>

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
        // A save beside a pass reports from a worker, while other workers
        // tell the listener of their progress.
        std::lock_guard lock(progressMutex_);
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
    ShowPreview();
    schedule_.Reset();  // the passes held were another scene's
    scenePrepared_ = false;
    geometryFingerprint_.reset();
    probeFingerprint_.reset();
    pendingCheckpoint_.reset();
    checkpointPass_ = 0;
    checkpointFileChecked_ = false;
    return true;
}

void RenderSession::ShowPreview() {
    DrawWireframePreview(scene_.camera, scene_.objectTriangles, film_.PreviewCanvas(),
                         film_.Image(), display_);
    convertAll_ = true;
    accumulationReady_ = false;
}

void RenderSession::DrawPreview() {
    if (film_.Empty()) {
        return;
    }
    ShowPreview();
    // The saved render shows the old view: it is of no use any more.
    pendingCheckpoint_.reset();
    if (checkpointPass_ > 0 || checkpointFileChecked_) {
        std::remove(kCheckpointPath);
    }
    checkpointPass_ = 0;
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
            worker_.join();  // it has said it ends and takes the lock no more
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
    // The worker says it ends (running_ false, under the lock) only once Run
    // has returned, the pass under way finished or abandoned and the
    // checkpoint written: a toggle before that finds it running and lets it
    // go on, rather than waiting for it with the lock held. Once said, it
    // never takes the lock again: a toggle may then be joining it, lock held,
    // before it starts the next worker.
    RunEnd end = RunEnd::Complete;
    for (;;) {
        end = Run(INT_MAX, [this] {
            std::lock_guard lock(mutex_);
            return enabled_;
        });
        std::lock_guard lock(mutex_);
        if (end == RunEnd::Complete) {
            enabled_ = false;
        }
        if (!enabled_ || end == RunEnd::Cancelled || end == RunEnd::NoImage) {
            running_ = false;
            break;
        }
        // Switched off and on again while the run wound down: go on.
    }
    if (listener_ != nullptr) {
        listener_->WorkerStopped(end == RunEnd::Complete);
    }
}

void RenderSession::PrepareIndex(Diagnostics& diagnostics) {
    // A build the cancel flag called off (Ctrl-C, a camera drag, a new scene:
    // a pathological scene can take long) is tried again at the next run.
    if (mode_ == RenderMode::Parallel && !embreeTried_) {
#ifndef LUMENO_THREAD_SANITIZER
        bool built = embree_.Build(preparedTriangles_, &diagnostics, &cancel_);
#else
        // Embree builds and answers on the task library's threads, which the
        // sanitizer cannot follow; the octree's read-only queries run the
        // same pass on threads it can (see base/thread_sanitizer.h).
        bool built = false;
#endif
        embreeTried_ = built || !cancel_.load();  // else the octree answers
    }
    const bool needOctree = mode_ == RenderMode::Exact || !embree_.Built();
    if (needOctree && !octreeBuilt_ && !cancel_.load()) {
        bool built =
            octree_.Build(preparedTriangles_, &diagnostics, Octree::kDefaultBudget, &cancel_);
        if (!built) {
            octree_.Clear();
        }
        octreeBuilt_ = built || !cancel_.load();
    }
}

void RenderSession::Prepare() {
    Diagnostics diagnostics;
    if (!scenePrepared_) {
        preparedStore_ = scene_.triangleStore;
        preparedTriangles_ = scene_.objectTriangles;
        // Neither index may refer to the previous scene's triangles.
        octree_.Clear();
        embree_.Clear();
        octreeBuilt_ = false;
        embreeTried_ = false;
        probe_.LoadProbeImage(kProbeImagePath, diagnostics);
        probe_.LoadProbeLights(kProbeLightsPath, diagnostics);
        scenePrepared_ = true;
    }
    // Here rather than above: the mode may have changed since the scene was
    // prepared, and the index it needs not be built yet.
    PrepareIndex(diagnostics);
    for (const Diagnostic& d : diagnostics.Entries()) {
        Report(FormatDiagnostic(d));
    }
    if (cancel_.load()) {
        return;  // the run ends at once; the sums stay as they are
    }
    if (!accumulationReady_) {
        if (pendingCheckpoint_) {
            ApplyCheckpoint(*pendingCheckpoint_);
            pendingCheckpoint_.reset();
        } else {
            film_.Clear();
            schedule_.Reset();
            checkpointPass_ = 0;
        }
        accumulationReady_ = true;
    }
    if (mode_ == RenderMode::Exact) {
        stampsAtPassStart_.reserve(scene_.objectTriangles.size());
    }
}

RunEnd RenderSession::Run(int lastPass, const std::function<bool()>& keepGoing, PassShare* share) {
    if (film_.Empty()) {
        return RunEnd::NoImage;
    }
    Prepare();
    if (share != nullptr) {
        // Every process takes part in every round's agreement, even one
        // called off while preparing: it stops the round.
        return RunShared(lastPass, keepGoing, *share);
    }
    if (!accumulationReady_) {
        // Called off while preparing: the sums (and the pass count) are
        // still the previous view's or scene's, and nothing may be saved
        // from them.
        return RunEnd::Cancelled;
    }
    RunEnd end = RunEnd::Complete;
    // In the parallel mode a due save runs beside the next pass, so that the
    // other threads need not wait for it; it reads only the committed sums,
    // which the pass leaves alone until it is done. When no pass follows, it
    // runs before the loop ends.
    bool saveDue = false;
    for (;;) {
        if (cancel_.load(std::memory_order_relaxed)) {
            end = RunEnd::Cancelled;
            break;
        }
        if (schedule_.PassCounter() > lastPass) {
            end = RunEnd::LastPassDone;
            break;
        }
        if (keepGoing && !keepGoing()) {
            end = RunEnd::Stopped;
            break;
        }
        const int pass = schedule_.PassCounter();
        const bool traced =
            TracePass(schedule_.Setup(scene_.camera, film_.Width(), film_.Height()), saveDue);
        saveDue = false;
        if (!traced) {
            end = RunEnd::Cancelled;
            break;
        }
        FinishPass(pass);
        schedule_.Advance();
        if (schedule_.SaveDue()) {
            if (mode_ == RenderMode::Parallel && !schedule_.Complete()) {
                saveDue = true;
            } else {
                SavePeriodically();
            }
        }
        PassCounted();
        if (schedule_.Complete()) {
            end = RunEnd::Complete;
            break;
        }
    }
    if (saveDue) {
        SavePeriodically();
    }
    // Whatever stopped the run, the passes done so far are kept.
    if (schedule_.PassCounter() != checkpointPass_ && schedule_.PassesHeld() > 0) {
        (void)WriteCheckpoint();
    }
    return end;
}

bool RenderSession::TraceRow(int y, const PassSetup& setup, RayQueries& queries) {
    const int width = film_.Width();
    for (int x = 0; x < width; ++x) {
        // Every pixel looks whether its pass was abandoned: a relaxed load
        // costs nothing beside a path, and a pathological scene can spend
        // tens of milliseconds on one pixel.
        if (cancel_.load(std::memory_order_relaxed)) {
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
    const int passNumber = tracingPass_;
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

void RenderSession::SavePeriodically() {
    // A failed save is reported, and rendering goes on.
    (void)SaveMean();
    (void)WriteCheckpoint();
}

bool RenderSession::TracePass(const PassSetup& setup, bool saveAlongside) {
    const int height = film_.Height();
    if (saveAlongside && mode_ != RenderMode::Parallel) {
        SavePeriodically();  // the exact mode's pass changes what a checkpoint holds
        saveAlongside = false;
    }
    // What an abandoned pass must give back in the exact mode.
    const Random randomAtStart = random_;
    const std::int32_t queryCounterAtStart = octree_.queryCounter;
    if (mode_ == RenderMode::Exact) {
        SaveStamps(stampsAtPassStart_);
    }

    for (int y = 0; y < height; ++y) {
        rowDone_[static_cast<std::size_t>(y)].store(0, std::memory_order_relaxed);
    }
    tracedPrefix_ = 0;
    tracingPass_ = setup.passCounter;
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
        const EmbreeScene& embree = embree_;
        tbb::task_arena& arena = arena_->arena;
        auto share = [&](int) {
            EmbreeQueries embreeQueries(embree);
            OctreeParallelQueries octreeQueries(tree);
            RayQueries& queries = embree.Built() ? static_cast<RayQueries&>(embreeQueries)
                                                 : static_cast<RayQueries&>(octreeQueries);
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
        // The save, when one is due, is one more task: the thread that takes
        // it joins the rows once it is done.
#ifdef LUMENO_THREAD_SANITIZER
        std::thread saving;
        if (saveAlongside) {
            saving = std::thread([this] { SavePeriodically(); });
        }
        RunSharesOnThreads(arena.max_concurrency(), share);
        if (saving.joinable()) {
            saving.join();
        }
#else
        arena.execute([&] {
            tbb::task_group saving;
            if (saveAlongside) {
                saving.run([this] { SavePeriodically(); });
            }
            tbb::parallel_for(0, arena.max_concurrency(), share, tbb::static_partitioner());
            saving.wait();
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
        if (mode_ == RenderMode::Exact) {
            random_ = randomAtStart;
            octree_.queryCounter = queryCounterAtStart;
            RestoreStamps(stampsAtPassStart_);
        }
        return false;
    }
    return true;
}

void RenderSession::FinishPass(int passNumber) {
    if (display_.Showing()) {
        RefreshEnd(passNumber);
    }
#ifndef LUMENO_THREAD_SANITIZER
    if (mode_ == RenderMode::Parallel) {
        // On a quick scene the commit is a fair share of a pass: the rows
        // go to all the pass's threads (each value is added once, so the
        // sums do not depend on who adds it).
        const int height = film_.Height();
        arena_->arena.execute([&] {
            tbb::parallel_for(tbb::blocked_range<int>(0, height, 8),
                              [&](const tbb::blocked_range<int>& rows) {
                                  film_.CommitRows(rows.begin(), rows.end());
                              });
        });
    } else {
        film_.CommitPass();
    }
#else
    film_.CommitPass();  // one thread: the sanitizer cannot follow the task library
#endif
    char title[64];
    std::snprintf(title, sizeof title, "path = %d / %d", passNumber, schedule_.TotalPasses());
    display_.SetTitle(title);
}

void RenderSession::PassCounted() {
    if (listener_ != nullptr) {
        listener_->PassFinished(schedule_.PassCounter());
    }
}

RunEnd RenderSession::RunShared(int lastPass, const std::function<bool()>& keepGoing,
                                PassShare& share) {
    const int processes = share.Processes();
    const int me = share.Index();
    for (;;) {
        const int saveEvery = share.SaveInterval();  // may grow after a combine
        const int first = schedule_.PassCounter();
        if (first > lastPass) {
            return RunEnd::LastPassDone;
        }
        // A round: one pass per process, never across a save point, the
        // last pass asked for, or the end of the session (after which every
        // run adds exactly one pass).
        int end = std::min({first + processes, (first / saveEvery + 1) * saveEvery, lastPass + 1,
                            schedule_.Complete() ? first + 1 : schedule_.TotalPasses() + 1});
        bool traced = true;
        if (me < end - first) {
            PassSchedule mine;
            mine.Restore(PassSchedule::StateAtPass(first + me));
            traced = TracePass(mine.Setup(scene_.camera, film_.Width(), film_.Height()));
        }
        bool stop = (keepGoing && !keepGoing()) || cancel_.load(std::memory_order_relaxed);
        PassShare::RoundEnd agreed = share.EndRound(traced, stop);
        if (agreed.allTraced) {
            for (int pass = first; pass < end; ++pass) {
                if (pass == first + me) {
                    FinishPass(pass);
                }
                schedule_.Advance();
                PassCounted();
            }
        }
        const bool ending = !agreed.allTraced || agreed.stop ||
                            schedule_.PassCounter() > lastPass || schedule_.Complete();
        const bool atSavePoint = schedule_.PassCounter() % saveEvery == 0;
        if (ending || atSavePoint) {
            // The sums meet: process 0 holds the whole image, the others
            // start their next share from nothing.
            share.Combine(film_.FixedSums());
            if (me == 0) {
                if (atSavePoint) {
                    (void)SaveMean();
                }
                if (schedule_.PassCounter() != checkpointPass_ && schedule_.PassesHeld() > 0) {
                    (void)WriteCheckpoint();
                }
            } else {
                film_.Clear();
            }
        }
        if (!agreed.allTraced || agreed.stop) {
            return cancel_.load(std::memory_order_relaxed) ? RunEnd::Cancelled : RunEnd::Stopped;
        }
        if (schedule_.Complete()) {
            return RunEnd::Complete;
        }
    }
}

void RenderSession::StartAtPass(int pass) {
    Prepare();
    film_.Clear();
    schedule_.Restore(PassSchedule::StateAtPass(pass));
    pendingCheckpoint_.reset();
    checkpointPass_ = pass;
    accumulationReady_ = true;
}

Status RenderSession::PrepareOutputFolder() {
    Status ready = EnsureFolder(kOutputFolder);
    if (ready && !temporariesSwept_) {
        // Temporaries of saves that a killed run left behind. Only the
        // process that writes here looks, before its first write: on a farm
        // the others may not even share this machine's process ids.
        RemoveStaleTemporaries(kOutputFolder, IsOutputFileName);
        temporariesSwept_ = true;
    }
    return ready;
}

std::string RenderSession::MeanPath() const {
    return std::string(kOutputFolder) + "/path_trace_" + std::to_string(schedule_.PassCounter()) +
           (saveFormat_ == MeanFormat::Exr ? ".exr" : ".pfm");
}

Status RenderSession::SaveMean() {
    Status saved = PrepareOutputFolder();
    if (saved) {
        saved = SaveMeanAs(MeanPath(), saveFormat_);
    }
    if (!saved) {
        Report(saved.Message());
    }
    return saved;
}

Status RenderSession::SaveMeanAs(const std::string& path, MeanFormat format) {
    // Until a run has prepared them, the sums may be another view's.
    if (!accumulationReady_ || schedule_.PassesHeld() < 1 || film_.Empty()) {
        return Status::Error("nothing rendered yet: no mean to save");
    }
    return film_.SaveMean(path, schedule_.PassesHeld(), format);
}

Fingerprint RenderSession::CurrentFingerprint() {
    if (!geometryFingerprint_) {
        geometryFingerprint_ = GeometryFingerprint(scene_);
    }
    if (!probeFingerprint_) {
        probeFingerprint_ = ProbeFingerprint();
    }
    Fingerprint fingerprint = *geometryFingerprint_;
    const Fingerprint camera = CameraFingerprint(scene_.camera);
    for (const Fingerprint* part :
         std::initializer_list<const Fingerprint*>{&*probeFingerprint_, &camera}) {
        fingerprint.items.insert(fingerprint.items.end(), part->items.begin(), part->items.end());
    }
    return fingerprint;
}

std::uint64_t RenderSession::CheckpointBound() const {
    // The largest checkpoint this image can have: fixed sums, or float sums
    // and a stamp per triangle, plus room for the header and fingerprint.
    std::uint64_t pixels = std::uint64_t(film_.Width()) * std::uint64_t(film_.Height());
    return 24 * pixels + 2 * std::uint64_t(scene_.objectTriangles.size()) + (1 << 20);
}

void RenderSession::SaveStamps(std::vector<std::uint16_t>& stamps) const {
    std::span<const std::uint16_t> current = octree_.Stamps();
    stamps.assign(current.begin(), current.end());
}

void RenderSession::RestoreStamps(std::span<const std::uint16_t> stamps) {
    std::span<std::uint16_t> current = octree_.Stamps();
    std::copy_n(stamps.begin(), std::min(stamps.size(), current.size()), current.begin());
}

Status RenderSession::WriteCheckpoint() {
    if (film_.Empty() || !accumulationReady_ || schedule_.PassesHeld() < 1) {
        return Status::Error("nothing rendered yet: no checkpoint to write");
    }
    try {
        return WriteCheckpointFile();
    } catch (const std::bad_alloc&) {
        // The file is put together in memory first (about 24 bytes a pixel).
        Status failed = Status::Error(std::string(kCheckpointPath) +
                                      ": not enough memory to write the checkpoint");
        Report(failed.Message());
        return failed;
    }
}

Status RenderSession::WriteCheckpointFile() {
    Status written = PrepareOutputFolder();
    if (written && !checkpointFileChecked_) {
        // A file we cannot read may be another version's work: keep it.
        checkpointFileChecked_ = true;
        Checkpoint existing;
        Status readable = ReadCheckpoint(kCheckpointPath, 2 * CheckpointBound(), existing);
        struct stat info {};
        if (!readable && stat(kCheckpointPath, &info) == 0) {
            std::string aside = std::string(kCheckpointPath) + ".unreadable";
            if (std::rename(kCheckpointPath, aside.c_str()) == 0) {
                Report(readable.Message() + "; moved aside to " + aside);
            } else {
                written = Status::Error(readable.Message() + "; not overwritten");
                checkpointFileChecked_ = false;
            }
        }
    }
    if (written) {
        Checkpoint checkpoint;
        checkpoint.exact = mode_ == RenderMode::Exact;
        checkpoint.width = film_.Width();
        checkpoint.height = film_.Height();
        checkpoint.schedule = schedule_.Save();
        checkpoint.fingerprint = CurrentFingerprint();
        if (checkpoint.exact) {
            checkpoint.random[0] = random_.x;
            checkpoint.random[1] = random_.y;
            checkpoint.random[2] = random_.z;
            checkpoint.random[3] = random_.w;
            checkpoint.queryCounter = octree_.queryCounter;
            SaveStamps(checkpoint.stampStore);
            checkpoint.stamps = checkpoint.stampStore;
            for (int c = 0; c < 3; ++c) {
                std::span<float> plane = film_.FloatSums(c);
                checkpoint.floatStore.insert(checkpoint.floatStore.end(), plane.begin(),
                                             plane.end());
            }
            checkpoint.floatSums = checkpoint.floatStore;
        } else {
            checkpoint.fixedSums = film_.FixedSums();
        }
        written = lumeno::WriteCheckpoint(kCheckpointPath, checkpoint);
    }
    if (written) {
        checkpointPass_ = schedule_.PassCounter();
    } else {
        Report(written.Message());
    }
    return written;
}

Status RenderSession::ResumeFromCheckpoint() {
    if (film_.Empty()) {
        return Status::Error("no scene to continue");
    }
    auto checkpoint = std::make_unique<Checkpoint>();
    if (Status read = ReadCheckpoint(kCheckpointPath, CheckpointBound(), *checkpoint); !read) {
        return read;
    }
    const std::string path = kCheckpointPath;
    const bool exact = mode_ == RenderMode::Exact;
    if (checkpoint->exact != exact) {
        return Status::Error(path + " was made in the " +
                             (checkpoint->exact ? "exact" : "parallel") + " mode, not the " +
                             (exact ? "exact" : "parallel") + " one");
    }
    if (checkpoint->width != film_.Width() || checkpoint->height != film_.Height()) {
        return Status::Error(path + " holds a " + std::to_string(checkpoint->width) + " x " +
                             std::to_string(checkpoint->height) + " image, not " +
                             std::to_string(film_.Width()) + " x " +
                             std::to_string(film_.Height()));
    }
    std::string changed = DescribeDifferences(checkpoint->fingerprint, CurrentFingerprint());
    if (!changed.empty()) {
        return Status::Error(path + " belongs to another render: " + changed + " changed");
    }
    if (exact && checkpoint->stamps.size() != scene_.objectTriangles.size()) {
        return Status::Error(path + " is damaged (its stamps do not match the triangles)");
    }
    pendingCheckpoint_ = std::move(checkpoint);
    accumulationReady_ = false;
    checkpointFileChecked_ = true;
    return Status::Ok();
}

int RenderSession::ResumePass() const {
    return pendingCheckpoint_ ? pendingCheckpoint_->schedule.passCounter : 0;
}

void RenderSession::ApplyCheckpoint(const Checkpoint& checkpoint) {
    schedule_.Restore(checkpoint.schedule);
    if (checkpoint.exact) {
        const std::size_t plane = std::size_t(film_.Width()) * std::size_t(film_.Height());
        for (int c = 0; c < 3; ++c) {
            std::span<const float> saved = checkpoint.floatSums.subspan(c * plane, plane);
            std::copy(saved.begin(), saved.end(), film_.FloatSums(c).begin());
        }
        random_.x = checkpoint.random[0];
        random_.y = checkpoint.random[1];
        random_.z = checkpoint.random[2];
        random_.w = checkpoint.random[3];
        octree_.queryCounter = checkpoint.queryCounter;
        RestoreStamps(checkpoint.stamps);
    } else {
        std::copy(checkpoint.fixedSums.begin(), checkpoint.fixedSums.end(),
                  film_.FixedSums().begin());
    }
    checkpointPass_ = checkpoint.schedule.passCounter;
}

const DibImage& RenderSession::DisplayImage() {
    if (!display_.Showing() && !film_.Empty() && schedule_.PassesHeld() > 0) {
        film_.ToneMapRows(0, film_.Height(), schedule_.PassesHeld(), false);
        film_.ConvertRows(0, film_.Height());
    }
    return film_.Image();
}

}  // namespace lumeno
