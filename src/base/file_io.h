// File helpers shared by everything that writes: a file is replaced
// atomically (written under a temporary name beside its target, flushed to
// disk, then renamed over it), so an interrupted or failed write never leaves
// a torn file where a whole one stood; and a folder is created when missing.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "base/status.h"

namespace lumeno {

// Creates the folder path (one level) when it is missing. Fails when it
// cannot, or when something other than a folder is in the way.
Status EnsureFolder(const std::string& path);

// The temporary name a write to target uses: target + ".tmp" + process id.
std::string TemporaryPathFor(const std::string& target);

// One file being replaced. Open creates the temporary; write through
// Stream(); Commit flushes, syncs and renames it over the target. A file
// never committed (failure, early return) is removed when the object goes.
class AtomicFile {
  public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;
    ~AtomicFile();

    Status Open(const std::string& target);
    std::FILE* Stream() const { return file_; }
    // Makes the written bytes the target's content. After a failure the
    // target is as it was.
    Status Commit();
    // Removes the temporary, leaving the target as it was.
    void Abandon();

  private:
    std::string target_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
};

// Makes the file at temporary, written whole by someone else (a library
// that writes to a file name), the target's content: syncs it and renames it
// over target. The temporary is removed on failure.
Status CommitFile(const std::string& temporary, const std::string& target);

// Replaces target's content with bytes, atomically.
Status WriteFileAtomically(const std::string& target, std::string_view bytes);

}  // namespace lumeno
