// lumeno: the desktop application. Loads "./scene/scene.txt" on the Scene
// load command, renders it progressively in its own window and writes
// "./out/path_trace_<n>.pfm" and "./out/view.txt", all relative to the
// working directory (or to the folder given with -C).
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "main_frame.h"

int main(int argc, char** argv) {
    CLI::App cli{"Progressive path tracer: loads ./scene/scene.txt and renders it in a window",
                 "lumeno"};
    std::string directory;
    int threads = 0;
    bool exact = false;
    cli.add_option("-C", directory, "Work in DIR as if started there")
        ->check(CLI::ExistingDirectory);
    cli.add_option("--threads", threads, "Threads of the parallel mode (default: all cores)")
        ->check(CLI::PositiveNumber);
    cli.add_flag("--exact", exact, "Exact single-threaded mode (one generator, bit for bit)");
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = cli.exit(e);
        return e.get_exit_code() == 0 ? code : 2;
    }
    if (exact && threads > 0) {
        std::fprintf(stderr, "lumeno: --exact runs on one thread; drop --threads\n");
        return 2;
    }
    // The fixed relative paths resolve against the working directory, which
    // every thread shares: change it before the toolkit starts any thread.
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
        std::fprintf(stderr, "lumeno: cannot work in %s: %s\n", directory.c_str(),
                     std::strerror(errno));
        return 1;
    }

    // The toolkit's own options (-platform and the like) are not taken from
    // the command line; its environment variables serve instead.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QString::fromUtf8(lumeno::app::kApplicationTitle));

    lumeno::app::ShellOptions options;
    options.mode = exact ? lumeno::RenderMode::Exact : lumeno::RenderMode::Parallel;
    options.threads = threads;
    lumeno::app::CMainFrame frame(options);
    frame.show();
    return QApplication::exec();
}
