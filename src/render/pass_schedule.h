// PassSchedule: which pass runs next and where its samples fall. Each pass
// puts one sample in every pixel, inside a sub-pixel stratum 1/40 pixel wide
// whose corner (offsetX, offsetY) moves on by one step per pass, along x and
// then along y; a jitter inside the stratum comes from two draws per sample.
// A session is complete after 1600 passes; the mean is saved whenever the
// number of the next pass is a multiple of 16.
//
// The offsets follow 32-bit float arithmetic: adding 0.025 forty times from 0
// gives about 0.9999996, still below 1, so offsetX takes 41 values per cycle
// and offsetY moves on after passes 41, 82, 123, ….
#pragma once

#include "scene/camera.h"
#include "spatial/ray.h"

namespace lumeno {

inline constexpr int kTotalPasses = 1600;
inline constexpr int kSaveEvery = 16;
// 0x3CCCCCCD: the width of a stratum and the step of the offsets.
inline constexpr float kStratumStep = 0.025f;

// What every pixel of one pass shares: the camera snapshot and the stratum.
struct PassSetup {
    Vec3 position;
    Vec3 ex, ey;
    Vec3 c;          // ez · focus
    float s = 1.0f;  // 1 / min(W, H)
    float halfWidth = 0.0f;
    float halfHeight = 0.0f;
    float offsetX = 0.0f;
    float offsetY = 0.0f;
    float stratumStep = 0.0f;
    int passCounter = 0;
};

// The camera ray of pixel (x, y) for jitter draws u1, u2 in [0, 1): it lands
// in the stratum [x + offsetX, + stratumStep) × [y + offsetY, + stratumStep).
Ray CameraSampleRay(const PassSetup& setup, int x, int y, float u1, float u2);

// The primary ray through image-plane coordinates (U, V): from position along
// normalize(ex · U + ey · V + ez · focus). U grows to the right and V
// downwards; the shorter image side spans [−0.5, 0.5].
Ray PrimaryRay(const Camera& camera, float u, float v);

class PassSchedule {
  public:
    // The schedule's whole state, as a saved render stores it.
    struct State {
        int passCounter = 1;
        float offsetX = 0.0f;
        float offsetY = 0.0f;
    };

    // Pass 1, both offsets 0.
    void Reset() { state_ = State(); }
    // After pass PassCounter(): moves the stratum on and counts the pass.
    void Advance();
    // The state at the start of pass (≥ 1), as Reset and Advance reach it.
    static State StateAtPass(int pass);

    // The number of the pass to run next; the sums hold one pass fewer.
    int PassCounter() const { return state_.passCounter; }
    int PassesHeld() const { return state_.passCounter - 1; }
    int TotalPasses() const { return kTotalPasses; }
    float OffsetX() const { return state_.offsetX; }
    float OffsetY() const { return state_.offsetY; }
    float StratumStep() const { return kStratumStep; }
    bool Complete() const { return state_.passCounter > kTotalPasses; }
    // The mean is due to be saved (after the pass just counted).
    bool SaveDue() const { return state_.passCounter % kSaveEvery == 0; }

    const State& Save() const { return state_; }
    void Restore(const State& state) { state_ = state; }

    // The camera snapshot and stratum of the next pass for a width × height
    // image.
    PassSetup Setup(const Camera& camera, int width, int height) const;

  private:
    State state_;
};

}  // namespace lumeno
