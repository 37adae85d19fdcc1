// RenderSession: progressive rendering of the loaded scene. Run prepares the
// scene once (spatial index, light probe), starts a fresh image when the camera or
// the scene changed, and runs passes: one camera path per pixel per pass,
// summed into the film. While a pass runs, the display shows the running mean
// every 40 rows with a yellow line at the row just traced; after each pass
// the title reads "path = %d / %d"; every 16 passes the mean is saved as
// "./out/path_trace_%d.pfm". The session completes after 1600 passes; each
// later run adds one more pass.
//
// Run is the one way passes are run: the desktop's worker thread (started
// by the Render toggle), the command-line renderer and the benchmarks all go
// through it, so whatever a run does at its start happens on every path.
//
// Two modes share the pass and differ only in random numbers and ray queries:
// - Exact: one thread, one generator advanced pixel after pixel for the
//   program's whole life, the octree's numbered queries, float sums.
// - Parallel: rows handed out to all threads in order; each camera sample
//   draws from a generator seeded by pass and pixel, and the sums are
//   fixed-point, so the image is the same bits for any number of threads.
//   Embree answers the ray queries; the octree is not built unless Embree
//   cannot build its scene.
// Each index is built the first time a mode needs it after a scene load.
//
// A pass can be abandoned (Cancel, RequestCancel) within a pixel. Its
// samples are then dropped and everything a pass changes (sums,
// pass counter, offsets, and in the exact mode the generator and the query
// counter) is as the last complete pass left it, so a later run continues as
// if the pass had never started.
//
// The session shows its work only through a DisplaySink and a
// SessionListener; it never calls a window.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "base/status.h"
#include "light/integrator.h"
#include "light/light_probe.h"
#include "light/random.h"
#include "render/checkpoint.h"
#include "render/display_sink.h"
#include "render/film.h"
#include "render/pass_schedule.h"
#include "render/pass_share.h"
#include "scene/scene.h"
#include "spatial/embree_scene.h"
#include "spatial/octree.h"

namespace lumeno {

enum class RenderMode { Exact, Parallel };

// The display is refreshed whenever a multiple of this many rows is traced.
inline constexpr int kRefreshRows = 40;

// Events of a run, called on the thread that runs it (the worker's, or the
// caller's); RowsTraced may come from any of the parallel mode's threads, one
// call at a time.
class SessionListener {
  public:
    virtual ~SessionListener() = default;
    // A pass finished; passCounter is the number of the next pass.
    virtual void PassFinished(int passCounter) { (void)passCounter; }
    // Progress within the pass under way: its first rows rows are traced. At
    // most every 50 ms.
    virtual void RowsTraced(int rows, int height) {
        (void)rows;
        (void)height;
    }
    // The worker ended: complete (all passes done), switched off or cancelled.
    virtual void WorkerStopped(bool complete) { (void)complete; }
    // Something the user should know (a failed save, a failed preparation).
    virtual void Message(const std::string& message) { (void)message; }
};

// Why Run returned.
enum class RunEnd {
    NoImage,       // SetImageSize has not succeeded: nothing to render
    Complete,      // the pass that completed the session (or one after it) ran
    LastPassDone,  // the passes up to lastPass are in the sums
    Stopped,       // keepGoing said no, between passes
    Cancelled,     // a pass was abandoned; the sums hold the passes before it
};

class RenderSession {
  public:
    // The session refers to the scene (owned by the caller) and shows its
    // work through display; listener may be null.
    RenderSession(Scene& scene, DisplaySink& display, SessionListener* listener = nullptr);
    ~RenderSession();
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

    // Chooses how passes run; threads = 0 means all cores. Changing between
    // the modes starts a fresh image. No run may be under way.
    void SetMode(RenderMode mode, int threads = 0);
    RenderMode Mode() const { return mode_; }
    int Threads() const { return threads_; }

    // After a scene load: sizes the film, draws the wireframe preview and
    // marks both the accumulation and the scene preparation stale. Returns
    // false (nothing sized) for an impossible size. No run may be under way.
    bool SetImageSize(int width, int height);

