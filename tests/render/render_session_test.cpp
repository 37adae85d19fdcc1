#include "render/render_session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <vector>

#include "base/pfm_file.h"
#include "base/thread_sanitizer.h"
#include "scene/material.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ReadFile;
using testing::ScopedWorkingDirectory;
using testing::TempDir;

// Records what the session shows, and lets a test act on a refresh.
class RecordingDisplay : public DisplaySink {
  public:
    void SetTitle(const std::string& title) override {
        std::lock_guard lock(mutex);
        titles.push_back(title);
    }
    void ShowImage(const DibImage& image) override {
        std::function<void()> hook;
        {
            std::lock_guard lock(mutex);
            ++shows;
            yellowRows.push_back(-1);
            for (int y = 0; y < image.height; ++y) {
                const std::uint8_t* p = image.PixelAt(0, y);
                if (p[0] == 0 && p[1] == 255 && p[2] == 255) {
                    yellowRows.back() = y;
                }
            }
            hook = onShow;
        }
        if (hook) {
            hook();
        }
    }
    std::mutex mutex;
    std::vector<std::string> titles;
    std::vector<int> yellowRows;
    int shows = 0;
    std::function<void()> onShow;
};

class StopListener : public SessionListener {
  public:
    void WorkerStopped(bool wasComplete) override {
        std::lock_guard lock(mutex);
        stopped = true;
        complete = wasComplete;
        changed.notify_all();
    }
    bool WaitForStop() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return stopped; });
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool stopped = false;
    bool complete = false;
};

// A working folder with a uniform environment of file value `value` and no
// probe lights, and a scene whose camera looks at a floor of two triangles.
struct SessionFixture {
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Root()};
    Scene scene;
    RecordingDisplay display;
    StopListener listener;
    RenderSession session{scene, display, &listener};

    explicit SessionFixture(float environment = 255.0f, bool floor = false) {
        FloatPlane plane;
        plane.Create(4, 4);
        plane.Fill(environment);
        std::filesystem::create_directories("ibl");
        EXPECT_TRUE(WritePfm("ibl/grace_probe.pfm", plane, plane, plane, 1.0f));
        dir.Write("ibl/grace.txt", "1 0\n0 -1 0 0 0 0 1 1 1\n");
        scene.camera.position = {0, 1, -3};
        scene.camera.lookAt = {0, 0, 0};
        DeriveCameraBasis(scene.camera);
        if (floor) {
            AddFloor();
        }
    }

    void AddFloor() {
        static MaterialTable materials;
        Triangle a;
        a.p0 = {-5, 0, -5};
        a.p1 = {5, 0, -5};
        a.p2 = {5, 0, 5};
        Triangle b;
        b.p0 = {-5, 0, -5};
        b.p1 = {5, 0, 5};
        b.p2 = {-5, 0, 5};
        for (Triangle t : {a, b}) {
            t.normal0.x = kNoVertexNormals;
            ComputeFaceFrame(t);
            t.material = &materials.Default();
            scene.Append(TriangleList::Object, t);
        }
    }

    void RunPasses(int count) {
        session.Run(0);  // prepares: a stale accumulation starts again at pass 1
        session.Run(session.Schedule().PassCounter() + count - 1);
    }
    int PassCounter() const { return session.Schedule().PassCounter(); }
};

TEST(CameraSampleRay, PixelZeroOfPassOnePointsToTheUpperLeft) {
    Camera camera;
    DeriveCameraBasis(camera);
    PassSetup setup = PassSchedule().Setup(camera, 320, 240);
    Ray ray = CameraSampleRay(setup, 0, 0, 0.0f, 0.0f);
    Vec3 expected = Normalize(Vec3{-160.0f / 240.0f, -0.5f, 1.0f});
    EXPECT_NEAR(ray.direction.x, expected.x, 1e-6f);
    EXPECT_NEAR(ray.direction.y, expected.y, 1e-6f);
    EXPECT_NEAR(ray.direction.z, expected.z, 1e-6f);
    // The jitter stays inside the pixel's stratum of width 0.025.
    Ray far = CameraSampleRay(setup, 0, 0, 0.9999999f, 0.9999999f);
    float u = far.direction.x / far.direction.z;
    EXPECT_GT(u, -160.0f / 240.0f);
    EXPECT_LT(u, (0.025f - 160.0f) / 240.0f + 1e-6f);
}

TEST(RenderSession, FirstPassTitleAndStratumSteps) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(2, 2));
    f.RunPasses(1);
    ASSERT_FALSE(f.display.titles.empty());
    EXPECT_EQ(f.display.titles.back(), "path = 1 / 1600");
    const PassSchedule& schedule = f.session.Schedule();
    EXPECT_EQ(schedule.PassCounter(), 2);
    EXPECT_FLOAT_EQ(schedule.OffsetX(), 0.025f);
    // offsetX takes 41 values per cycle: offsetY moves on after pass 41.
    f.RunPasses(39);
    EXPECT_EQ(schedule.OffsetY(), 0.0f);
    EXPECT_GT(schedule.OffsetX(), 0.999f);
    f.RunPasses(1);
    EXPECT_EQ(schedule.PassCounter(), 42);
    EXPECT_EQ(schedule.OffsetX(), 0.0f);
    EXPECT_EQ(schedule.OffsetY(), 0.025f);
    const PassSchedule::State at42 = PassSchedule::StateAtPass(42);
    EXPECT_EQ(at42.offsetX, schedule.OffsetX());
    EXPECT_EQ(at42.offsetY, schedule.OffsetY());
}

