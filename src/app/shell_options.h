// What the command line chooses for the desktop shell: how passes run.
#pragma once

#include "render/render_session.h"

namespace lumeno::app {

struct ShellOptions {
    RenderMode mode = RenderMode::Parallel;
    // Threads of the parallel mode; 0 means all cores.
    int threads = 0;
};

}  // namespace lumeno::app
