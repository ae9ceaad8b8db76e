#include "run/process_setup.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <exception>
#include <new>

#include "common/run_failure.hpp"

namespace {

bool is_closed(int fd) {
    return ::fcntl(fd, F_GETFD) == -1 && errno == EBADF;
}

// Opens /dev/null (or, where there is none, the root folder, which cannot be written or read
// as a file either) on the closed descriptor fd.
bool fill(int fd, int access) {
    int opened = ::open("/dev/null", access);
    if (opened < 0) opened = ::open("/", O_RDONLY | O_DIRECTORY);
    if (opened < 0) return false;
    if (opened != fd) {
        const bool moved = ::dup2(opened, fd) == fd;
        ::close(opened);
        return moved;
    }
    return true;
}

}  // namespace

process_setup prepare_process() {
    process_setup setup;
    constexpr int access[3] = {O_WRONLY, O_RDONLY, O_WRONLY};
    for (int fd = 0; fd < 3; ++fd) {
        if (is_closed(fd) && !fill(fd, access[fd])) {
            // Nothing can be opened: no file is created either, and there is no one to tell.
            std::_Exit(exit_output);
        }
    }

    struct sigaction previous {};
    if (sigaction(SIGPIPE, nullptr, &previous) == 0) {
        setup.closed_pipe_ends_process =
            (previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_IGN;
    }
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return setup;
}

int run_reported(const process_setup& setup, std::FILE* err, const std::function<void()>& work) {
    try {
        work();
        return 0;
    } catch (const run_failure& failure) {
        if (failure.console_error == EPIPE && setup.closed_pipe_ends_process) {
            std::signal(SIGPIPE, SIG_DFL);
            std::raise(SIGPIPE);
        }
        std::fprintf(err, "%s\n", failure.message.c_str());
        return failure.status;
    } catch (const std::bad_alloc&) {
        std::fprintf(err, "wave1d: out of memory\nAllocation would exceed memory limit\n");
        return exit_memory;
    } catch (const std::exception& failure) {
        std::fprintf(err, "wave1d: unexpected failure: %s\n", failure.what());
        return exit_internal;
    } catch (...) {
        std::fprintf(err, "wave1d: unexpected failure of an unknown kind\n");
        return exit_internal;
    }
}
