// File helpers shared by every reader and writer. Readers open their inputs
// as regular files only: opening never blocks and a FIFO, device, socket or
// folder is refused, so a scene naming one cannot hang the program, and no
// reader reads past the size the file had when it was opened. Writers replace
// a file atomically (written under a temporary name beside its target, flushed
// to disk, then renamed over it), so an interrupted or failed write never
// leaves a torn file where a whole one stood; temporaries a killed process
// left behind are swept away later.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "base/status.h"

namespace lumeno {

// A regular file open for reading. Open looks at what path names before
// opening it and opens it without blocking, so a FIFO without a writer, a
// device (/dev/zero, a terminal), a socket or a folder is refused at once,
// symbolic links to them included. Size() is the file's size at opening;
// readers read no further than that, so a file that grows while it is read
// (or a pseudo-file that reports no size) still costs a bounded read.
class RegularFile {
  public:
    RegularFile() = default;
    RegularFile(const RegularFile&) = delete;
    RegularFile& operator=(const RegularFile&) = delete;
    ~RegularFile();

    // On failure the message reads "<path>: <why>"; Why() holds the reason
    // alone ("a FIFO, not a regular file", "No such file or directory").
    Status Open(const std::string& path);
    void Close();

    std::FILE* Stream() const { return file_; }
    std::int64_t Size() const { return size_; }
    const std::string& Why() const { return why_; }
    // The last Open failed because the path names something else than a
    // regular file (rather than nothing, or nothing it may read).
    bool WasNotRegular() const { return notRegular_; }

  private:
    std::FILE* file_ = nullptr;
    std::int64_t size_ = 0;
    std::string why_;
    bool notRegular_ = false;
};

// Creates the folder path (one level) when it is missing. Fails when it
// cannot, or when something other than a folder is in the way.
Status EnsureFolder(const std::string& path);

// The temporary name a write to target uses: target + ".tmp" + process id.
std::string TemporaryPathFor(const std::string& target);
// Creates the file temporary for writing, empty, after removing whatever
// stood at that name; never follows a link there. The open descriptor, or
// −1 with errno set.
int CreateTemporary(const std::string& temporary);

// Removes from folder the temporaries that writes of processes no longer
// running left behind: files named "<target>.tmp<pid>" (TemporaryPathFor's
// pattern) whose target name isOwnTarget accepts and whose process id names
// no live process. Files of this process and of live ones are kept, and so is
// everything else in the folder. Returns how many were removed.
int RemoveStaleTemporaries(const std::string& folder,
                           const std::function<bool(std::string_view target)>& isOwnTarget);

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
    static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
    std::string target_;
    std::string temporary_;
    // The stream's buffer, kept as long as the object (whose destructor
    // closes the stream first).
    std::unique_ptr<char[]> buffer_;
    std::FILE* file_ = nullptr;
};

// Makes the file at temporary, written whole by someone else (a library
// that writes to a file name), the target's content: syncs it and renames it
// over target. The temporary is removed on failure.
Status CommitFile(const std::string& temporary, const std::string& target);

// Replaces target's content with bytes, atomically.
Status WriteFileAtomically(const std::string& target, std::string_view bytes);

}  // namespace lumeno
