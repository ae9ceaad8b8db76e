#pragma once

#include <cstdio>
#include <string_view>

// Writes text to the console stream. Throws run_failure with exit_output when the stream
// reports an error, so that a console that cannot be written never passes for a good run.
void write_console(std::FILE* out, std::string_view text);

// Flushes the console stream; throws run_failure with exit_output when that fails.
void flush_console(std::FILE* out);

// Drops what the console stream holds unwritten, so that ending the process never waits on a
// console that has stopped taking output.
void discard_console(std::FILE* out);
