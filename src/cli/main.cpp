// lumeno-render: the headless renderer. It loads "./scene/scene.txt" as the
// desktop's Scene load does, renders it with the same session, and leaves the
// mean image in "./out/path_trace_<n>.pfm" (and, on request, a PNG of the
// display image). SIGINT and SIGTERM finish the running pass and save.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "png_output.h"
#include "render/render_session.h"
#include "scene/obj_reader.h"
#include "scene/scene_file.h"
#include "terminal_progress.h"

namespace {

std::atomic<bool> g_stopRequested{false};

extern "C" void RequestStop(int) {
    g_stopRequested = true;
}

constexpr const char* kScenePath = "./scene/scene.txt";

// The terminal shows no picture; titles are not printed either (the
// progress line says the same).
class NullDisplay : public lumeno::DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const lumeno::DibImage&) override {}
};

class CliListener : public lumeno::SessionListener {
  public:
    explicit CliListener(lumeno::TerminalProgress*& progress) : progress_(progress) {}
    void PassFinished(int passCounter) override {
        if (progress_ != nullptr) {
            progress_->PassFinished(passCounter);
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
    app.add_option("--passes", passes, "Stop after N passes of this run (default: all 1600)")
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
    struct stat info {};
    if (stat(kScenePath, &info) != 0 || !S_ISREG(info.st_mode)) {
        char cwd[4096];
        std::fprintf(stderr, "lumeno-render: %s does not exist in %s\n", kScenePath,
                     getcwd(cwd, sizeof cwd) != nullptr ? cwd : ".");
        return 1;
    }

    lumeno::Scene scene;
    lumeno::SceneFileReader sceneReader;
    lumeno::ObjReader objReader;
    lumeno::Diagnostics diagnostics;
    scene.ClearTriangles();
    sceneReader.LoadScene(kScenePath, scene, objReader, diagnostics);
    for (const lumeno::Diagnostic& d : diagnostics.Entries()) {
        std::fprintf(stderr, "%s\n", lumeno::FormatDiagnostic(d).c_str());
    }
    if (diagnostics.Dropped() > 0) {
        std::fprintf(stderr, "… and %zu more diagnostics\n", diagnostics.Dropped());
    }
    const lumeno::Camera& camera = scene.camera;
    std::printf(
        "%s\n",
        lumeno::SizeTitle(camera.width, camera.height, scene.objectTriangles.size()).c_str());
    std::fflush(stdout);

    NullDisplay display;
    lumeno::TerminalProgress* progress = nullptr;
    CliListener listener(progress);
    lumeno::RenderSession session(scene, display, &listener);
    session.SetMode(exact ? lumeno::RenderMode::Exact : lumeno::RenderMode::Parallel, threads);
    if (!session.SetImageSize(camera.width, camera.height)) {
        std::fprintf(stderr, "lumeno-render: cannot allocate a %d x %d image\n", camera.width,
                     camera.height);
        return 1;
    }

    std::signal(SIGINT, RequestStop);
    std::signal(SIGTERM, RequestStop);
    session.PrepareRender();
    int firstPass = session.passCounter;
    int lastPass = passes > 0 ? firstPass + passes - 1 : session.totalPasses;
    if (lastPass > session.totalPasses && session.passCounter <= session.totalPasses) {
        lastPass = session.totalPasses;
    }
    lumeno::TerminalProgress terminal(camera.width * camera.height, firstPass, lastPass, quiet);
    progress = &terminal;
    bool complete = false;
    while (!complete && !g_stopRequested && session.passCounter <= lastPass) {
        complete = session.RenderPass();
    }
    terminal.Finish();
    progress = nullptr;

    int status = 0;
    if (session.passCounter > 1 && !session.SaveMean()) {
        status = 1;
    }
    if (!png.empty()) {
        std::string error;
        if (!lumeno::WritePng(png, session.Image(), &error)) {
            std::fprintf(stderr, "lumeno-render: %s\n", error.c_str());
            status = 1;
        }
    }
    if (!quiet) {
        std::fprintf(stderr, "rendered %d passes; saved ./out/path_trace_%d.pfm\n",
                     session.passCounter - firstPass, session.passCounter);
    }
    return status;
}
