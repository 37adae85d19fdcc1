#include "base/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <new>

namespace lumeno {
namespace {

Status ErrnoError(const std::string& what, const std::string& path, int error) {
    return Status::Error(what + " " + path + ": " + std::strerror(error));
}

// What a path names when it is not a regular file.
const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return "a folder";
    }
    if (S_ISFIFO(mode)) {
        return "a FIFO";
    }
    if (S_ISCHR(mode)) {
        return "a character device";
    }
    if (S_ISBLK(mode)) {
        return "a block device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a plain file";
}

// The process id of a "<target>.tmp<pid>" name, or 0 when name does not
// follow that pattern; *target receives the target's name.
pid_t TemporaryOwner(std::string_view name, std::string_view* target) {
    std::size_t mark = name.rfind(".tmp");
    if (mark == std::string_view::npos || mark == 0) {
        return 0;
    }
    std::string_view digits = name.substr(mark + 4);
    if (digits.empty() || digits.size() > 9 || digits.front() == '0') {
        return 0;
    }
    pid_t pid = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return 0;
        }
        pid = pid * 10 + (c - '0');
    }
    *target = name.substr(0, mark);
    return pid;
}

bool ProcessGone(pid_t pid) {
    return kill(pid, 0) != 0 && errno == ESRCH;
}

}  // namespace

RegularFile::~RegularFile() {
    Close();
}

void RegularFile::Close() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    size_ = 0;
}

Status RegularFile::Open(const std::string& path) {
    Close();
    why_.clear();
    notRegular_ = false;
    auto fail = [&](std::string why) {
        why_ = std::move(why);
        return Status::Error(path + ": " + why_);
    };
    // Looking first means a device is never even opened (some act on open).
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return fail(std::strerror(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        notRegular_ = true;
        return fail(std::string(KindOf(info.st_mode)) + ", not a regular file");
    }
    // Without blocking all the same: the path may have been replaced by a
    // FIFO since the look.
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fail(std::strerror(errno));
    }
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        return fail(std::strerror(error));
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        notRegular_ = true;
        return fail(std::string(KindOf(info.st_mode)) + ", not a regular file");
    }
    // Reads of a regular file never block; the flag is dropped only to leave
    // the stream as a plain open would.
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        (void)fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    file_ = fdopen(fd, "rb");
    if (file_ == nullptr) {
        int error = errno;
        close(fd);
        return fail(std::strerror(error));
    }
    size_ = info.st_size;
    return Status::Ok();
}

Status EnsureFolder(const std::string& path) {
    if (path.empty()) {
        return Status::Ok();
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) {
            return Status::Ok();
        }
        return Status::Error(path + " exists and is not a folder");
    }
    if (mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
        return ErrnoError("cannot create", path, errno);
    }
    return Status::Ok();
}

std::string TemporaryPathFor(const std::string& target) {
    return target + ".tmp" + std::to_string(getpid());
}

int RemoveStaleTemporaries(const std::string& folder,
                           const std::function<bool(std::string_view target)>& isOwnTarget) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) {
        return 0;
    }
    const pid_t self = getpid();
    int removed = 0;
    while (const dirent* entry = readdir(directory)) {
        std::string_view target;
        pid_t owner = TemporaryOwner(entry->d_name, &target);
        if (owner == 0 || owner == self || !isOwnTarget(target) || !ProcessGone(owner)) {
            continue;
        }
        std::string path = folder + "/" + entry->d_name;
        struct stat info {};
        // Only files: a folder or link of that name was not left by a write.
        if (lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
            std::remove(path.c_str()) == 0) {
            ++removed;
        }
    }
    closedir(directory);
    return removed;
}

AtomicFile::~AtomicFile() {
    Abandon();
}

void AtomicFile::Abandon() {
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
    if (!temporary_.empty()) {
        std::remove(temporary_.c_str());
        temporary_.clear();
    }
}

int CreateTemporary(const std::string& temporary) {
    // Whatever stands at the name (a leftover of an earlier process with
    // this id, or a link placed there) goes; the file is made anew, never
    // opened through a link.
    unlink(temporary.c_str());
    return open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
}

Status AtomicFile::Open(const std::string& target) {
    Abandon();
    target_ = target;
    std::string temporary = TemporaryPathFor(target);
    int fd = CreateTemporary(temporary);
    if (fd < 0) {
        return ErrnoError("cannot create", temporary, errno);
    }
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
        int error = errno;
        close(fd);
        unlink(temporary.c_str());
        return ErrnoError("cannot create", temporary, error);
    }
    // Images run to megabytes: a buffer of 1 MiB writes them in a few calls
    // rather than one per 4 KiB (without one the stream keeps its default).
    if (buffer_ == nullptr) {
        buffer_.reset(new (std::nothrow) char[kBufferBytes]);
    }
    if (buffer_ != nullptr) {
        std::setvbuf(file_, buffer_.get(), _IOFBF, kBufferBytes);
    }
    temporary_ = std::move(temporary);
    return Status::Ok();
}

Status AtomicFile::Commit() {
    if (file_ == nullptr) {
        return Status::Error("cannot write " + target_ + ": the file was not opened");
    }
    int error = 0;
    if (std::ferror(file_) != 0) {
        error = errno != 0 ? errno : EIO;
    }
    if (std::fflush(file_) != 0 && error == 0) {
        error = errno;
    }
    // On disk before the rename: after a crash the target holds either the
    // old content or the whole new one.
    if (error == 0 && fsync(fileno(file_)) != 0 && errno != EINVAL) {
        error = errno;
    }
    if (std::fclose(file_) != 0 && error == 0) {
        error = errno;
    }
    file_ = nullptr;
    if (error != 0) {
        Abandon();
        return ErrnoError("cannot write", target_, error);
    }
    if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
        error = errno;
        Abandon();
        return ErrnoError("cannot replace", target_, error);
    }
    temporary_.clear();
    return Status::Ok();
}

Status CommitFile(const std::string& temporary, const std::string& target) {
    int fd = open(temporary.c_str(), O_RDONLY | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        if (fsync(fd) != 0 && errno != EINVAL) {
            error = errno;
        }
        close(fd);
    }
    if (error == 0 && std::rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
    }
    if (error != 0) {
        std::remove(temporary.c_str());
        return ErrnoError("cannot replace", target, error);
    }
    return Status::Ok();
}

Status WriteFileAtomically(const std::string& target, std::string_view bytes) {
    AtomicFile file;
    if (Status opened = file.Open(target); !opened) {
        return opened;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), file.Stream()) != bytes.size()) {
        int error = errno;
        return Status::Error("cannot write " + target + ": " + std::strerror(error));
    }
    return file.Commit();
}

}  // namespace lumeno
