#include "light/random.h"

#include <gtest/gtest.h>

#include <cmath>

namespace lumeno {
namespace {

TEST(Random, FirstOutputsFromThePublishedState) {
    Random random;
    EXPECT_EQ(random.RandomNext(), 3701687786u);
    EXPECT_EQ(random.RandomNext(), 458299110u);
    EXPECT_EQ(random.RandomNext(), 2500872618u);
    EXPECT_EQ(random.RandomNext(), 3633119408u);
}

TEST(Random, UniformIsTheWordTimesTwoToTheMinus32) {
    Random random;
    double u = random.RandomUniform();
    EXPECT_EQ(u, 3701687786.0 / 4294967296.0);
    EXPECT_NEAR(u, 0.8618663, 1e-7);
}

TEST(Random, UniformCoversZeroAndReachesOneOnlyRoundedToAFloat) {
    Random zero;
    zero.x = zero.y = zero.z = zero.w = 0;  // the step maps all-zero to zero
    EXPECT_EQ(zero.RandomUniform(), 0.0);

    Random top;
    // With x = y = z = 0 the step returns w ^ (w >> 19), which this w (its
    // inverse applied to all ones) turns into 0xFFFFFFFF.
    top.x = top.y = top.z = 0;
    std::uint32_t w = 0xFFFFFFFFu ^ (0xFFFFFFFFu >> 19);
    top.w = w;
    std::uint32_t word = top.RandomNext();
    ASSERT_EQ(word, 0xFFFFFFFFu);
    EXPECT_LT(word * 2.3283064365386963e-10, 1.0);
    EXPECT_EQ(static_cast<float>(word * 2.3283064365386963e-10), 1.0f);
    top.x = top.y = top.z = 0;
    top.w = w;
    EXPECT_EQ(top.RandomUniformFloat(), 1.0f);
}

TEST(Random, SeededGeneratorsDifferAndAreNeverAllZero) {
    Random a = Random::FromSeed(0);
    Random b = Random::FromSeed(1);
    EXPECT_NE(a.w, b.w);
    EXPECT_NE(a.x | a.y | a.z | a.w, 0u);
    Random again = Random::FromSeed(1);
    EXPECT_EQ(again.RandomNext(), b.RandomNext());
}

TEST(Random, MeanOfManyDrawsIsOneHalf) {
    Random random;
    double sum = 0.0;
    const int n = 200000;
    for (int i = 0; i < n; ++i) {
        sum += random.RandomUniform();
    }
    // Standard error of the mean is sqrt(1/12 / n) ≈ 0.00065.
    EXPECT_NEAR(sum / n, 0.5, 0.003);
}

}  // namespace
}  // namespace lumeno
