// lumeno-render as a user runs it: exit status, --passes, the files it
// leaves, and the same bits as the desktop's worker thread in the exact mode.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

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

}  // namespace
}  // namespace lumeno
