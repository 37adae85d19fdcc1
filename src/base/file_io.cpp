#include "base/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace lumeno {
namespace {

Status ErrnoError(const std::string& what, const std::string& path, int error) {
    return Status::Error(what + " " + path + ": " + std::strerror(error));
}

}  // namespace

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

Status AtomicFile::Open(const std::string& target) {
    Abandon();
    target_ = target;
    std::string temporary = TemporaryPathFor(target);
    file_ = std::fopen(temporary.c_str(), "wb");
    if (file_ == nullptr) {
        return ErrnoError("cannot create", temporary, errno);
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
