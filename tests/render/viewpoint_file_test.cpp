#include "render/viewpoint_file.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <string>

#include "render/mouse_control.h"
#include "test_support.h"

namespace lumeno {
namespace {

using testing::ReadFile;
using testing::ScopedWorkingDirectory;
using testing::TempDir;

Camera DefaultCamera() {
    Camera camera;
    DeriveCameraBasis(camera);
    return camera;
}

// A camera whose every field differs from the defaults, to see which ones a
// load replaces.
Camera MarkedCamera() {
    Camera camera;
    camera.position = {9, 9, 9};
    camera.ex = {8, 8, 8};
    camera.ey = {7, 7, 7};
    camera.ez = {6, 6, 6};
    camera.lookAt = {5, 5, 5};
    return camera;
}

// The default camera's basis, derived from its look-at point, holds two
// negative zeros; they are written as such and read back with their sign.
TEST(ViewpointFormat, TheDefaultCameraGivesFiveShortLines) {
    EXPECT_EQ(FormatViewpoint(DefaultCamera()),
              "camera_pos 0 0 0\n"
              "camera_ex 1 0 -0\n"
              "camera_ey -0 1 0\n"
              "camera_ez 0 0 1\n"
              "look_at 0 0 1\n");
}

TEST(ViewpointFormat, NumbersReadLikePrintfGWithSixDigits) {
    Camera camera;
    camera.position = {1.5f, -0.70710678f, 1e-7f};
    camera.ex = {123456.7f, 1e6f, 0.0001f};
    camera.ey = {0.00001f, -2.5e-20f, 3.0e38f};
    camera.ez = {0, -0.0f, 0};  // a negative zero keeps its sign, as %g writes it
    EXPECT_EQ(FormatViewpoint(camera),
              "camera_pos 1.5 -0.707107 1e-07\n"
              "camera_ex 123457 1e+06 0.0001\n"
              "camera_ey 1e-05 -2.5e-20 3e+38\n"
              "camera_ez 0 -0 0\n"
              "look_at 1.5 -0.707107 1e-07\n");
}

TEST(ViewpointFormat, DoesNotFollowTheProcessLocale) {
    const char* previous = std::setlocale(LC_ALL, nullptr);
    std::string saved = previous != nullptr ? previous : "C";
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        GTEST_SKIP() << "no de_DE.UTF-8 locale on this machine";
    }
    Camera camera = DefaultCamera();
    camera.position = {1.5f, 0, 0};
    std::string text = FormatViewpoint(camera);
    std::setlocale(LC_ALL, saved.c_str());
    EXPECT_EQ(text.substr(0, text.find('\n')), "camera_pos 1.5 0 0");
}

class ViewpointFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    ScopedWorkingDirectory cwd{dir.Root()};
};

TEST_F(ViewpointFileTest, SavingCreatesTheOutFolderAndLeavesNoTemporaryFile) {
    ASSERT_FALSE(std::filesystem::exists("out"));
    Status saved = SaveViewpoint(DefaultCamera(), kViewpointPath);
    ASSERT_TRUE(saved) << saved.Message();
    EXPECT_EQ(ReadFile("out/view.txt"), FormatViewpoint(DefaultCamera()));
    int files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("out")) {
        ++files;
    }
    EXPECT_EQ(files, 1);

    // A second save replaces the file whole.
    Camera moved = DefaultCamera();
    moved.position = {1, 2, 3};
    ASSERT_TRUE(SaveViewpoint(moved, kViewpointPath));
    EXPECT_EQ(ReadFile("out/view.txt"), FormatViewpoint(moved));
}

