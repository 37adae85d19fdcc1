// lumeno-render: the headless renderer. It loads "./scene/scene.txt" as the
// desktop's Scene load does, renders it through the same session, and leaves
// the mean image in "./out/path_trace_<n>.pfm" (and, on request, a PNG of the
// display image). SIGINT and SIGTERM abandon the pass under way and save the
// passes completed before it.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "base/working_folder.h"
#include "farm.h"
#include "png_output.h"
#include "render/checkpoint.h"
#include "render/render_session.h"
#include "scene/working_scene.h"
#include "terminal_progress.h"

namespace {

// Signals may arrive on any thread (the tracing threads too), so what the
// handler reads is atomic.
std::atomic<lumeno::RenderSession*> g_session{nullptr};
std::atomic<int> g_stopRequested{0};
static_assert(std::atomic<int>::is_always_lock_free, "read and written by a signal handler");
std::atomic<bool> g_loadCancel{false};  // calls off a scene load under way

extern "C" void RequestStop(int) {
    g_stopRequested = 1;
    g_loadCancel.store(true, std::memory_order_relaxed);
    if (lumeno::RenderSession* session = g_session.load()) {
        session->RequestCancel();
    }
}

// The terminal shows no picture; titles are not printed either (the
// progress line says the same).
class NullDisplay : public lumeno::DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const lumeno::DibImage&) override {}
    bool Showing() const override { return false; }
};

class CliListener : public lumeno::SessionListener {
  public:
    explicit CliListener(lumeno::TerminalProgress*& progress) : progress_(progress) {}
    void PassFinished(int passCounter) override {
        if (progress_ != nullptr) {
            progress_->PassFinished(passCounter);
        }
    }
    void RowsTraced(int rows, int height) override {
        if (progress_ != nullptr) {
            progress_->RowsTraced(rows, height);
        }
    }
    void Message(const std::string& message) override {
        if (progress_ != nullptr) {
            progress_->Finish();
        }
        std::fprintf(stderr, "lumeno-render: %s\n", message.c_str());
    }

  private:
    lumeno::TerminalProgress*& progress_;
};

struct Options {
    std::string directory;
    int passes = 0;
    int threads = 0;
    bool exact = false;
    std::string png;
    std::string exr;
    std::string saveFormat = "pfm";
    bool resume = false;
    bool quiet = false;
    bool farm = false;
};

// Prints on process 0 of a farm (the only process of a plain run).
bool g_speaks = true;

void Say(const char* format, const std::string& text) {
    if (g_speaks) {
        std::fprintf(stderr, format, text.c_str());
    }
}

// Every process of a farm must hold the scene process 0 holds, at the same
// image size (the processes' sums are added up pixel by pixel), and run with
// the settings that decide the rounds they all take part in.
bool SameSceneEverywhere(lumeno::MpiFarm& farm, lumeno::RenderSession& session,
                         const Options& options) {
    std::string ours = lumeno::EncodeFingerprint(session.CurrentFingerprint());
    std::string first = ours;
    farm.Broadcast(first);
    std::string differences = lumeno::DescribeDifferences(lumeno::DecodeFingerprint(first),
                                                          lumeno::DecodeFingerprint(ours));
    const std::string settings = std::to_string(session.ImageWidth()) + " x " +
                                 std::to_string(session.ImageHeight()) + " image, " +
                                 (options.passes > 0 ? std::to_string(options.passes) : "all") +
                                 " passes" + (options.resume ? ", resuming" : "");
    std::string firstSettings = settings;
    farm.Broadcast(firstSettings);
    if (!differences.empty()) {
        char cwd[4096];
        std::fprintf(stderr,
                     "lumeno-render: process %d: the working folder %s differs from process 0's "
                     "(%s); every machine needs the same scene\n",
                     farm.Index(), getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".",
                     differences.c_str());
    } else if (settings != firstSettings) {
        std::fprintf(stderr,
                     "lumeno-render: process %d would render a %s, process 0 a %s; every process "
                     "needs the same scene and options\n",
                     farm.Index(), settings.c_str(), firstSettings.c_str());
        differences = "settings";
    }
    return !farm.Any(!differences.empty());
}

