#include "render/film.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

TEST(ToneCurve, MapsMeanRadianceToDisplayValues) {
    EXPECT_EQ(ToneCurve(0.0f), 0.0f);
    EXPECT_NEAR(ToneCurve(0.01f), 100.2f, 0.05f);
    EXPECT_EQ(DisplayByte(ToneCurve(0.01f)), 100);
    EXPECT_LT(ToneCurve(0.0253f), 255.0f);
    EXPECT_GE(ToneCurve(0.02536f), 255.0f);
    EXPECT_EQ(DisplayByte(ToneCurve(0.5f)), 255);
}

}  // namespace
}  // namespace lumeno