TEST_F(ViewpointFileTest, ASaveThatCannotWriteSaysWhyAndKeepsNothingHalfWritten) {
    dir.Write("out", "a file where the folder should be");
    Status failed = SaveViewpoint(DefaultCamera(), kViewpointPath);
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.Message().find("not a folder"), std::string::npos) << failed.Message();

    // The target is a folder: the rename fails, the old state stays.
    std::filesystem::remove("out");
    std::filesystem::create_directories("out/view.txt");
    failed = SaveViewpoint(DefaultCamera(), kViewpointPath);
    EXPECT_FALSE(failed);
    EXPECT_NE(failed.Message().find("out/view.txt"), std::string::npos) << failed.Message();
    EXPECT_TRUE(std::filesystem::is_directory("out/view.txt"));
    EXPECT_FALSE(std::filesystem::exists("out/view.txt.tmp"));
}

TEST_F(ViewpointFileTest, ATurnedCameraComesBackUpToSixDigits) {
    Camera saved = DefaultCamera();
    saved.position = {0.25f, -2.2f, -6.5f};
    DragState drag;
    OnLeftButtonDown(drag, 0, 0);
    OnMouseMove(drag, saved, 23, 7, false);
    OnMouseMove(drag, saved, 31, 41, false);
    ASSERT_TRUE(SaveViewpoint(saved));

    Camera loaded = MarkedCamera();
    loaded.focus = 2.5f;
    loaded.width = 640;
    ViewpointLoadResult result = LoadViewpoint(loaded);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.vectorsRead, 5);
    EXPECT_TRUE(result.error.empty()) << result.error;
    auto expectNear = [](Vec3 a, Vec3 b) {
        EXPECT_NEAR(a.x, b.x, 1e-5f);
        EXPECT_NEAR(a.y, b.y, 1e-5f);
        EXPECT_NEAR(a.z, b.z, 1e-5f);
    };
    expectNear(loaded.position, saved.position);
    expectNear(loaded.ex, saved.ex);
    expectNear(loaded.ey, saved.ey);
    expectNear(loaded.ez, saved.ez);
    expectNear(loaded.lookAt, saved.position + saved.ez);
    // Neither the image size nor focus is part of the file.
    EXPECT_EQ(loaded.focus, 2.5f);
    EXPECT_EQ(loaded.width, 640);
}

TEST_F(ViewpointFileTest, LinesCountByPositionWhateverTheirKeysSay) {
    dir.Write("out/view.txt",
              "camra_pos 1 2 3\r\n"
              "x 0 0 -1\n"
              "a_very_long_key_that_nobody_would_write_by_hand_but_could 0 -1 0\n"
              "look_at -1 0 0\n"
              "camera_pos\t4  5\n6\n");
    Camera camera = MarkedCamera();
    ViewpointLoadResult result = LoadViewpoint(camera);
    EXPECT_EQ(result.vectorsRead, 5);
    EXPECT_EQ(camera.position, (Vec3{1, 2, 3}));
    EXPECT_EQ(camera.ex, (Vec3{0, 0, -1}));
    EXPECT_EQ(camera.ey, (Vec3{0, -1, 0}));
    EXPECT_EQ(camera.ez, (Vec3{-1, 0, 0}));
    EXPECT_EQ(camera.lookAt, (Vec3{4, 5, 6}));
}

TEST_F(ViewpointFileTest, AFileOfThreeLinesKeepsEzAndLookAt) {
    dir.Write("out/view.txt", "camera_pos 1 2 3\ncamera_ex 0 0 1\ncamera_ey 0 -1 0\n");
    Camera camera = MarkedCamera();
    ViewpointLoadResult result = LoadViewpoint(camera);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.vectorsRead, 3);
    EXPECT_NE(result.error.find("3 of 5"), std::string::npos) << result.error;
    EXPECT_EQ(camera.position, (Vec3{1, 2, 3}));
    EXPECT_EQ(camera.ex, (Vec3{0, 0, 1}));
    EXPECT_EQ(camera.ey, (Vec3{0, -1, 0}));
    EXPECT_EQ(camera.ez, (Vec3{6, 6, 6}));
    EXPECT_EQ(camera.lookAt, (Vec3{5, 5, 5}));
}

