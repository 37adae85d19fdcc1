// Helpers shared by the tests: a scratch directory that removes itself, and
// file writing/reading in one call.
#pragma once

#include <string>
#include <string_view>

namespace lumeno::testing {

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

// Runs the rest of a test in directory, restoring the previous one after.
class ScopedWorkingDirectory {
  public:
    explicit ScopedWorkingDirectory(const std::string& directory);
    ~ScopedWorkingDirectory();

  private:
    std::string previous_;
};

}  // namespace lumeno::testing
