#include "output/profile_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "output/format_sci.hpp"
#include "run/run_failure.hpp"

namespace {

constexpr std::size_t buffer_size = std::size_t{1} << 18;

// The longest record: three fields of 16 characters and a line feed.
constexpr std::size_t longest_record = 3 * 16 + 1;

[[noreturn]] void fail_file(const profile_file& file, const char* action, int error) {
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

void flush_buffer(profile_file& file) {
    const std::size_t used = std::exchange(file.used, 0);
    if (const int error = write_all(file.fd, file.buffer.get(), used)) {
        fail_file(file, "write", error);
    }
}

// Room for one more record at the end of the buffer.
char* reserve(profile_file& file) {
    if (buffer_size - file.used < longest_record) flush_buffer(file);
    return file.buffer.get() + file.used;
}

void open_one(profile_file& file, const char* name) {
    file.name = name;
    file.fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (file.fd < 0) fail_file(file, "create", errno);
    file.buffer = std::make_unique<char[]>(buffer_size);
}

void close_one(profile_file& file, bool checked) {
    if (file.fd < 0) return;
    int error = write_all(file.fd, file.buffer.get(), std::exchange(file.used, 0));
    if (::close(file.fd) != 0 && error == 0 && errno != EINTR) error = errno;
    file.fd = -1;
    if (checked && error != 0) fail_file(file, "write", error);
}

void empty_line(profile_file& file) {
    char* p = reserve(file);
    *p = '\n';
    file.used += 1;
}

void time_line(profile_file& file, double time) {
    char* p = reserve(file);
    std::memcpy(p, "#Time = ", 8);
    format_sci_into(p + 8, time, 14, 6);
    p[22] = '\n';
    file.used += 23;
}

void xl_record(profile_file& file, double x, double v) {
    char* p = reserve(file);
    format_sci_into(p, x, 16, 8);
    format_sci_into(p + 16, v, 16, 8);
    p[32] = '\n';
    file.used += 33;
}

void xtl_record(profile_file& file, double time, double x, double v) {
    char* p = reserve(file);
    format_sci_into(p, time, 16, 8);
    format_sci_into(p + 16, x, 16, 8);
    format_sci_into(p + 32, v, 16, 8);
    p[48] = '\n';
    file.used += 49;
}

// True when phi is written with its own value; otherwise it is written as +0.
bool above_floor(double phi) { return std::fabs(phi) > phi_floor; }

}  // namespace

ProfileFiles::ProfileFiles(ProfileFiles&& other) noexcept
    : xl(std::exchange(other.xl, profile_file{})), xtl(std::exchange(other.xtl, profile_file{})) {}

ProfileFiles::~ProfileFiles() {
    close_one(xl, false);
    close_one(xtl, false);
}

ProfileFiles open_profile_files() {
    ProfileFiles files;
    open_one(files.xl, "phi.xl");
    open_one(files.xtl, "phi.xtl");
    return files;
}

void write_initial_profile(ProfileFiles& files, double time, const GridFunction& x,
                           const GridFunction& phi) {
    time_line(files.xl, time);
    for (std::size_t i = 0; i < phi.size(); i += profile_stride) {
        const double v = above_floor(phi.data()[i]) ? phi.data()[i] : 0.0;
        xl_record(files.xl, x.data()[i], v);
    }
    empty_line(files.xl);
    empty_line(files.xl);
}

void write_profile(ProfileFiles& files, double time, const GridFunction& x,
                   const GridFunction& phi) {
    time_line(files.xl, time);
    for (std::size_t i = 0; i < phi.size(); i += profile_stride) {
        const double value = phi.data()[i];
        if (above_floor(value)) {
            xl_record(files.xl, x.data()[i], value);
            xtl_record(files.xtl, time, x.data()[i], value);
            empty_line(files.xtl);
        } else {
            xl_record(files.xl, x.data()[i], 0.0);
            xtl_record(files.xtl, time, x.data()[i], 0.0);
        }
    }
    empty_line(files.xl);
    empty_line(files.xl);
    empty_line(files.xtl);
    empty_line(files.xtl);
}

void close_profile_files(ProfileFiles& files) {
    close_one(files.xl, true);
    close_one(files.xtl, true);
}
