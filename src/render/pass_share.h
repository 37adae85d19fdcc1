// PassShare: one render spread over several processes (a render farm). All
// processes run the same sequence of passes in rounds; in each round each
// process traces at most one pass of its own (pass first + index). Since the
// parallel mode seeds every sample by pass and pixel and sums in fixed point,
// the sums of different processes add up exactly to what one process would
// have made, in any split.
//
// Sums meet only at save points and when the run ends: never an image per
// pass, and on large farms or slow networks less often than every 16 passes. A round whose passes
// not every process finished (one was stopped) is dropped everywhere, so the sums always hold a
// whole prefix of passes.
//
// The session calls these on the thread that runs it, at the same points on
// every process; an implementation passes messages (MPI in lumeno-render).
#pragma once

#include <cstdint>
#include <span>

namespace lumeno {

class PassShare {
  public:
    virtual ~PassShare() = default;

    virtual int Processes() const = 0;
    // 0 for the process that saves the image and the checkpoint.
    virtual int Index() const = 0;

    struct RoundEnd {
        bool allTraced = true;  // every process finished its pass of the round
        bool stop = false;      // some process was asked to stop
    };
    // The end of a round on every process.
    virtual RoundEnd EndRound(bool traced, bool stopRequested) = 0;

    // Adds every process's fixed sums into process 0's (the others' are
    // left as they were; the session clears them).
    virtual void Combine(std::span<std::int64_t> sums) = 0;

    // Passes between save points, where the sums meet: a multiple of 16, the
    // same on every process. It may grow after a combine, so that combining
    // never takes more than a small share of the time.
    virtual int SaveInterval() const = 0;
};

// How often a farm of that many processes saves at most: every 16 passes, or
// a multiple of 16 for farms larger than that.
int FarmSaveInterval(int processes);

// The save interval after a combine that took combineSeconds, following
// renderSeconds of rendering over the current interval: unchanged while
// combining takes at most `share` of the time, otherwise grown in steps of
// 16 passes until it would (at most to the session's 1600 passes).
int GrownSaveInterval(int current, double combineSeconds, double renderSeconds, double share);

}  // namespace lumeno
