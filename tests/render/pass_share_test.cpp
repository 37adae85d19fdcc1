#include "render/pass_share.h"

#include <gtest/gtest.h>

namespace lumeno {
namespace {

TEST(FarmSaveInterval, IsSixteenUpToSixteenProcessesAndKeepsEveryProcessBusyBeyond) {
    EXPECT_EQ(FarmSaveInterval(1), 16);
    EXPECT_EQ(FarmSaveInterval(16), 16);
    EXPECT_EQ(FarmSaveInterval(17), 32);
    EXPECT_EQ(FarmSaveInterval(64), 64);
}

TEST(GrownSaveInterval, KeepsCombiningWithinItsShareOfTheTime) {
    // A combine cheap enough leaves the interval as it is.
    EXPECT_EQ(GrownSaveInterval(16, 0.01, 1.0, 0.1), 16);
    for (double combine : {0.2, 0.85, 2.6, 7.0}) {
        for (int current : {16, 32, 64}) {
            const double render = 0.5;  // seconds for the current interval
            int next = GrownSaveInterval(current, combine, render, 0.1);
            EXPECT_EQ(next % 16, 0);
            EXPECT_GE(next, current);
            // The smallest multiple of 16 whose rendering outweighs the
            // combine tenfold, unless that passes the session's end.
            double renderNext = render * next / current;
            if (next < 1600) {
                EXPECT_LE(combine, 0.1 * renderNext + 1e-12) << current << " " << combine;
                if (next > current) {
                    EXPECT_GT(combine, 0.1 * render * (next - 16) / current);
                }
            }
        }
    }
    EXPECT_EQ(GrownSaveInterval(16, 1000.0, 0.001, 0.1), 1600);
}

}  // namespace
}  // namespace lumeno
