#include "output/profile_files.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "common/run_failure.hpp"
#include "output/format_sci.hpp"

namespace {

constexpr std::size_t buffer_size = std::size_t{1} << 18;

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

// Room for size more bytes at the end of the buffer.
char* reserve(profile_file& file, std::size_t size) {
    if (buffer_size - file.used < size) flush_buffer(file);
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
    char* p = reserve(file, 1);
    *p = '\n';
    file.used += 1;
}

void time_line(profile_file& file, double time) {
    char* p = reserve(file, 23);
    std::memcpy(p, "#Time = ", 8);
    format_sci_into(p + 8, time, 14, 6);
    p[22] = '\n';
    file.used += 23;
}

// The x and phi fields of one sampled point, as both files write them.
constexpr std::size_t point_fields = 2 * 16;

// An xl point record; returns where its two fields start, for the xtl record to copy.
const char* xl_record(profile_file& file, double x, double v) {
    char* p = reserve(file, point_fields + 1);
    format_sci_into(p, x, 16, 8);
    format_sci_into(p + 16, v, 16, 8);
    p[point_fields] = '\n';
    file.used += point_fields + 1;
    return p;
}

// An xtl point record from the time field and the fields of the xl record just written, with
// the empty line that follows a point written with its own value.
void xtl_record(profile_file& file, const char* time_field, const char* fields, bool empty_after) {
    char* p = reserve(file, 16 + point_fields + 2);
    std::memcpy(p, time_field, 16);
    std::memcpy(p + 16, fields, point_fields);
    p[16 + point_fields] = '\n';
    p[16 + point_fields + 1] = '\n';
    file.used += 16 + point_fields + (empty_after ? 2 : 1);
}

// True when phi is written with its own value; otherwise it is written as +0.
bool above_floor(double phi) {
    return std::fabs(phi) > phi_floor;
}

// The value written for phi: itself when above the floor, otherwise +0 (NaN included).
double written_value(double phi) {
    return above_floor(phi) ? phi : 0.0;
}

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
        xl_record(files.xl, x.data()[i], written_value(phi.data()[i]));
    }
    empty_line(files.xl);
    empty_line(files.xl);
}

// Each field is formatted once: the time field once per step, x and phi once per point; the
// xtl record copies them.
void write_profile(ProfileFiles& files, double time, const GridFunction& x,
                   const GridFunction& phi) {
    time_line(files.xl, time);
    char time_field[16];
    format_sci_into(time_field, time, 16, 8);
    for (std::size_t i = 0; i < phi.size(); i += profile_stride) {
        const double value = phi.data()[i];
        const char* fields = xl_record(files.xl, x.data()[i], written_value(value));
        xtl_record(files.xtl, time_field, fields, above_floor(value));
    }
    empty_line(files.xl);
    empty_line(files.xl);
    empty_line(files.xtl);
    empty_line(files.xtl);
}

void flush_profile_files(ProfileFiles& files) {
    flush_buffer(files.xl);
    flush_buffer(files.xtl);
}

void close_profile_files(ProfileFiles& files) {
    close_one(files.xl, true);
    close_one(files.xtl, true);
}
