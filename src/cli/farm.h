// The render farm: lumeno-render --farm started by mpirun on several
// machines (or cores). Every process renders in the parallel mode; they meet
// through MPI only at the end of each round (one small message) and at save
// points (the fixed-point sums, added into process 0, which writes the
// images and the checkpoint). The scene comes from each machine's own copy
// of the working folder (a shared folder or identical copies); a process
// whose copy differs from process 0's refuses to start, and all stop.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "render/pass_share.h"

namespace lumeno {

class MpiFarm final : public PassShare {
  public:
    // Starts MPI; false (with a message on standard error) when it cannot.
    bool Start(int* argc, char*** argv);
    ~MpiFarm() override;

    int Processes() const override { return size_; }
    int Index() const override { return rank_; }
    RoundEnd EndRound(bool traced, bool stopRequested) override;
    void Combine(std::span<std::int64_t> sums) override;
    int SaveInterval() const override { return saveInterval_; }

    // Combining may take at most this share of the time: beyond it the next
    // save interval grows (in steps of 16 passes) in proportion.
    static constexpr double kCombineShare = 0.1;

    // Process 0's bytes reach every process; the others' are replaced.
    void Broadcast(std::string& bytes) const;
    // True on every process when any process says true.
    bool Any(bool value) const;
    // process 0's value, everywhere.
    int BroadcastInt(int value) const;

    // How often the sums met, and the seconds this process spent on it.
    int Combines() const { return combines_; }
    double CombineSeconds() const { return combineSeconds_; }

  private:
    int combines_ = 0;
    double combineSeconds_ = 0.0;
    int saveInterval_ = 16;
    double lastCombineEnd_ = 0.0;
    bool started_ = false;
    int rank_ = 0;
    int size_ = 1;
};

}  // namespace lumeno
