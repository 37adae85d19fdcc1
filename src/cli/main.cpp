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
#include <string>

#include "base/working_folder.h"
#include "png_output.h"
#include "render/render_session.h"
#include "scene/working_scene.h"
#include "terminal_progress.h"

namespace {

lumeno::RenderSession* g_session = nullptr;
volatile std::sig_atomic_t g_stopRequested = 0;
std::atomic<bool> g_loadCancel{false};  // calls off a scene load under way

extern "C" void RequestStop(int) {
    g_stopRequested = 1;
    g_loadCancel.store(true, std::memory_order_relaxed);
    if (g_session != nullptr) {
        g_session->RequestCancel();
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

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders ./scene/scene.txt headlessly into ./out/path_trace_<n>.pfm",
                 "lumeno-render"};
    std::string directory;
    int passes = 0;
    int threads = 0;
    bool exact = false;
    std::string png;
    bool quiet = false;
    app.add_option("-C", directory, "Work in DIR as if started there")
        ->check(CLI::ExistingDirectory);
    app.add_option("--passes", passes, "Stop once N passes are rendered (default: all 1600)")
        ->check(CLI::PositiveNumber);
    app.add_option("--threads", threads, "Threads of the parallel mode (default: all cores)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--exact", exact, "Exact single-threaded mode (one generator, bit for bit)");
    app.add_option("--png", png, "Also write the tone-mapped display image as PNG to FILE");
    app.add_flag("--quiet", quiet, "No progress display");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        return e.get_exit_code() == 0 ? code : 2;
    }
    if (exact && threads > 0) {
        std::fprintf(stderr, "lumeno-render: --exact runs on one thread; drop --threads\n");
        return 2;
    }
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
        std::fprintf(stderr, "lumeno-render: cannot work in %s: %s\n", directory.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);

    lumeno::WorkingScene working;
    working.SetCancelFlag(&g_loadCancel);
    lumeno::Diagnostics diagnostics;
    bool loaded = working.Load(diagnostics);
    for (const lumeno::Diagnostic& d : diagnostics.Entries()) {
        std::fprintf(stderr, "%s\n", lumeno::FormatDiagnostic(d).c_str());
    }
    if (diagnostics.Dropped() > 0) {
        std::fprintf(stderr, "… and %zu more diagnostics\n", diagnostics.Dropped());
    }
    if (!loaded) {
        char cwd[4096];
        std::fprintf(stderr, "lumeno-render: no scene to render in %s\n",
                     getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".");
        return 1;
    }
    if (g_stopRequested != 0) {
        std::fprintf(stderr, "lumeno-render: stopped before rendering\n");
        return 1;
    }
    const lumeno::Scene& scene = working.scene;
    const lumeno::Camera& camera = scene.camera;
    std::printf(
        "%s\n",
        lumeno::SizeTitle(camera.width, camera.height, scene.objectTriangles.size()).c_str());
    std::fflush(stdout);

    NullDisplay display;
    lumeno::TerminalProgress* progress = nullptr;
    CliListener listener(progress);
    lumeno::RenderSession session(working.scene, display, &listener);
    session.SetMode(exact ? lumeno::RenderMode::Exact : lumeno::RenderMode::Parallel, threads);
    if (!session.SetImageSize(camera.width, camera.height)) {
        std::fprintf(stderr, "lumeno-render: cannot allocate a %d x %d image\n", camera.width,
                     camera.height);
        return 1;
    }

    const int lastPass = passes > 0 ? passes : lumeno::kTotalPasses;
    const int firstPass = session.Schedule().PassCounter();
    lumeno::TerminalProgress terminal(camera.width * camera.height, firstPass, lastPass, quiet);
    progress = &terminal;
    g_session = &session;
    if (g_stopRequested != 0) {
        session.RequestCancel();
    }
    lumeno::RunEnd end = session.Run(lastPass);
    g_session = nullptr;
    terminal.Finish();
    progress = nullptr;

    int status = 0;
    const int rendered = session.Schedule().PassCounter() - firstPass;
    std::string outcome = "rendered " + std::to_string(rendered) + " passes";
    if (end == lumeno::RunEnd::Cancelled) {
        outcome += " (stopped; the unfinished pass was dropped)";
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
    if (!png.empty()) {
        lumeno::Status written = lumeno::WritePng(png, session.DisplayImage());
        if (written) {
            outcome += "; wrote " + png;
        } else {
            std::fprintf(stderr, "lumeno-render: %s\n", written.Message().c_str());
            outcome += "; " + png + " was NOT written";
            status = 1;
        }
    }
    if (!quiet || status != 0) {
        std::fprintf(stderr, "%s\n", outcome.c_str());
    }
    return status;
}
