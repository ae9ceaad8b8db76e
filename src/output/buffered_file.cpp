#include "output/buffered_file.hpp"

#include <fcntl.h>
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

}  // namespace

void open_buffered_file(buffered_file& file, const char* name) {
    file.name = name;
    file.fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file.fd < 0) fail_file(file, "create", errno);
    file.buffer = std::make_unique_for_overwrite<char[]>(buffered_file_size);
}

char* reserve(buffered_file& file, std::size_t size) {
    if (buffered_file_size - file.used < size) flush_buffer(file);
    return file.buffer.get() + file.used;
}

void flush_buffer(buffered_file& file) {
    const std::size_t used = std::exchange(file.used, 0);
    if (const int error = write_all(file.fd, file.buffer.get(), used)) {
        fail_file(file, "write", error);
    }
}

void close_buffered_file(buffered_file& file, bool checked) {
    if (file.fd < 0) return;
    int error = write_all(file.fd, file.buffer.get(), std::exchange(file.used, 0));
    if (::close(file.fd) != 0 && error == 0 && errno != EINTR) error = errno;
    file.fd = -1;
    if (checked && error != 0) fail_file(file, "write", error);
}
