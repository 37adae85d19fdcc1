#include "render/pass_schedule.h"

namespace lumeno {

Ray CameraSampleRay(const PassSetup& setup, int x, int y, float u1, float u2) {
    float u = ((u1 * setup.stratumStep + static_cast<float>(x) + setup.offsetX) - setup.halfWidth) *
              setup.s;
    float v =
        ((u2 * setup.stratumStep + setup.offsetY + static_cast<float>(y)) - setup.halfHeight) *
        setup.s;
    return {setup.position, Normalize(setup.ex * u + setup.ey * v + setup.c)};
}

Ray PrimaryRay(const Camera& camera, float u, float v) {
    Vec3 direction = Normalize(camera.ex * u + camera.ey * v + camera.ez * camera.focus);
    return {camera.position, direction};
}

void PassSchedule::Advance() {
    // The sum is exact in double precision; the wrap test uses it unrounded,
    // so offsetX takes 41 values per cycle (its 40th step lands just below 1).
    double sum = static_cast<double>(state_.offsetX) + static_cast<double>(kStratumStep);
    state_.offsetX = static_cast<float>(sum);
    ++state_.passCounter;
    if (!(sum < 1.0)) {
        state_.offsetY = state_.offsetY + kStratumStep;
        state_.offsetX = 0.0f;
    }
}

PassSchedule::State PassSchedule::StateAtPass(int pass) {
    PassSchedule schedule;
    while (schedule.PassCounter() < pass) {
        schedule.Advance();
    }
    return schedule.Save();
}

PassSetup PassSchedule::Setup(const Camera& camera, int width, int height) const {
    PassSetup setup;
    setup.position = camera.position;
    setup.ex = camera.ex;
    setup.ey = camera.ey;
    setup.c = camera.ez * camera.focus;
    setup.s = 1.0f / static_cast<float>(width < height ? width : height);
    setup.halfWidth = static_cast<float>(width) * 0.5f;
    setup.halfHeight = static_cast<float>(height) * 0.5f;
    setup.offsetX = state_.offsetX;
    setup.offsetY = state_.offsetY;
    setup.stratumStep = kStratumStep;
    setup.passCounter = state_.passCounter;
    return setup;
}

}  // namespace lumeno
