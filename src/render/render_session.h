// RenderSession: progressive rendering of the loaded scene. A worker thread
// prepares the scene once (octree, light probe), then runs passes until the
// session completes (1600 passes) or rendering is switched off. One pass
// traces one camera path per pixel, inside a sub-pixel stratum 1/40 pixel
// wide that moves on by one step per pass, and adds the radiance to per-pixel
// sums. Every 40 rows the running mean is tone-mapped and shown with a yellow
// line at the row just traced; after each pass the title reads
// "path = %d / %d"; every 16 passes the mean is saved as
// "./out/path_trace_%d.pfm".
//
// Two modes share the pass:
// - Exact: one thread, one generator advanced pixel after pixel for the
//   program's whole life, and the octree's numbered queries.
// - Parallel: all pixels of a band traced at once; each camera sample draws
//   from a generator seeded by pass and pixel, so the image is the same for
//   any number of threads.
//
// The session shows its work only through a DisplaySink and a
// SessionListener; it never calls a window.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "light/light_probe.h"
#include "light/random.h"
#include "render/dib_image.h"
#include "render/display_sink.h"
#include "scene/diagnostics.h"
#include "scene/float_plane.h"
#include "scene/scene.h"
#include "spatial/octree.h"

namespace lumeno {

// Per-pixel sums of every radiance sample traced, one plane per channel.
struct AccumulationBuffer {
    FloatPlane red, green, blue;
};

// Tone-mapped display values, from which the window's bitmap is filled.
struct DisplayBuffer {
    FloatPlane red, green, blue;
};

enum class RenderMode { Exact, Parallel };

// What every pixel of one pass shares: the camera snapshot and the stratum.
struct PassSetup {
    Vec3 position;
    Vec3 ex, ey;
    Vec3 c;          // ez · focus
    float s = 1.0f;  // 1 / min(W, H)
    float halfWidth = 0.0f;
    float halfHeight = 0.0f;
    float offsetX = 0.0f;
    float offsetY = 0.0f;
    float stratumStep = 0.0f;
    int passCounter = 0;
};

PassSetup MakePassSetup(const Camera& camera, int width, int height, float offsetX, float offsetY,
                        float stratumStep, int passCounter);

// The camera ray of pixel (x, y) for jitter draws u1, u2 in [0, 1): it lands
// in the stratum [x + offsetX, + stratumStep) × [y + offsetY, + stratumStep).
Ray CameraSampleRay(const PassSetup& setup, int x, int y, float u1, float u2);

// Events of the worker, called on the worker's thread.
class SessionListener {
  public:
    virtual ~SessionListener() = default;
    // A pass finished; passCounter is the number of the next pass.
    virtual void PassFinished(int passCounter) { (void)passCounter; }
    // The worker ended: complete (all passes done), switched off or cancelled.
    virtual void WorkerStopped(bool complete) { (void)complete; }
    // Something the user should know (a failed save, a failed preparation).
    virtual void Message(const std::string& message) { (void)message; }
};

inline constexpr int kTotalPasses = 1600;
inline constexpr int kRefreshRows = 40;
inline constexpr int kSaveEvery = 16;
inline constexpr const char* kProbeImagePath = "./ibl/grace_probe.pfm";
inline constexpr const char* kProbeLightsPath = "./ibl/grace.txt";
inline constexpr const char* kOutputDirectory = "./out";

class RenderSession {
  public:
    // The session refers to the scene (owned by the caller) and shows its
    // work through display; listener may be null.
    RenderSession(Scene& scene, DisplaySink& display, SessionListener* listener = nullptr);
    ~RenderSession();
    RenderSession(const RenderSession&) = delete;
    RenderSession& operator=(const RenderSession&) = delete;

    // Chooses how passes run; threads = 0 means all cores. Takes effect at
    // the next pass.
    void SetMode(RenderMode mode, int threads = 0);
    RenderMode Mode() const { return mode_; }
    int Threads() const { return threads_; }

    // After a scene load: sizes the bitmap and all six planes, draws the
    // wireframe preview and marks both the accumulation and the scene
    // preparation stale. Returns false (nothing sized) for an impossible size.
    // The worker must not be running (Cancel first).
    bool SetImageSize(int width, int height);

    // After a camera change: redraws the preview; the next start begins a
    // fresh image without rebuilding the octree. The worker must not be running.
    void DrawPreview();

    // The Render toggle: switches rendering on or off and returns the new
    // state. Switching on starts a worker unless one is still finishing its
    // pass (that one then simply goes on). Switching off lets the running
    // pass finish. Never waits for a pass.
    bool OnRender();
    bool Enabled() const;
    bool WorkerRunning() const;

    // Abandons the running pass within one row (no save, no count, no title)
    // and waits for the worker to end. The accumulation is then stale.
    void Cancel();

    // The worker's steps, also usable on the caller's thread when no worker
    // runs (the command-line renderer does so).
    void PrepareRender();
    // Runs one pass; true when the session is complete. A cancelled pass
    // returns false and leaves the accumulation stale.
    bool RenderPass();
    // Tone-maps rows [first, end) of the sums into the display buffer.
    void ToneMapRows(int first, int end);

    // Saves the current mean (sums / (passCounter − 1)) as
    // "./out/path_trace_<passCounter>.pfm", creating "./out" when missing.
    // Returns false, with a message to the listener, when it cannot.
    bool SaveMean();
    // The display image as it is now.
    const DibImage& Image() const { return image_; }

    // Session state, readable between passes.
    int imageWidth = 0;
    int imageHeight = 0;
    bool accumulationReady = false;
    bool scenePrepared = false;
    float minSide = 0.0f;
    float offsetX = 0.0f;
    float offsetY = 0.0f;
    float stratumStep = 0.025f;
    int passCounter = 1;
    int totalPasses = kTotalPasses;

    AccumulationBuffer accumulation;
    DisplayBuffer displayBuffer;
    LightProbe probe;
    Octree octree;
    // The exact mode's generator: started once, never reseeded.
    Random random;

  private:
    void RenderThreadMain();
    void TraceRows(int first, int end, const PassSetup& setup);
    void Refresh();
    void Report(const std::string& message);

    Scene& scene_;
    DisplaySink& display_;
    SessionListener* listener_;
    DibImage image_;
    // Keeps the triangles the octree refers to alive.
    std::shared_ptr<TriangleStore> preparedStore_;

    RenderMode mode_ = RenderMode::Parallel;
    int threads_ = 0;

    mutable std::mutex mutex_;  // guards enabled_, running_ and worker_
    bool enabled_ = false;
    bool running_ = false;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
};

}  // namespace lumeno
