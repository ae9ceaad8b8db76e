#include "output/buffered_file.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "common/run_failure.hpp"

namespace {

[[noreturn]] void fail_file(const buffered_file& file, const char* action, int error) {
    throw run_failure{exit_output, std::string("wave1d: cannot ") + action + " " + file.name +
                                       ": " + std::strerror(error != 0 ? error : EIO)};
}

// Writes bytes [data, data+size) to the file descriptor, retrying short and interrupted
// writes. Returns 0, or the errno of the failure.
int write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

bool is_regular(int fd) {
    struct stat status {};
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}

// The current folder, for the message that refuses a second run in it.
std::string current_folder() {
    char path[4096];
    return ::getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string(".");
}

}  // namespace

void open_buffered_file(buffered_file& file, const char* name, bool lock) {
    file.name = name;
    file.fd = ::open(name, O_WRONLY | O_CREAT | (lock ? 0 : O_TRUNC) | O_CLOEXEC, 0666);
    if (file.fd < 0) fail_file(file, "create", errno);
    if (lock) {
        // A file system without such locks (EINVAL, ENOLCK, EOPNOTSUPP) is written unlocked.
        if (::flock(file.fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            ::close(std::exchange(file.fd, -1));
            throw run_failure{exit_output, std::string("wave1d: another run is writing ") + name +
                                               " in " + current_folder() +
                                               "; two runs in one folder would mix their output"};
        }
        // O_TRUNC is ignored on a device or FIFO, and so is this.
        if (is_regular(file.fd) && ::ftruncate(file.fd, 0) != 0) fail_file(file, "create", errno);
    }
    file.buffer = std::make_unique_for_overwrite<char[]>(buffered_file_size);
}

void flush_buffer(buffered_file& file) {
    const std::size_t used = std::exchange(file.used, 0);
    if (const int error = write_all(file.fd, file.buffer.get(), used)) {
        fail_file(file, "write", error);
    }
    file.written += used;
}

void cut_back(buffered_file& file) {
    file.used = 0;
    if (file.fd < 0) return;
    // The failed write may have written part of its buffer.
    if (is_regular(file.fd)) {
        [[maybe_unused]] const int ignored = ::ftruncate(file.fd, static_cast<off_t>(file.whole));
    }
    ::close(std::exchange(file.fd, -1));
}

void close_buffered_file(buffered_file& file, bool checked) {
    if (file.fd < 0) return;
    const std::size_t used = std::exchange(file.used, 0);
    if (const int error = write_all(file.fd, file.buffer.get(), used)) {
        cut_back(file);
        if (checked) fail_file(file, "write", error);
        return;
    }
    file.written += used;
    if (::close(std::exchange(file.fd, -1)) != 0 && errno != EINTR && checked) {
        fail_file(file, "write", errno);
    }
}
