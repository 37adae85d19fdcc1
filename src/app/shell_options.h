// What the command line chooses for the desktop shell: the folder to work
// in, how passes run, and the language of the user interface.
#pragma once

#include <optional>
#include <string>

#include "language.h"
#include "render/render_session.h"

namespace lumeno::app {

struct ShellOptions {
    RenderMode mode = RenderMode::Parallel;
    // Threads of the parallel mode; 0 means all cores.
    int threads = 0;
};

struct ShellCommandLine {
    // -C: the working folder to start in (empty: the current one).
    std::string directory;
    ShellOptions options;
    // --lang: overrides the language of the locale.
    std::optional<Language> language;
};

struct ParsedCommandLine {
    ShellCommandLine line;
    // Set when the program should end at once with this status: after
    // --help (0) or a bad command line (2, the reason printed).
    std::optional<int> exitStatus;
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The language to start in: --lang when given, else the environment's.
Language StartupLanguage(const ShellCommandLine& line);

}  // namespace lumeno::app
