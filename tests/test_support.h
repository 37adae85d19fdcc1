// Helpers shared by the tests: a scratch directory that removes itself, and
// file writing/reading in one call.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "scene/vec3.h"

namespace lumeno::testing {

// Each component of actual lies within tolerance of expected's.
inline void ExpectNear(Vec3 actual, Vec3 expected, float tolerance = 1e-6f) {
    EXPECT_NEAR(actual.x, expected.x, tolerance);
    EXPECT_NEAR(actual.y, expected.y, tolerance);
    EXPECT_NEAR(actual.z, expected.z, tolerance);
}

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Root() const { return root_; }
    // root/relative
    std::string Path(std::string_view relative) const;
    // Writes bytes to root/relative, creating parent directories.
    std::string Write(std::string_view relative, std::string_view bytes) const;

  private:
    std::string root_;
};

std::string ReadFile(const std::string& path);

// Fills dir with a small working folder whose scene holds every material
// kind (textured and bump-mapped diffuse, coated, glass, subsurface with and
// without a map, emissive) over a diffuse floor, under a probe of a few
// lights and a coloured environment: width × height pixels.
void WriteEveryMaterialScene(const TempDir& dir, int width = 32, int height = 24);

// Runs the rest of a test in directory, restoring the previous one after.
class ScopedWorkingDirectory {
  public:
    explicit ScopedWorkingDirectory(const std::string& directory);
    ~ScopedWorkingDirectory();

  private:
    std::string previous_;
};

}  // namespace lumeno::testing
