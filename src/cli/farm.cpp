#include "farm.h"

#include "render/pass_share.h"

#include <mpi.h>

#include <algorithm>
#include <climits>
#include <cstdio>

namespace lumeno {

bool MpiFarm::Start(int* argc, char*** argv) {
    int provided = 0;
    // Only the thread that runs the session talks to MPI; the tracing
    // threads never do.
    if (MPI_Init_thread(argc, argv, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS) {
        std::fprintf(stderr, "lumeno-render: cannot start MPI\n");
        return false;
    }
    started_ = true;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank_);
    MPI_Comm_size(MPI_COMM_WORLD, &size_);
    saveInterval_ = FarmSaveInterval(size_);
    lastCombineEnd_ = MPI_Wtime();
    return true;
}

MpiFarm::~MpiFarm() {
    if (started_) {
        MPI_Finalize();
    }
}

PassShare::RoundEnd MpiFarm::EndRound(bool traced, bool stopRequested) {
    int local[2] = {traced ? 0 : 1, stopRequested ? 1 : 0};
    int any[2] = {0, 0};
    MPI_Allreduce(local, any, 2, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    RoundEnd end;
    end.allTraced = any[0] == 0;
    end.stop = any[1] != 0;
    return end;
}

void MpiFarm::Combine(std::span<std::int64_t> sums) {
    const double start = MPI_Wtime();
    // In pieces, since a message counts its elements in an int.
    constexpr std::size_t kPiece = std::size_t{1} << 26;
    for (std::size_t at = 0; at < sums.size(); at += kPiece) {
        int count = static_cast<int>(std::min(kPiece, sums.size() - at));
        std::int64_t* data = sums.data() + at;
        if (rank_ == 0) {
            MPI_Reduce(MPI_IN_PLACE, data, count, MPI_INT64_T, MPI_SUM, 0, MPI_COMM_WORLD);
        } else {
            MPI_Reduce(data, nullptr, count, MPI_INT64_T, MPI_SUM, 0, MPI_COMM_WORLD);
        }
    }
    const double end = MPI_Wtime();
    ++combines_;
    combineSeconds_ += end - start;
    // Process 0 weighs the combine against the rendering since the last one
    // and, when combining took too large a share, spaces the save points
    // further apart; everyone follows its choice.
    int next = rank_ == 0 ? GrownSaveInterval(saveInterval_, end - start, start - lastCombineEnd_,
                                              kCombineShare)
                          : saveInterval_;
    MPI_Bcast(&next, 1, MPI_INT, 0, MPI_COMM_WORLD);
    saveInterval_ = next;
    lastCombineEnd_ = MPI_Wtime();
}

void MpiFarm::Broadcast(std::string& bytes) const {
    unsigned long long size = bytes.size();
    MPI_Bcast(&size, 1, MPI_UNSIGNED_LONG_LONG, 0, MPI_COMM_WORLD);
    bytes.resize(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < bytes.size(); at += INT_MAX / 2) {
        int count = static_cast<int>(std::min<std::size_t>(INT_MAX / 2, bytes.size() - at));
        MPI_Bcast(bytes.data() + at, count, MPI_CHAR, 0, MPI_COMM_WORLD);
    }
}

bool MpiFarm::Any(bool value) const {
    int local = value ? 1 : 0;
    int any = 0;
    MPI_Allreduce(&local, &any, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
    return any != 0;
}

int MpiFarm::BroadcastInt(int value) const {
    MPI_Bcast(&value, 1, MPI_INT, 0, MPI_COMM_WORLD);
    return value;
}

}  // namespace lumeno
