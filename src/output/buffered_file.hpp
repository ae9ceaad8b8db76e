#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/run_failure.hpp"

// An output file written from its start through a buffer of its own, so that records are
// formatted in place and reach the file in few large writes. Every file of a run is written
// this way, so that they all fail alike: a failure names the file and the system's reason.
struct buffered_file {
    const char* name = nullptr;
    int fd = -1;
    std::unique_ptr<char[]> buffer;
    std::size_t used = 0;
    std::uint64_t written = 0;  // bytes written to the file so far
    // Its length at the end of the last output step written out whole, set by the owner of the
    // file after a flush_buffer at the end of a step.
    std::uint64_t whole = 0;
};

// The bytes a buffer holds.
inline constexpr std::size_t buffered_file_size = std::size_t{1} << 18;

// Creates or empties the file `name` in the current directory and obtains its buffer. Throws
// run_failure with exit_output, naming the file and the system's reason, when it cannot be
// opened. With lock, the file is locked (flock) before it is emptied and stays locked while it
// is open; a file another process holds locked is left as it is, and the run is refused with a
// message naming the folder. The lock goes with the process, however that ends.
void open_buffered_file(buffered_file& file, const char* name, bool lock = false);

// Writes out what is buffered. Throws run_failure with exit_output when a write fails.
void flush_buffer(buffered_file& file);

// Room for size more bytes (at most buffered_file_size) at the end of the buffer, after writing
// out what it holds when they would not fit. The caller adds what it wrote there to used.
// Inline: a profile reserves room for every point record.
inline char* reserve(buffered_file& file, std::size_t size) {
    if (buffered_file_size - file.used < size) flush_buffer(file);
    return file.buffer.get() + file.used;
}

// After a failed write (a full disk, the file-size limit): cuts the file back to `whole`, so that
// it ends on a whole output step, and closes it; nothing more is
// written to it. A device or FIFO cannot be cut and is only closed.
void cut_back(buffered_file& file);

// Writes out what is buffered and closes the file; a file that is not open is left alone. When
// the write fails the file is cut back as above. Checked, it throws run_failure with
// exit_output when the write or the close fails; unchecked (while a run is already stopping) it
// ignores failures.
void close_buffered_file(buffered_file& file, bool checked);
