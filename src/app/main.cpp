// lumeno: the desktop application. Loads "./scene/scene.txt" on the Scene
// load command, renders it progressively in its own window and writes
// "./out/path_trace_<n>.pfm" and "./out/view.txt", all relative to the
// working folder: the one it was started in, the one -C names, or the one
// File → Open chose last.
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "icons.h"
#include "language.h"
#include "main_frame.h"
#include "shell_options.h"

int main(int argc, char** argv) {
    using namespace lumeno::app;
    ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (parsed.exitStatus) {
        return *parsed.exitStatus;
    }
    const ShellCommandLine& line = parsed.line;
    // The fixed relative paths resolve against the working directory, which
    // every thread shares: change it before the toolkit starts any thread.
    if (!line.directory.empty() && chdir(line.directory.c_str()) != 0) {
        std::fprintf(stderr, "lumeno: cannot work in %s: %s\n", line.directory.c_str(),
                     std::strerror(errno));
        return 1;
    }

    // The toolkit's own options (-platform and the like) are not taken from
    // the command line; its environment variables serve instead.
    int qtArgc = 1;
    QApplication application(qtArgc, argv);
    QApplication::setApplicationName(QString::fromLatin1(kApplicationTitle));
    // The installed desktop entry (lumeno.desktop) names the same icon.
    QApplication::setDesktopFileName(QStringLiteral("lumeno"));
    QApplication::setWindowIcon(CommandIcon(kIdRender));
    if (!ApplyLanguage(StartupLanguage(line))) {
        std::fprintf(stderr, "lumeno: the Japanese translation is missing; using English\n");
    }

    CMainFrame frame(line.options);
    frame.show();
    return QApplication::exec();
}