TEST(RenderSession, SavesEverySixteenPassesIntoACreatedOutFolder) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(3, 2));
    f.RunPasses(14);
    for (int n = 1; n <= 16; ++n) {
        EXPECT_FALSE(std::filesystem::exists("out/path_trace_" + std::to_string(n) + ".pfm"));
    }
    f.RunPasses(1);  // pass 15: the counter becomes 16
    std::string bytes = ReadFile("out/path_trace_16.pfm");
    ASSERT_EQ(bytes.size(), 17u + 3 * 2 * 12);
    float first = 0.0f;
    std::memcpy(&first, bytes.data() + 17, 4);
    // A uniform environment of 255 gives radiance 1; the mean of 15 samples.
    EXPECT_NEAR(first, 1.0f, 1e-5f);
}

TEST(RenderSession, CompletesAfter1600PassesAndThenAddsOnePassPerStart) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(1, 1));
    EXPECT_EQ(f.session.Run(INT_MAX), RunEnd::Complete);
    EXPECT_EQ(f.PassCounter(), 1601);
    EXPECT_TRUE(std::filesystem::exists("out/path_trace_1600.pfm"));
    EXPECT_FALSE(std::filesystem::exists("out/path_trace_1601.pfm"));
    EXPECT_EQ(f.display.titles.back(), "path = 1600 / 1600");

    EXPECT_TRUE(f.session.OnRender());
    ASSERT_TRUE(f.listener.WaitForStop());
    EXPECT_TRUE(f.listener.complete);
    EXPECT_FALSE(f.session.Enabled());
    EXPECT_EQ(f.PassCounter(), 1602);
    EXPECT_EQ(f.display.titles.back(), "path = 1601 / 1600");
}

TEST(RenderSession, RefreshesEveryFortyRowsWithAYellowLine) {
    SessionFixture f(0.0f);
    ASSERT_TRUE(f.session.SetImageSize(2, 100));
    int before = f.display.shows;
    f.RunPasses(1);
    std::vector<int> rows(f.display.yellowRows.begin() + before, f.display.yellowRows.end());
    EXPECT_EQ(rows, (std::vector<int>{0, 40, 80, -1}));

    SessionFixture small(0.0f);
    ASSERT_TRUE(small.session.SetImageSize(2, 30));
    before = small.display.shows;
    small.RunPasses(1);
    EXPECT_EQ(small.display.shows - before, 2);
}

TEST(RenderSession, SwitchingOffMidPassLetsThePassFinish) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(4, 90));
    bool switched = false;
    f.display.onShow = [&] {
        if (!switched) {
            switched = true;
            EXPECT_FALSE(f.session.OnRender());  // off, during pass 1
        }
    };
    f.display.shows = 0;
    ASSERT_TRUE(f.session.OnRender());
    ASSERT_TRUE(f.listener.WaitForStop());
    EXPECT_FALSE(f.listener.complete);
    EXPECT_EQ(f.PassCounter(), 2);
    EXPECT_EQ(f.display.titles.back(), "path = 1 / 1600");
}

TEST(RenderSession, TogglingOffAndOnAtOnceNeverWaitsForever) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(8, 6));
    // Off and on again while the worker ends its run (and writes its
    // checkpoint): the toggle joins that worker before it starts the next.
    for (int i = 0; i < 200; ++i) {
        f.session.OnRender();
        std::this_thread::sleep_for(std::chrono::microseconds(50 * (i % 7)));
    }
    f.session.Cancel();
    EXPECT_FALSE(f.session.WorkerRunning());
    EXPECT_GT(f.PassCounter(), 1);
}

