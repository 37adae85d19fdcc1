// The parallel mode (Embree's ray queries, per-sample generators, fixed-point
// sums) renders the same image as the exact mode up to Monte Carlo noise, on
// a scene of every material kind. The tolerance comes from the noise itself:
// each pixel's samples give its variance, and the difference of the two
// images is judged in units of its own standard deviation.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "render/render_session.h"
#include "scene/working_scene.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ScopedWorkingDirectory;
using testing::TempDir;

class NullDisplay : public DisplaySink {
  public:
    void SetTitle(const std::string&) override {}
    void ShowImage(const DibImage&) override {}
};

// Pixel i's sum in channel c, whichever kind the film keeps.
double SumOf(Film& film, std::size_t i, int c) {
    if (film.Kind() == SumKind::Fixed) {
        return static_cast<double>(film.FixedSums()[3 * i + static_cast<std::size_t>(c)]) /
               Film::kFixedScale;
    }
    return film.FloatSums(c)[i];
}

// A session over the working folder's scene in one mode, and the sample its
// last pass added to each pixel channel (red, green, blue per pixel).
struct ModeRender {
    WorkingScene working;
    NullDisplay display;
    RenderSession session{working.scene, display};
    std::vector<double> sums;
    std::vector<double> samples;

    explicit ModeRender(RenderMode mode) {
        Diagnostics diagnostics;
        EXPECT_TRUE(working.Load(diagnostics));
        session.SetMode(mode, mode == RenderMode::Exact ? 1 : 2);
        EXPECT_TRUE(session.SetImageSize(working.scene.camera.width, working.scene.camera.height));
        sums.assign(3 * std::size_t(working.scene.camera.width) * working.scene.camera.height, 0.0);
        samples = sums;
    }
    void Pass(int pass) {
        session.Run(pass);
        Film& film = session.GetFilm();
        for (std::size_t k = 0; k < sums.size(); ++k) {
            double total = SumOf(film, k / 3, static_cast<int>(k % 3));
            samples[k] = total - sums[k];
            sums[k] = total;
        }
    }
};

TEST(ModeAgreement, ParallelAndExactImagesDifferOnlyByTheirNoise) {
    TempDir dir;
    testing::WriteEveryMaterialScene(dir);
    ScopedWorkingDirectory cwd(dir.Root());
    ModeRender exact(RenderMode::Exact);
    ModeRender parallel(RenderMode::Parallel);
    // Pass k puts every sample of both modes in the same sub-pixel stratum,
    // so the differences of the two modes' samples, pass by pass, carry only
    // the noise within the strata.
    const int passes = 512;
    const std::size_t count = exact.sums.size();
    std::vector<double> sum(count, 0.0);
    std::vector<double> squares(count, 0.0);
    for (int pass = 1; pass <= passes; ++pass) {
        exact.Pass(pass);
        parallel.Pass(pass);
        for (std::size_t k = 0; k < count; ++k) {
            double d = parallel.samples[k] - exact.samples[k];
            sum[k] += d;
            squares[k] += d * d;
        }
    }
    // Per channel, the image means' difference over its standard deviation;
    // over all pixel channels, the sum of the squared standardised
    // differences (about a chi-square variable of one degree per noisy
    // pixel channel).
    double difference[3] = {};
    double differenceVariance[3] = {};
    double chiSquare = 0.0;
    int noisy = 0;
    for (std::size_t k = 0; k < count; ++k) {
        double d = sum[k] / passes;
        double v = std::max(0.0, (squares[k] - passes * d * d) / (passes - 1)) / passes;
        // The exact mode's float sums round at each of n additions by up to
        // half an ulp of the sum, so its mean may be off by up to
        // n · 2^-24 · |mean| even where every sample is the same (a plain
        // sky): that resolution counts as noise too.
        double resolution = std::ldexp(std::fabs(exact.sums[k]), -24);
        v += resolution * resolution;
        if (v == 0.0) {
            // Without noise (black in both) the pixels must agree outright.
            EXPECT_EQ(d, 0.0) << "pixel channel " << k;
            continue;
        }
        difference[k % 3] += d;
        differenceVariance[k % 3] += v;
        chiSquare += d * d / v;
        ++noisy;
    }
    ASSERT_GT(noisy, static_cast<int>(count) / 2);
    for (int c = 0; c < 3; ++c) {
        double z = difference[c] / std::sqrt(differenceVariance[c]);
        std::printf("channel %d: image mean z = %.2f\n", c, z);
        // Four and a half standard deviations: a chance of 7e-6 of failing
        // when the modes agree.
        EXPECT_LT(std::fabs(z), 4.5) << "channel " << c;
    }
    // The chi-square's mean is the count and its standard deviation
    // sqrt(2 · count); five of those above the mean bounds it.
    double bound = noisy + 5.0 * std::sqrt(2.0 * noisy);
    std::printf("chi-square %.1f over %d noisy pixel channels (bound %.1f)\n", chiSquare, noisy,
                bound);
    EXPECT_LT(chiSquare, bound);
}

}  // namespace
}  // namespace lumeno
