#include "terminal_progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace lumeno {
namespace {

std::string Clock(double seconds) {
    long total = seconds > 0.0 ? static_cast<long>(seconds + 0.5) : 0;
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

}  // namespace

TerminalProgress::TerminalProgress(int pixelsPerPass, int firstPass, int lastPass, bool quiet)
    : pixelsPerPass_(pixelsPerPass),
      firstPass_(firstPass),
      lastPass_(lastPass),
      quiet_(quiet),
      terminal_(isatty(STDERR_FILENO) != 0),
      start_(std::chrono::steady_clock::now()) {}

void TerminalProgress::PassFinished(int passCounter) {
    int done = passCounter - firstPass_;
    passesDone_ = done;
    lastLine_ = std::chrono::steady_clock::now();
    if (quiet_ || done <= 0) {
        return;
    }
    if (!terminal_ && done % 16 != 0 && passCounter - 1 != lastPass_) {
        return;
    }
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    double rate = elapsed > 0.0 ? static_cast<double>(done) * pixelsPerPass_ / elapsed : 0.0;
    int remainingPasses = lastPass_ - (passCounter - 1);
    double remaining = done > 0 ? elapsed / done * remainingPasses : 0.0;
    std::fprintf(stderr, "%spass %d / %d  %.3g samples/s  elapsed %s  remaining %s%s",
                 terminal_ ? "\r" : "", passCounter - 1, lastPass_, rate, Clock(elapsed).c_str(),
                 Clock(remaining).c_str(), terminal_ ? "   " : "\n");
    std::fflush(stderr);
    lineOpen_ = terminal_;
}

void TerminalProgress::RowsTraced(int rows, int height) {
    auto now = std::chrono::steady_clock::now();
    // Only passes long enough to leave the user wondering get a row count,
    // and a pipe gets one line every ten seconds at most.
    double sinceLine = std::chrono::duration<double>(now - lastLine_).count();
    double sinceStart = std::chrono::duration<double>(now - start_).count();
    if (quiet_ || rows >= height || sinceStart < 1.0 || sinceLine < (terminal_ ? 0.5 : 10.0)) {
        return;
    }
    lastLine_ = now;
    std::fprintf(stderr, "%spass %d: %d / %d rows%s", terminal_ ? "\r" : "",
                 firstPass_ + passesDone_, rows, height, terminal_ ? "   " : "\n");
    std::fflush(stderr);
    lineOpen_ = terminal_;
}

void TerminalProgress::Finish() {
    if (lineOpen_) {
        std::fputc('\n', stderr);
        lineOpen_ = false;
    }
}

}  // namespace lumeno