    // After a camera change: redraws the preview; the next run begins a fresh
    // image without rebuilding the octree, and the checkpoint (of the old
    // view) is discarded. No run may be under way.
    void DrawPreview();

    // Saved means are PFM files (the default) or EXR files.
    void SetSaveFormat(MeanFormat format) { saveFormat_ = format; }

    // Makes the next run continue the render saved in "./out/render.checkpoint"
    // instead of starting afresh. Fails, changing nothing, when there is no
    // checkpoint, it is damaged or of an unknown version, or it belongs to
    // another scene, camera, image size or mode (the message names which).
    // Call after SetImageSize and SetMode.
    Status ResumeFromCheckpoint();
    // The pass a run will continue at, when a checkpoint is to be resumed.
    int ResumePass() const;
    // The fingerprint of the scene, camera and probe as they are now.
    Fingerprint CurrentFingerprint();

    // Runs passes on the calling thread until the passes up to lastPass are
    // in the sums, the session completes (a run after completion adds exactly
    // one pass), keepGoing (asked before every pass, when given) says no, or
    // the run is cancelled.
    //
    // With a share, this process is one of several that render the same
    // image (a farm, parallel mode only): see PassShare.
    RunEnd Run(int lastPass, const std::function<bool()>& keepGoing = {},
               PassShare* share = nullptr);

    // For a process of a farm that continues another's render: the next run
    // starts at pass `pass` with empty sums (its share of what follows).
    void StartAtPass(int pass);

    // The Render toggle: switches rendering on or off and returns the new
    // state. Switching on starts a worker thread that runs passes until the
    // session completes or rendering is switched off, unless a worker is still
    // finishing its pass (that one then simply goes on). Switching off lets
    // the running pass finish. Never waits for a pass.
    bool OnRender();
    bool Enabled() const;
    bool WorkerRunning() const;

    // Abandons the pass under way and waits for the worker to end; rendering
    // is then off.
    void Cancel();
    // Asks the pass under way to be abandoned, without waiting. Safe from a
    // signal handler. The request stands until Cancel returns or a new run
    // of the worker starts.
    void RequestCancel() { cancel_.store(true, std::memory_order_relaxed); }

    // Saves the current mean (sums / passes held) as
    // "./out/path_trace_<passCounter>.pfm" (or .exr), creating "./out" when
    // missing. On failure the listener hears why too.
    Status SaveMean();
    // The file name SaveMean writes now.
    std::string MeanPath() const;
    // Writes the mean to path in format, as SaveMean does.
    Status SaveMeanAs(const std::string& path, MeanFormat format);
    // Writes "./out/render.checkpoint" for the passes complete now. A file
    // there that is not a readable checkpoint is first moved aside to
    // "<name>.unreadable", never overwritten.
    Status WriteCheckpoint();

    // The display image as it is now. When nothing shows the session's
    // pictures (a terminal), the display is made here from the sums.
    const DibImage& DisplayImage();

    // State, readable when no run is under way.
    const PassSchedule& Schedule() const { return schedule_; }
    const Film& GetFilm() const { return film_; }
    Film& GetFilm() { return film_; }
    const Octree& GetOctree() const { return octree_; }
    const EmbreeScene& GetEmbreeScene() const { return embree_; }
    const LightProbe& Probe() const { return probe_; }
    const IntegratorSettings& Settings() const { return settings_; }
    bool AccumulationReady() const { return accumulationReady_; }
    bool ScenePrepared() const { return scenePrepared_; }
    int ImageWidth() const { return film_.Width(); }
    int ImageHeight() const { return film_.Height(); }

