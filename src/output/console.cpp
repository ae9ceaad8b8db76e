#include "output/console.hpp"

#include <stdio_ext.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/run_failure.hpp"

namespace {

[[noreturn]] void fail_console(int error) {
    if (error == 0) error = EIO;
    throw run_failure{
        exit_output,
        std::string("wave1d: cannot write to standard output: ") + std::strerror(error), error};
}

}  // namespace

void write_console(std::FILE* out, std::string_view text) {
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size() || std::ferror(out)) {
        fail_console(errno);
    }
}

void flush_console(std::FILE* out) {
    errno = 0;
    if (std::fflush(out) != 0 || std::ferror(out)) {
        fail_console(errno);
    }
}

void discard_console(std::FILE* out) {
    __fpurge(out);
}
