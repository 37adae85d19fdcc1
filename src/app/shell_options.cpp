#include "shell_options.h"

#include <CLI/CLI.hpp>
#include <QString>
#include <cstdio>

namespace lumeno::app {

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    ShellCommandLine& line = parsed.line;
    CLI::App cli{"Progressive path tracer: loads ./scene/scene.txt and renders it in a window",
                 "lumeno"};
    int threads = 0;
    bool exact = false;
    std::string language;
    cli.add_option("-C", line.directory, "Work in DIR as if started there")
        ->check(CLI::ExistingDirectory);
    cli.add_option("--threads", threads, "Threads of the parallel mode (default: all cores)")
        ->check(CLI::PositiveNumber);
    cli.add_flag("--exact", exact, "Exact single-threaded mode (one generator, bit for bit)");
    cli.add_option("--lang", language,
                   "Language of the user interface, en or ja (default: from the locale)")
        ->check(CLI::IsMember({"en", "ja"}));
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = cli.exit(e);
        parsed.exitStatus = e.get_exit_code() == 0 ? code : 2;
        return parsed;
    }
    if (exact && threads > 0) {
        std::fprintf(stderr, "lumeno: --exact runs on one thread; drop --threads\n");
        parsed.exitStatus = 2;
        return parsed;
    }
    line.options.mode = exact ? RenderMode::Exact : RenderMode::Parallel;
    line.options.threads = threads;
    if (!language.empty()) {
        line.language = LanguageFromCode(QString::fromStdString(language));
    }
    return parsed;
}

Language StartupLanguage(const ShellCommandLine& line) {
    return line.language ? *line.language : LanguageFromEnvironment();
}

}  // namespace lumeno::app