int Render(const Options& options, lumeno::MpiFarm* farm) {
    lumeno::WorkingScene working;
    working.SetCancelFlag(&g_loadCancel);
    lumeno::Diagnostics diagnostics;
    bool loaded = working.Load(diagnostics);
    if (g_speaks) {
        for (const lumeno::Diagnostic& d : diagnostics.Entries()) {
            std::fprintf(stderr, "%s\n", lumeno::FormatDiagnostic(d).c_str());
        }
        if (diagnostics.Dropped() > 0) {
            std::fprintf(stderr, "… and %zu more diagnostics\n", diagnostics.Dropped());
        }
    }
    if (farm != nullptr ? farm->Any(!loaded) : !loaded) {
        char cwd[4096];
        std::fprintf(stderr, "lumeno-render: no scene to render in %s\n",
                     getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".");
        return 1;
    }
    if (farm == nullptr && g_stopRequested != 0) {
        std::fprintf(stderr, "lumeno-render: stopped before rendering\n");
        return 1;
    }
    const lumeno::Scene& scene = working.scene;
    const lumeno::Camera& camera = scene.camera;
    if (g_speaks) {
        std::printf(
            "%s\n",
            lumeno::SizeTitle(camera.width, camera.height, scene.objectTriangles.size()).c_str());
        std::fflush(stdout);
    }

    NullDisplay display;
    lumeno::TerminalProgress* progress = nullptr;
    CliListener listener(progress);
    lumeno::RenderSession session(working.scene, display, &listener);
    session.SetMode(options.exact ? lumeno::RenderMode::Exact : lumeno::RenderMode::Parallel,
                    options.threads);
    session.SetSaveFormat(options.saveFormat == "exr" ? lumeno::MeanFormat::Exr
                                                      : lumeno::MeanFormat::Pfm);
    bool sized = session.SetImageSize(camera.width, camera.height);
    if (farm != nullptr ? farm->Any(!sized) : !sized) {
        std::fprintf(stderr, "lumeno-render: cannot allocate a %d x %d image\n", camera.width,
                     camera.height);
        return 1;
    }
    if (farm != nullptr && !SameSceneEverywhere(*farm, session, options)) {
        return 1;
    }
    int firstPass = 1;
    if (options.resume) {
        lumeno::Status resumable = lumeno::Status::Ok();
        if (g_speaks) {
            resumable = session.ResumeFromCheckpoint();
            firstPass = resumable ? session.ResumePass() : 0;
        }
        if (farm != nullptr) {
            // Process 0 reads the checkpoint; the others start empty at its
            // pass and add their share.
            firstPass = farm->BroadcastInt(firstPass);
            if (firstPass > 0 && farm->Index() != 0) {
                session.StartAtPass(firstPass);
            }
        }
        if (firstPass == 0) {
            Say("lumeno-render: cannot resume: %s\n", resumable.Message());
            return 1;
        }
        if (!options.quiet) {
            Say("%s\n", "resuming at pass " + std::to_string(firstPass));
        }
    }

    const int lastPass = options.passes > 0 ? options.passes : lumeno::kTotalPasses;
    lumeno::TerminalProgress terminal(camera.width * camera.height, firstPass, lastPass,
                                      options.quiet || !g_speaks);
    progress = &terminal;
    g_session = &session;
    if (g_stopRequested != 0) {
        session.RequestCancel();
    }
    lumeno::RunEnd end = session.Run(
        lastPass, [] { return g_stopRequested == 0; }, farm);
    g_session = nullptr;
    terminal.Finish();
    progress = nullptr;
    if (!session.AccumulationReady()) {
        // Called off while preparing: nothing was rendered, and a checkpoint
        // read for resuming stays as it was.
        Say("lumeno-render: %s\n", "stopped before rendering");
        return 1;
    }
    if (!g_speaks) {
        return 0;  // process 0 saves what the farm made
    }

    int status = 0;
    const int rendered = session.Schedule().PassCounter() - firstPass;
    std::string outcome = "rendered " + std::to_string(rendered) + " passes";
    if (farm != nullptr) {
        char combined[96];
        std::snprintf(combined, sizeof combined,
                      " on %d processes (sums combined %d times, %.3f s)", farm->Processes(),
                      farm->Combines(), farm->CombineSeconds());
        outcome += combined;
    }
    if (end == lumeno::RunEnd::Cancelled || end == lumeno::RunEnd::Stopped) {
        outcome += " (stopped; an unfinished pass was dropped)";
    }
    if (session.Schedule().PassesHeld() > 0) {
        std::string path = session.MeanPath();
        lumeno::Status saved = session.SaveMean();
        if (saved) {
            outcome += "; saved " + path;
        } else {
            outcome += "; the mean was NOT saved";
            status = 1;
        }
    } else {
        outcome += "; nothing to save";
    }
    if (!options.exr.empty()) {
        lumeno::Status written = session.SaveMeanAs(options.exr, lumeno::MeanFormat::Exr);
        if (written) {
            outcome += "; wrote " + options.exr;
        } else {
            std::fprintf(stderr, "lumeno-render: %s\n", written.Message().c_str());
            outcome += "; " + options.exr + " was NOT written";
            status = 1;
        }
    }
    if (!options.png.empty()) {
        lumeno::Status written = lumeno::WritePng(options.png, session.DisplayImage());
        if (written) {
            outcome += "; wrote " + options.png;
        } else {
            std::fprintf(stderr, "lumeno-render: %s\n", written.Message().c_str());
            outcome += "; " + options.png + " was NOT written";
            status = 1;
        }
    }
    if (!options.quiet || status != 0) {
        std::fprintf(stderr, "%s\n", outcome.c_str());
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders ./scene/scene.txt headlessly into ./out/path_trace_<n>.pfm",
                 "lumeno-render"};
    Options options;
    app.add_option("-C", options.directory, "Work in DIR as if started there")
        ->check(CLI::ExistingDirectory);
    app.add_option("--passes", options.passes,
                   "Stop once N passes are rendered (default: all 1600)")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
    app.add_option("--threads", options.threads,
                   "Threads of the parallel mode (default: all cores)")
        ->check(CLI::Range(1, std::numeric_limits<int>::max()));
    app.add_flag("--exact", options.exact,
                 "Exact single-threaded mode (one generator, bit for bit)");
    app.add_flag("--resume", options.resume,
                 "Continue the render saved in ./out/render.checkpoint (up to --passes or 1600)");
    app.add_flag("--farm", options.farm,
                 "One process of a render farm started by mpirun (parallel mode)");
    app.add_option("--png", options.png, "Also write the tone-mapped display image as PNG to FILE");
    app.add_option("--exr", options.exr, "Also write the final mean as an OpenEXR image to FILE");
    app.add_option("--save-format", options.saveFormat, "Format of the periodic saves: pfm or exr")
        ->check(CLI::IsMember({"pfm", "exr"}));
    app.add_flag("--quiet", options.quiet, "No progress display");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return e.get_exit_code() == 0 ? code : 2;
    }
    if (options.exact && options.threads > 0) {
        std::fprintf(stderr, "lumeno-render: --exact runs on one thread; drop --threads\n");
        return 2;
    }
    if (options.exact && options.farm) {
        std::fprintf(stderr, "lumeno-render: a farm renders in the parallel mode; drop --exact\n");
        return 2;
    }
    lumeno::MpiFarm farm;
    if (options.farm) {
        if (!farm.Start(&argc, &argv)) {
            return 1;
        }
        g_speaks = farm.Index() == 0;
    }
    if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
        std::fprintf(stderr, "lumeno-render: cannot work in %s: %s\n", options.directory.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    return Render(options, options.farm ? &farm : nullptr);
}
