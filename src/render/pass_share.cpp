#include "render/pass_share.h"

#include <algorithm>

#include "render/pass_schedule.h"

namespace lumeno {

int FarmSaveInterval(int processes) {
    // Every process traces one pass per round and rounds stop at save
    // points, so a farm of more than 16 saves at most as often as it has
    // passes in a round: a multiple of the usual 16.
    return kSaveEvery * ((std::max(processes, 1) + kSaveEvery - 1) / kSaveEvery);
}

int GrownSaveInterval(int current, double combineSeconds, double renderSeconds, double share) {
    if (!(renderSeconds > 0.0) || !(share > 0.0)) {
        return current;
    }
    // Rendering time grows with the interval; the combine's does not.
    const double wanted = static_cast<double>(current) * combineSeconds / (share * renderSeconds);
    int next = current;
    while (next < wanted && next < kTotalPasses) {
        next += kSaveEvery;
    }
    return next;
}

}  // namespace lumeno