  private:
    Status WriteCheckpointFile();
    // Draws the wireframe preview into the film and shows it; the sums are
    // then stale.
    void ShowPreview();
    void Prepare();
    // Builds the spatial index the mode asks for, if this scene has none yet.
    void PrepareIndex(Diagnostics& diagnostics);
    // Traces every row of the pass setup describes into the film's pending
    // samples; false (everything as before the pass) when cancelled. With
    // saveAlongside, the periodic save of the sums already committed runs
    // beside the pass (parallel mode only) and is done, cancelled or not,
    // when it returns.
    bool TracePass(const PassSetup& setup, bool saveAlongside = false);
    // The mean image and the checkpoint, written every kSaveEvery passes.
    void SavePeriodically();
    // Commits the traced pass: final refresh, sums, title.
    void FinishPass(int passNumber);
    // The schedule counted a pass: tells the listener.
    void PassCounted();
    RunEnd RunShared(int lastPass, const std::function<bool()>& keepGoing, PassShare& share);
    void RenderThreadMain();
    // Traces row y; false when the pass was cancelled on the way.
    bool TraceRow(int y, const PassSetup& setup, RayQueries& queries);
    // Row y of the pass is traced: moves the traced prefix on, refreshing the
    // display at every 40th row. blocking waits for another thread's refresh.
    void RowTraced(int y, bool blocking);
    void RefreshBand(int y, int passNumber);
    void RefreshEnd(int passNumber);
    void ShowRows(int first, int end);
    void Report(const std::string& message);
    SumKind KindForMode() const;

    std::uint64_t CheckpointBound() const;
    // Creates "./out" when missing and, once, sweeps it of stale temporaries.
    Status PrepareOutputFolder();
    void ApplyCheckpoint(const Checkpoint& checkpoint);
    void SaveStamps(std::vector<std::uint16_t>& stamps) const;
    void RestoreStamps(std::span<const std::uint16_t> stamps);

    Scene& scene_;
    DisplaySink& display_;
    SessionListener* listener_;

    Film film_;
    PassSchedule schedule_;
    IntegratorSettings settings_;
    LightProbe probe_;
    Octree octree_;
    EmbreeScene embree_;
    // The prepared scene's hittable triangles: either index is built from
    // them when a mode first needs it.
    std::vector<Triangle*> preparedTriangles_;
    bool octreeBuilt_ = false;
    bool embreeTried_ = false;
    // The exact mode's generator: started once, never reseeded.
    Random random_;
    // Keeps the triangles the octree refers to alive.
    std::shared_ptr<TriangleStore> preparedStore_;
    bool accumulationReady_ = false;
    bool scenePrepared_ = false;
    // The bitmap shows the preview: the next refresh converts every row.
    bool convertAll_ = true;
    MeanFormat saveFormat_ = MeanFormat::Pfm;
    bool temporariesSwept_ = false;

    // The scene's and the probe's fingerprints, made once per scene.
    std::optional<Fingerprint> geometryFingerprint_;
    std::optional<Fingerprint> probeFingerprint_;
    // A checkpoint the next preparation continues from.
    std::unique_ptr<Checkpoint> pendingCheckpoint_;
    // The pass counter the last checkpoint holds (0: none written yet), and
    // whether the file already there was looked at.
    int checkpointPass_ = 0;
    bool checkpointFileChecked_ = false;
    // The exact mode's stamps at the start of the pass under way.
    std::vector<std::uint16_t> stampsAtPassStart_;

    RenderMode mode_ = RenderMode::Parallel;
    int threads_ = 0;
    // The parallel mode's threads, made once per SetMode (kept out of this
    // header: the task library's headers clash with the window toolkit's).
    struct Arena;
    std::unique_ptr<Arena> arena_;

    // Rows of the pass under way: which are traced, and how many from the
    // top are (guarded by progressMutex_, which also keeps the listener to
    // one caller at a time).
    std::unique_ptr<std::atomic<std::uint8_t>[]> rowDone_;
    int tracedPrefix_ = 0;
    int tracingPass_ = 0;
    std::int64_t lastProgressNanos_ = 0;
    std::mutex progressMutex_;

    mutable std::mutex mutex_;  // guards enabled_, running_ and worker_
    bool enabled_ = false;
    bool running_ = false;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
};

}  // namespace lumeno