TEST_F(ViewpointFileTest, ReadingStopsAtTheFirstUnreadableNumber) {
    struct Case {
        const char* text;
        int vectorsRead;
    };
    const Case cases[] = {
        {"p 1 2 3\nex 1 zwei 3\ney 0 1 0\n", 1},  // a word
        {"p 1 2 3\nex 1 0,5 0\n", 1},             // a decimal comma
        {"p 1 2 3\nex 1 2\n", 1},                 // the next key read as a number: the end
        {"p 1 2 3\nex 1 2 x3\n", 1},              // letters before the digits
        {"p nan 0 0\n", 0},                       // not a number
        {"p 1 2 3\nex inf 0 0\n", 1},             // infinite
        {"p 1 2 3\nex 1e39 0 0\n", 1},            // beyond the float range
        {"p 1 2 3\nex 1 0 1", 2},                 // no final line end: still read
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        dir.Write("out/view.txt", c.text);
        Camera camera = MarkedCamera();
        ViewpointLoadResult result = LoadViewpoint(camera);
        EXPECT_EQ(result.vectorsRead, c.vectorsRead);
        EXPECT_FALSE(result.error.empty());
        EXPECT_EQ(camera.position, c.vectorsRead >= 1 ? Vec3(1, 2, 3) : Vec3(9, 9, 9));
        // A vector whose numbers could not all be read keeps its old value whole.
        EXPECT_EQ(camera.ex, c.vectorsRead >= 2 ? Vec3(1, 0, 1) : Vec3(8, 8, 8));
        EXPECT_EQ(camera.ey, (Vec3{7, 7, 7}));
    }
}

TEST_F(ViewpointFileTest, NumbersReadInAnyWrittenForm) {
    dir.Write("out/view.txt",
              "p +1.5 -0 1e-007\nx 1E+2 .5 -7.\ny 1e-40 0x10 5\nz 0 0 1\nl 0 0 1\n");
    Camera camera = MarkedCamera();
    ViewpointLoadResult result = LoadViewpoint(camera);
    // "0x10" is no decimal number: reading stops in the third entry.
    EXPECT_EQ(result.vectorsRead, 2);
    EXPECT_EQ(camera.position, (Vec3{1.5f, 0, 1e-7f}));
    EXPECT_EQ(camera.ex, (Vec3{100, 0.5f, -7}));

    // A subnormal value is a readable number.
    dir.Write("out/view.txt", "p 1e-40 0 0\n");
    ASSERT_EQ(LoadViewpoint(camera).vectorsRead, 1);
    EXPECT_GT(camera.position.x, 0.0f);
    EXPECT_LT(camera.position.x, 1e-39f);
}

TEST_F(ViewpointFileTest, KeysAndNumbersOfAnyLengthAreReadSafely) {
    std::string longKey(3'000'000, 'k');
    std::string longNumber(100'000, '1');
    dir.Write("out/view.txt",
              longKey + " 1 2 3\n" + longKey + " 0 0 1\n" + "ey " + longNumber + " 0 0\n");
    Camera camera = MarkedCamera();
    ViewpointLoadResult result = LoadViewpoint(camera);
    EXPECT_EQ(result.vectorsRead, 2);
    EXPECT_EQ(camera.position, (Vec3{1, 2, 3}));
    EXPECT_EQ(camera.ex, (Vec3{0, 0, 1}));
    EXPECT_EQ(camera.ey, (Vec3{7, 7, 7}));
}

TEST_F(ViewpointFileTest, AMissingFileChangesNothing) {
    Camera camera = MarkedCamera();
    ViewpointLoadResult result = LoadViewpoint(camera);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.vectorsRead, 0);
    EXPECT_NE(result.error.find("out/view.txt"), std::string::npos) << result.error;
    EXPECT_EQ(camera.position, (Vec3{9, 9, 9}));
    EXPECT_EQ(camera.lookAt, (Vec3{5, 5, 5}));
}

}  // namespace
}  // namespace lumeno
