// lumeno-render as a user runs it: exit status, --passes, the files it
// leaves, and the same bits as the desktop's worker thread in the exact mode.
#include <ImfFrameBuffer.h>
#include <ImfInputFile.h>
#include <ImfRgbaFile.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xxhash.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <mutex>
#include <thread>

#include "render/render_session.h"
#include "scene/working_scene.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ReadFile;
using testing::ScopedWorkingDirectory;
using testing::TempDir;

struct ProgramRun {
    int status = -1;
    std::string err;
};

ProgramRun RunRender(const TempDir& dir, const std::string& arguments) {
    std::string command = std::string("'") + LUMENO_RENDER_PROGRAM + "' -C '" + dir.Root() + "' " +
                          arguments + " >/dev/null 2>'" + dir.Path("stderr") + "'";
    int raw = std::system(command.c_str());
    ProgramRun run;
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    run.err = ReadFile(dir.Path("stderr"));
    return run;
}

TEST(RenderProgram, RendersTheRequestedPassesAndSavesTheMean) {
    TempDir dir;
    testing::WriteEveryMaterialScene(dir);
    ProgramRun run = RunRender(dir, "--passes 17 --quiet");
    EXPECT_EQ(run.status, 0) << run.err;
    // Saved after pass 15 (file 16) and at the end (file 18: 17 passes).
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out/path_trace_16.pfm")));
    std::string last = ReadFile(dir.Path("out/path_trace_18.pfm"));
    EXPECT_EQ(last.size(), std::string("PF\n32\n24\n-1.000000\n").size() + 32u * 24u * 12u);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out/path_trace_19.pfm")));
}

TEST(RenderProgram, RefusesAMissingSceneAndABadCommandLine) {
    TempDir dir;
    ProgramRun missing = RunRender(dir, "--passes 1");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("scene"), std::string::npos) << missing.err;
    EXPECT_EQ(RunRender(dir, "--passes 0").status, 2);
    EXPECT_EQ(RunRender(dir, "--exact --threads 2").status, 2);
    EXPECT_EQ(RunRender(dir, "--no-such-option").status, 2);
}

TEST(RenderProgram, AFailedSaveIsReportedAsAFailure) {
    TempDir dir;
    testing::WriteEveryMaterialScene(dir, 8, 6);
    dir.Write("out", "a file where the folder should be");
    ProgramRun run = RunRender(dir, "--passes 2");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("NOT saved"), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("saved ./out"), std::string::npos) << run.err;
}

class NullDisplay : public DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const DibImage&) override {}
};

// Switches rendering off after pass `last`, as a user would, and waits.
class PassCounter : public SessionListener {
  public:
    explicit PassCounter(int last) : last_(last) {}
    RenderSession* session = nullptr;
    void PassFinished(int passCounter) override {
        if (passCounter == last_ + 1) {
            session->OnRender();  // off: the worker ends before the next pass
        }
    }
    void WorkerStopped(bool) override {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        changed_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopped_; });
    }

  private:
    int last_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopped_ = false;
};

TEST(RenderProgram, ExactModeGivesTheWorkerThreadsBits) {
    const int passes = 5;
    TempDir cli;
    testing::WriteEveryMaterialScene(cli);
    ProgramRun run = RunRender(cli, "--exact --quiet --passes " + std::to_string(passes));
    ASSERT_EQ(run.status, 0) << run.err;

    TempDir window;
    testing::WriteEveryMaterialScene(window);
    {
        ScopedWorkingDirectory cwd(window.Root());
        WorkingScene working;
        Diagnostics diagnostics;
        ASSERT_TRUE(working.Load(diagnostics));
        NullDisplay display;
        PassCounter counter(passes);
        RenderSession session(working.scene, display, &counter);
        counter.session = &session;
        session.SetMode(RenderMode::Exact);
        ASSERT_TRUE(session.SetImageSize(working.scene.camera.width, working.scene.camera.height));
        ASSERT_TRUE(session.OnRender());
        counter.Wait();
        ASSERT_EQ(session.Schedule().PassCounter(), passes + 1);
        ASSERT_TRUE(session.SaveMean());
    }
    std::string name = "out/path_trace_" + std::to_string(passes + 1) + ".pfm";
    std::string fromCli = ReadFile(cli.Path(name));
    ASSERT_FALSE(fromCli.empty());
    EXPECT_TRUE(fromCli == ReadFile(window.Path(name)));
}

