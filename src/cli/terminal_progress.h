// Progress of a command-line render on standard error: a live line on a
// terminal, one line per 16 passes otherwise.
#pragma once

#include <chrono>

namespace lumeno {

class TerminalProgress {
  public:
    TerminalProgress(int pixelsPerPass, int firstPass, int lastPass, bool quiet);
    // After each pass; passCounter is the number of the next pass.
    void PassFinished(int passCounter);
    // Within a long pass (on a terminal): how many rows are traced.
    void RowsTraced(int rows, int height);
    // Ends the live line.
    void Finish();

  private:
    int pixelsPerPass_;
    int firstPass_;
    int lastPass_;
    bool quiet_;
    bool terminal_;
    bool lineOpen_ = false;
    int passesDone_ = 0;
    std::chrono::steady_clock::time_point lastLine_;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace lumeno
