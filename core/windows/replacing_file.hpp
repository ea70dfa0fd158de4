// A file written beside its final name and renamed over it only when complete,
// so that no reader ever sees it half written and no file it replaces (a merge's
// input among them) is damaged before then.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "windows/merge_refusal.hpp"

namespace morvane {

namespace detail {

// A temporary file beside the output, renamed over it when complete.
class TemporaryFile {
public:
    TemporaryFile(const std::filesystem::path& target) : target_(target) {
        std::string hidden(1, '.');
        hidden += target.filename().string();
        hidden += ".merge-XXXXXX";
        std::string pattern = (target.parent_path() / hidden).string();
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            throw MergeRefusal(target.string(),
                               std::string("cannot be created: ") + std::strerror(errno));
        path_ = pattern;
        // The permissions a program's fopen gives: 0666 less the umask.
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
        stream_ = fdopen(fd, "w");
        if (!stream_) {
            const int error = errno;
            close(fd);
            unlink(path_.c_str());
            errno = error;
            fail("cannot be written");
        }
    }
    ~TemporaryFile() {
        if (stream_) std::fclose(stream_);
        if (!path_.empty()) unlink(path_.c_str());
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    void write(std::string_view bytes) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), stream_) != bytes.size())
            fail("cannot be written");
    }
    // Flushed to the disk and closed: a machine that stops after the rename
    // finds the whole file. Without sync the file is only closed: a process
    // killed after the rename still leaves the whole file, a machine that
    // stops may not.
    void finish(bool sync = true) {
        const bool ok = std::fflush(stream_) == 0 && (!sync || fsync(fileno(stream_)) == 0);
        const bool closed = std::fclose(stream_) == 0;
        stream_ = nullptr;
        if (!ok || !closed) fail("cannot be written");
    }
    void rename_over_target() {
        if (std::rename(path_.c_str(), target_.c_str()) != 0) fail("cannot be put in place");
        path_.clear();
    }

private:
    [[noreturn]] void fail(const std::string& what) {
        throw MergeRefusal(target_.string(), what + ": " + std::strerror(errno));
    }
    std::filesystem::path target_;
    std::string path_;
    std::FILE* stream_ = nullptr;
};

}  // namespace detail

}  // namespace morvane