// The final mean of an uninterrupted render and of one stopped after
// `stopAt` passes and resumed, in the given mode.
void ExpectResumeGivesTheSameBits(const std::string& mode, int stopAt, int passes) {
    TempDir straight;
    testing::WriteEveryMaterialScene(straight);
    ASSERT_EQ(RunRender(straight, mode + " --quiet --passes " + std::to_string(passes)).status, 0);

    TempDir interrupted;
    testing::WriteEveryMaterialScene(interrupted);
    ASSERT_EQ(RunRender(interrupted, mode + " --quiet --passes " + std::to_string(stopAt)).status,
              0);
    ProgramRun resumed =
        RunRender(interrupted, mode + " --quiet --resume --passes " + std::to_string(passes));
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    std::string name = "out/path_trace_" + std::to_string(passes + 1) + ".pfm";
    std::string expected = ReadFile(straight.Path(name));
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(ReadFile(interrupted.Path(name)) == expected) << mode << " stopped at " << stopAt;
}

TEST(RenderProgram, AResumedRenderGivesTheBitsOfAnUninterruptedOne) {
    for (const char* mode : {"--exact", "--threads 2"}) {
        ExpectResumeGivesTheSameBits(mode, 16, 40);
        ExpectResumeGivesTheSameBits(mode, 21, 40);
    }
}

