#pragma once

#include <cstddef>
#include <memory>

#include "grid/grid_function.hpp"
#include "output/buffered_file.hpp"

// Every fourth grid point is written to the profile files.
inline constexpr std::size_t profile_stride = 4;

// A value of phi whose magnitude is not above this (or NaN) is written as zero.
inline constexpr double phi_floor = 1e-50;

// The buffers one thread formats records into; a cache line of its own, since the thread updates
// their fill counts with every record.
struct alignas(64) profile_thread_buffers {
    buffered_file xl;
    buffered_file xtl;
};

// "phi.xl" (blocks of x and phi, one per output time, time zero included) and "phi.xtl" (rows
// of time, x and phi, one block per output time after zero), open from open_profile_files to
// the end of the run. Whatever is still buffered when it is destroyed is written out;
// close_profile_files is the checked way to end.
//
// When a write fails (a full disk, the file-size limit), the owner of the files cuts both back
// to their `whole` lengths (cut_back), which it sets when every output file of the run has been
// written out, so that all end on the same output step.
struct ProfileFiles {
    buffered_file xl;
    buffered_file xtl;
    // With several threads: a buffer pair per thread, each without a file, into which a thread
    // formats the records of its share of a profile before they go to the files in order.
    std::unique_ptr<profile_thread_buffers[]> thread_buffers;
    int threads = 1;

    ProfileFiles() = default;
    ProfileFiles(ProfileFiles&&) noexcept;
    ProfileFiles& operator=(ProfileFiles&&) = delete;
    ~ProfileFiles();
};

// Creates or empties "phi.xl", then "phi.xtl", in the current directory. Throws run_failure
// with exit_output, naming the file and the system's reason, when one cannot be opened.
// "phi.xl" is locked before it is emptied and while it is open, so a second run in a folder
// where a run is writing is refused, naming the folder, before it touches any file. With
// threads above 1 (and OpenMP) the buffers for formatting profiles on that many threads are
// obtained here too (512 KiB a thread, at most 16 threads).
ProfileFiles open_profile_files(int threads = 1);

// The block of time zero, to "phi.xl" only: "#Time = " with format_sci(time, 14, 6), then
// x and phi as 2 x format_sci(16, 8) at every fourth point, then two empty lines.
// With threads above 1 and a long profile, the records are formatted on up to that many
// threads (as many as open_profile_files prepared for), in rounds of up to 4096 points a thread;
// the bytes are the same.
void write_initial_profile(ProfileFiles& files, double time, const GridFunction& x,
                           const GridFunction& phi, int threads = 1);

// The blocks of one output step: the same block as above to "phi.xl", and to "phi.xtl" one
// line of time, x and phi per sampled point, each followed by an empty line when phi is written
// with its own value, then two empty lines.
void write_profile(ProfileFiles& files, double time, const GridFunction& x, const GridFunction& phi,
                   int threads = 1);

// Writes out what is buffered in both files, "phi.xl" first. Buffers hold whole records only, so
// after a write_profile both files end on that output step. Throws run_failure with exit_output
// when a write fails.
void flush_profile_files(ProfileFiles& files);

// Writes out what is buffered and closes both files. Throws run_failure with exit_output when
// a write or a close fails.
void close_profile_files(ProfileFiles& files);