TEST(RenderSession, CancelAbandonsThePassWithoutCountingIt) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(4, 90));
    std::size_t titlesBefore = f.display.titles.size();
    // Cancel from another thread while the worker is inside its first pass;
    // the worker waits at that refresh until the cancel has switched
    // rendering off (which Cancel does before it waits for the worker).
    std::thread canceller;
    f.display.onShow = [&] {
        if (!canceller.joinable()) {
            canceller = std::thread([&] { f.session.Cancel(); });
            while (f.session.Enabled()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
    };
    ASSERT_TRUE(f.session.OnRender());
    ASSERT_TRUE(f.listener.WaitForStop());
    canceller.join();
    // Nothing of the abandoned pass stays: a run goes on at pass 1.
    EXPECT_EQ(f.PassCounter(), 1);
    EXPECT_TRUE(f.session.AccumulationReady());
    EXPECT_EQ(f.display.titles.size(), titlesBefore);
    EXPECT_FALSE(f.session.Enabled());
    EXPECT_FALSE(f.session.WorkerRunning());
}

// Called off while the next scene's index is built (a reload, a window
// closed): the sums and pass count still belong to the scene before, so the
// run ends without a checkpoint or a mean, and the earlier checkpoint stays.
TEST(RenderSession, CalledOffWhilePreparingSavesNothing) {
    SessionFixture f;
    ASSERT_TRUE(f.session.SetImageSize(8, 6));
    f.RunPasses(20);
    const std::string saved = ReadFile("out/render.checkpoint");
    ASSERT_FALSE(saved.empty());

    f.AddFloor();  // another scene
    ASSERT_TRUE(f.session.SetImageSize(8, 6));
    f.session.RequestCancel();
    EXPECT_EQ(f.session.Run(40), RunEnd::Cancelled);
    EXPECT_FALSE(f.session.AccumulationReady());
    EXPECT_EQ(ReadFile("out/render.checkpoint"), saved);
    EXPECT_FALSE(f.session.SaveMean());
    EXPECT_FALSE(f.session.WriteCheckpoint());
}

TEST(RenderSession, CameraChangeRestartsAtPassOneWithoutRebuilding) {
#ifdef LUMENO_THREAD_SANITIZER
    GTEST_SKIP() << "the thread sanitizer build answers the parallel mode with the octree";
#endif
    SessionFixture f(255.0f, true);
    ASSERT_TRUE(f.session.SetImageSize(4, 3));
    f.RunPasses(3);
    // The parallel mode asks Embree and builds no octree.
    ASSERT_EQ(f.session.GetEmbreeScene().TriangleCount(), 2u);
    EXPECT_EQ(f.session.GetOctree().Stats().references, 0u);
    f.scene.triangleStore = std::make_shared<TriangleStore>();  // would show a rebuild
    f.scene.objectTriangles.clear();
    f.session.DrawPreview();
    EXPECT_FALSE(f.session.AccumulationReady());
    f.RunPasses(1);
    EXPECT_EQ(f.PassCounter(), 2);
    EXPECT_EQ(f.display.titles.back(), "path = 1 / 1600");
    EXPECT_EQ(f.session.GetEmbreeScene().TriangleCount(), 2u);
    EXPECT_TRUE(f.session.ScenePrepared());
    // The exact mode, chosen later, gets its octree over the prepared
    // scene's triangles, not over whatever the lists hold by then.
    f.session.SetMode(RenderMode::Exact, 1);
    f.RunPasses(1);
    EXPECT_EQ(f.session.GetOctree().Stats().references, 2u);
}

// Sums of every pixel after some passes, in the given mode.
std::vector<float> Render(RenderMode mode, int threads, int passes) {
    SessionFixture f(120.0f, true);
    f.session.SetMode(mode, threads);
    EXPECT_TRUE(f.session.SetImageSize(12, 9));
    f.RunPasses(passes);
    std::vector<float> sums;
    for (int y = 0; y < 9; ++y) {
        for (int x = 0; x < 12; ++x) {
            Vec3 mean = f.session.GetFilm().Mean(x, y, passes);
            sums.push_back(mean.x);
            sums.push_back(mean.z);
        }
    }
    return sums;
}

TEST(RenderSession, ExactModeRepeatsItselfBitForBit) {
    EXPECT_EQ(Render(RenderMode::Exact, 1, 4), Render(RenderMode::Exact, 1, 4));
}

TEST(RenderSession, ParallelModeGivesTheSameBitsForAnyThreadCount) {
    std::vector<float> one = Render(RenderMode::Parallel, 1, 3);
    EXPECT_EQ(one, Render(RenderMode::Parallel, 2, 3));
    EXPECT_EQ(one, Render(RenderMode::Parallel, 3, 3));
}

TEST(RenderSession, ASaveBesideTheNextPassHoldsOnlyThePassesBeforeIt) {
    // In the parallel mode the mean of passes 1-15 is written while pass 16
    // is traced; it must be the file a run that stops after pass 15 writes.
    auto savedAfter = [](int passes) {
        SessionFixture f(120.0f, true);
        f.session.SetMode(RenderMode::Parallel, 2);
        EXPECT_TRUE(f.session.SetImageSize(12, 9));
        f.RunPasses(passes);
        return ReadFile("out/path_trace_16.pfm");
    };
    const std::string alongside = savedAfter(20);
    ASSERT_FALSE(alongside.empty());
    EXPECT_EQ(alongside, savedAfter(15));
}

TEST(RenderSession, ParallelAndExactModesConvergeToTheSameMean) {
    const int passes = 64;
    std::vector<float> exact = Render(RenderMode::Exact, 1, passes);
    std::vector<float> parallel = Render(RenderMode::Parallel, 0, passes);
    double exactSum = 0.0;
    double parallelSum = 0.0;
    for (std::size_t i = 0; i < exact.size(); ++i) {
        exactSum += exact[i];
        parallelSum += parallel[i];
    }
    ASSERT_GT(exactSum, 0.0);
    EXPECT_NEAR(parallelSum / exactSum, 1.0, 0.03);
}

}  // namespace
}  // namespace lumeno