TEST(RenderProgram, AKilledRenderResumesFromItsLastWholeCheckpoint) {
    const std::string arguments = "--quiet --passes 400";
    TempDir straight;
    testing::WriteEveryMaterialScene(straight, 48, 36);
    ASSERT_EQ(RunRender(straight, arguments).status, 0);

    TempDir killed;
    testing::WriteEveryMaterialScene(killed, 48, 36);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execl(LUMENO_RENDER_PROGRAM, "lumeno-render", "-C", killed.Root().c_str(), "--quiet",
              "--passes", "400", static_cast<char*>(nullptr));
        _exit(127);
    }
    // Kill it at a moment that depends on the clock, once a checkpoint exists.
    while (!std::filesystem::exists(killed.Path("out/render.checkpoint"))) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    std::this_thread::sleep_for(std::chrono::microseconds(ticks % 200000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    ProgramRun resumed = RunRender(killed, "--resume " + arguments);
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_TRUE(ReadFile(killed.Path("out/path_trace_401.pfm")) ==
                ReadFile(straight.Path("out/path_trace_401.pfm")));
}

TEST(RenderProgram, ResumingRefusesMissingDamagedAndForeignCheckpoints) {
    TempDir dir;
    testing::WriteEveryMaterialScene(dir, 8, 6);
    ProgramRun none = RunRender(dir, "--resume");
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no checkpoint"), std::string::npos) << none.err;

    ASSERT_EQ(RunRender(dir, "--quiet --passes 3").status, 0);
    const std::string path = dir.Path("out/render.checkpoint");
    const std::string whole = ReadFile(path);
    ASSERT_FALSE(whole.empty());

    ProgramRun otherMode = RunRender(dir, "--resume --exact");
    EXPECT_EQ(otherMode.status, 1);
    EXPECT_NE(otherMode.err.find("mode"), std::string::npos) << otherMode.err;

    std::string scene = ReadFile(dir.Path("scene/scene.txt"));
    dir.Write("scene/scene.txt", scene + "camera_pos 0 -1 -3\n");
    ProgramRun moved = RunRender(dir, "--resume");
    EXPECT_EQ(moved.status, 1);
    EXPECT_NE(moved.err.find("the camera changed"), std::string::npos) << moved.err;
    dir.Write("scene/scene.txt", scene);

    std::string damaged = whole;
    damaged[damaged.size() / 2] ^= 0x10;
    dir.Write("out/render.checkpoint", damaged);
    ProgramRun flipped = RunRender(dir, "--resume");
    EXPECT_EQ(flipped.status, 1);
    EXPECT_NE(flipped.err.find("damaged"), std::string::npos) << flipped.err;
    dir.Write("out/render.checkpoint", whole.substr(0, whole.size() - 5));
    EXPECT_EQ(RunRender(dir, "--resume").status, 1);
    // A pass number that no render reaches, under a checksum made to match
    // (the checksum guards against damage, not forgery).
    std::string forged = whole;
    const std::int32_t farPass = std::numeric_limits<std::int32_t>::max();
    std::memcpy(forged.data() + 33, &farPass,
                sizeof farPass);  // magic, version, length, mode, size
    const std::uint64_t sum = XXH3_64bits(forged.data(), forged.size() - 8);
    std::memcpy(forged.data() + forged.size() - 8, &sum, sizeof sum);
    dir.Write("out/render.checkpoint", forged);
    ProgramRun far = RunRender(dir, "--resume");
    EXPECT_EQ(far.status, 1);
    EXPECT_NE(far.err.find("damaged"), std::string::npos) << far.err;

    // A checkpoint of a version this program does not know is kept aside,
    // not overwritten, when a fresh render saves its own.
    std::string future = whole;
    future[8] = 99;
    dir.Write("out/render.checkpoint", future);
    ProgramRun unknown = RunRender(dir, "--resume");
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("version 99"), std::string::npos) << unknown.err;
    EXPECT_EQ(RunRender(dir, "--quiet --passes 2").status, 0);
    EXPECT_EQ(ReadFile(path + ".unreadable"), future);
    EXPECT_EQ(RunRender(dir, "--quiet --resume --passes 4").status, 0);
}

TEST(RenderProgram, TheExrOutputHoldsThePfmsFloats) {
    TempDir dir;
    testing::WriteEveryMaterialScene(dir, 12, 8);
    ProgramRun run = RunRender(dir, "--quiet --passes 5 --save-format exr --exr final.exr");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(std::filesystem::exists(dir.Path("out/path_trace_6.exr")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out/path_trace_6.pfm")));
    ASSERT_EQ(RunRender(dir, "--quiet --resume --passes 5").status, 0);  // the PFM of that state
    std::string pfm = ReadFile(dir.Path("out/path_trace_6.pfm"));
    const std::size_t header = std::string("PF\n12\n8\n-1.000000\n").size();
    ASSERT_EQ(pfm.size(), header + 12u * 8u * 12u);

    Imf::RgbaInputFile unused(dir.Path("final.exr").c_str());  // opens as a plain EXR
    Imf::InputFile file(dir.Path("final.exr").c_str());
    std::vector<float> channels[3];
    Imf::FrameBuffer frame;
    const char* names[3] = {"R", "G", "B"};
    for (int c = 0; c < 3; ++c) {
        channels[c].resize(12 * 8);
        frame.insert(names[c], Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(channels[c].data()),
                                          sizeof(float), sizeof(float) * 12));
    }
    file.setFrameBuffer(frame);
    file.readPixels(0, 7);
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 12; ++x) {
            for (int c = 0; c < 3; ++c) {
                float stored = 0.0f;
                // PFM rows run bottom to top.
                std::memcpy(&stored, pfm.data() + header + ((7 - y) * 12 + x) * 12 + c * 4, 4);
                ASSERT_EQ(channels[c][static_cast<std::size_t>(y * 12 + x)], stored);
            }
        }
    }
}

}  // namespace
}  // namespace lumeno
