#pragma once

#include <cstddef>
#include <memory>

// An output file written from its start through a buffer of its own, so that records are
// formatted in place and reach the file in few large writes. Every file of a run is written
// this way, so that they all fail alike: a failure names the file and the system's reason.
struct buffered_file {
    const char* name = nullptr;
    int fd = -1;
    std::unique_ptr<char[]> buffer;
    std::size_t used = 0;
};

// The bytes a buffer holds.
inline constexpr std::size_t buffered_file_size = std::size_t{1} << 18;

// Creates or empties the file `name` in the current directory and obtains its buffer. Throws
// run_failure with exit_output, naming the file and the system's reason, when it cannot be
// opened.
void open_buffered_file(buffered_file& file, const char* name);

// Room for size more bytes (at most buffered_file_size) at the end of the buffer, after writing
// out what it holds when they would not fit. The caller adds what it wrote there to used.
char* reserve(buffered_file& file, std::size_t size);

// Writes out what is buffered. Throws run_failure with exit_output when a write fails.
void flush_buffer(buffered_file& file);

// Writes out what is buffered and closes the file; a file that is not open is left alone.
// Checked, it throws run_failure with exit_output when the write or the close fails; unchecked
// (while a run is already stopping) it ignores failures.
void close_buffered_file(buffered_file& file, bool checked);
