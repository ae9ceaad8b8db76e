#include "output/profile_files.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <utility>

#if defined(_OPENMP)
#include <omp.h>
#endif

#include "common/run_failure.hpp"
#include "output/format_sci.hpp"

namespace {

// Sampled points formatted by one thread in one round: their records (at most 33 bytes in
// phi.xl, 50 in phi.xtl) fit a buffer.
constexpr std::size_t sampled_points_per_round = 4096;
constexpr int max_threads = 16;

// Fewer sampled points than this are formatted on one thread: the threads would cost more than
// they save.
constexpr std::size_t min_threaded_points = 2048;

void empty_line(buffered_file& file) {
    char* p = reserve(file, 1);
    *p = '\n';
    file.used += 1;
}

void time_line(buffered_file& file, double time) {
    char* p = reserve(file, 23);
    std::memcpy(p, "#Time = ", 8);
    format_sci_into(p + 8, time, 14, 6);
    p[22] = '\n';
    file.used += 23;
}

// The x and phi fields of one sampled point, as both files write them.
constexpr std::size_t point_fields = 2 * 16;

// An xl point record; returns where its two fields start, for the xtl record to copy.
const char* xl_record(buffered_file& file, double x, double v) {
    char* p = reserve(file, point_fields + 1);
    format_sci_into(p, x, 16, 8);
    format_sci_into(p + 16, v, 16, 8);
    p[point_fields] = '\n';
    file.used += point_fields + 1;
    return p;
}

// An xtl point record from the time field and the fields of the xl record just written, with
// the empty line that follows a point written with its own value.
void xtl_record(buffered_file& file, const char* time_field, const char* fields, bool empty_after) {
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

// Which thread of the parallel region this is.
#if defined(_OPENMP)
int team_member() {
    return omp_get_thread_num();
}
#else
int team_member() {
    return 0;
}
#endif

// Appends whole records, already formatted, to the file's buffer.
void append_records(buffered_file& file, const buffered_file& records) {
    std::memcpy(reserve(file, records.used), records.buffer.get(), records.used);
    file.used += records.used;
}

// The point records of the sampled points first..last-1 (the point k*profile_stride for each k),
// to xl and, with a time field, to xtl.
void point_records(buffered_file& xl, buffered_file& xtl, const char* time_field,
                   const GridFunction& x, const GridFunction& phi, std::size_t first,
                   std::size_t last) {
    for (std::size_t k = first; k < last; ++k) {
        const std::size_t i = k * profile_stride;
        const double value = phi.data()[i];
        const char* fields = xl_record(xl, x.data()[i], written_value(value));
        if (time_field != nullptr) xtl_record(xtl, time_field, fields, above_floor(value));
    }
}

// The point records of a whole profile. On several threads, in chunks of consecutive points
// handed out in turn: each thread formats a chunk into its own buffers, then appends them to the
// files when every chunk before it has been appended (an ordered region), and goes on with its
// next chunk while the next thread appends. So one thread's write calls overlap the others'
// formatting. A failed write stops the appends and is thrown after the threads have joined.
void profile_points(ProfileFiles& files, const char* time_field, const GridFunction& x,
                    const GridFunction& phi, int threads) {
    const std::size_t sampled = (phi.size() + profile_stride - 1) / profile_stride;
    threads = std::min(threads, files.threads);
    if (threads <= 1 || sampled < min_threaded_points) {
        point_records(files.xl, files.xtl, time_field, x, phi, 0, sampled);
        return;
    }
    // About four chunks a thread, for the overlap, each within a buffer.
    const auto team = static_cast<std::size_t>(threads);
    const std::size_t chunk =
        std::min(sampled_points_per_round, (sampled + 4 * team - 1) / (4 * team));
    const auto chunks = static_cast<std::int64_t>((sampled + chunk - 1) / chunk);
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
#if defined(_OPENMP)
#pragma omp parallel for ordered schedule(static, 1) num_threads(threads)
#endif
    for (std::int64_t c = 0; c < chunks; ++c) {
        profile_thread_buffers& own = files.thread_buffers[team_member()];
        const std::size_t first = static_cast<std::size_t>(c) * chunk;
        if (!failed.load(std::memory_order_relaxed)) {
            point_records(own.xl, own.xtl, time_field, x, phi, first,
                          std::min(first + chunk, sampled));
        }
#if defined(_OPENMP)
#pragma omp ordered
#endif
        {
            if (!failure) {
                try {
                    append_records(files.xl, own.xl);
                    append_records(files.xtl, own.xtl);
                } catch (...) {
                    failure = std::current_exception();
                    failed.store(true, std::memory_order_relaxed);
                }
            }
            own.xl.used = 0;
            own.xtl.used = 0;
        }
    }
    if (failure) std::rethrow_exception(failure);
}

}  // namespace

ProfileFiles::ProfileFiles(ProfileFiles&& other) noexcept
    : xl(std::exchange(other.xl, buffered_file{})),
      xtl(std::exchange(other.xtl, buffered_file{})),
      thread_buffers(std::move(other.thread_buffers)),
      threads(std::exchange(other.threads, 1)) {}

ProfileFiles::~ProfileFiles() {
    try {
        close_profile_files(*this);
    } catch (const run_failure&) {
        // Cut back and closed; the failure that ends the run is already on its way.
    }
}

ProfileFiles open_profile_files(int threads) {
    ProfileFiles files;
    open_buffered_file(files.xl, "phi.xl", true);
    open_buffered_file(files.xtl, "phi.xtl");
    files.threads = std::clamp(threads, 1, max_threads);
    if (files.threads > 1) {
        files.thread_buffers = std::make_unique<profile_thread_buffers[]>(files.threads);
        for (int t = 0; t < files.threads; ++t) {
            files.thread_buffers[t].xl.buffer =
                std::make_unique_for_overwrite<char[]>(buffered_file_size);
            files.thread_buffers[t].xtl.buffer =
                std::make_unique_for_overwrite<char[]>(buffered_file_size);
        }
    }
    return files;
}

void write_initial_profile(ProfileFiles& files, double time, const GridFunction& x,
                           const GridFunction& phi, int threads) {
    time_line(files.xl, time);
    profile_points(files, nullptr, x, phi, threads);
    empty_line(files.xl);
    empty_line(files.xl);
}

// Each field is formatted once: the time field once per step, x and phi once per point; the
// xtl record copies them.
void write_profile(ProfileFiles& files, double time, const GridFunction& x, const GridFunction& phi,
                   int threads) {
    time_line(files.xl, time);
    char time_field[16];
    format_sci_into(time_field, time, 16, 8);
    profile_points(files, time_field, x, phi, threads);
    empty_line(files.xl);
    empty_line(files.xl);
    empty_line(files.xtl);
    empty_line(files.xtl);
}

void flush_profile_files(ProfileFiles& files) {
    if (files.xl.fd < 0 || files.xtl.fd < 0) return;
    flush_buffer(files.xl);
    flush_buffer(files.xtl);
}

void close_profile_files(ProfileFiles& files) {
    flush_profile_files(files);
    close_buffered_file(files.xl, true);
    close_buffered_file(files.xtl, true);
}
