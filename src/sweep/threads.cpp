#include "sweep/threads.hpp"

#include <fcntl.h>
#include <sched.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#if defined(_OPENMP)
#include <omp.h>
#include <pthread.h>

#include <atomic>
#include <vector>
#endif

namespace {

// Whether a processor is free at one reading of /proc/loadavg, whose fourth field counts the
// runnable threads, this one too: "0.52 0.58 0.59 3/301 12345".
bool processor_free_now(long processors) {
    const int fd = ::open("/proc/loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return true;
    char text[128];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0) return true;
    text[n] = '\0';
    const char* p = text;
    for (int field = 0; field < 3 && p != nullptr; ++field) {
        p = std::strchr(p, ' ');
        if (p != nullptr) ++p;
    }
    if (p == nullptr) return true;
    const long runnable = std::strtol(p, nullptr, 10);
    return runnable <= 0 || runnable - 1 < processors - 1;
}

}  // namespace

bool processor_free() {
    const long processors = ::sysconf(_SC_NPROCESSORS_ONLN);
    cpu_set_t cpus;
    if (processors <= 0 || sched_getaffinity(0, sizeof cpus, &cpus) != 0 ||
        CPU_COUNT(&cpus) != processors) {
        return true;
    }
    // A thread that runs for a moment (a kernel worker, the shell that started this) often
    // shows in one reading.
    for (int reading = 0; reading < 3; ++reading) {
        if (processor_free_now(processors)) return true;
    }
    return false;
}

bool threads_fixed() {
    const char* dynamic = std::getenv("OMP_DYNAMIC");
    return dynamic != nullptr && strcasecmp(dynamic, "false") == 0;
}

#if defined(_OPENMP)

namespace {

// A thread that only waits until it is let go.
void* wait_to_go(void* go) {
    auto& flag = *static_cast<std::atomic<bool>*>(go);
    flag.wait(false);
    return nullptr;
}

// Whether `count` threads can run at once, with the attributes the runtime gives its own:
// the default ones, whose stacks the C library keeps for the next threads when they end. 0, or
// the error number of the first that could not start.
int threads_can_start(int count) {
    std::vector<pthread_t> started;
    started.reserve(static_cast<std::size_t>(count));
    std::atomic<bool> go{false};
    int error = 0;
    for (int k = 0; k < count && error == 0; ++k) {
        pthread_t thread;
        error = pthread_create(&thread, nullptr, wait_to_go, &go);
        if (error == 0) started.push_back(thread);
    }
    go.store(true);
    go.notify_all();
    for (pthread_t thread : started) {
        pthread_join(thread, nullptr);
    }
    return error;
}

}  // namespace

int available_threads() {
    const char* requested = std::getenv("OMP_NUM_THREADS");
    if (requested != nullptr && *requested != '\0') return std::max(1, omp_get_max_threads());
    // A runtime that binds threads (OMP_PROC_BIND, OMP_PLACES) has already bound this one to a
    // single processor; its count of threads was taken before.
    if (omp_get_proc_bind() != omp_proc_bind_false) return std::max(1, omp_get_max_threads());
    cpu_set_t cpus;
    if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) return std::max(1, CPU_COUNT(&cpus));
    return std::max(1, omp_get_max_threads());
}

int start_threads(int threads, bool team_now) {
    if (threads <= 1) return 0;
    if (const int error = threads_can_start(threads - 1)) return error;
    if (!team_now) return 0;
    std::atomic<int> running{0};
#pragma omp parallel num_threads(threads)
    {
        if (omp_get_thread_num() != 0) {
            running.fetch_add(1);
            running.notify_one();
        } else {
            const int others = omp_get_num_threads() - 1;
            for (int seen = running.load(); seen < others; seen = running.load()) {
                running.wait(seen);
            }
        }
    }
    return 0;
}

#else

int available_threads() {
    return 1;
}

int start_threads(int threads, bool) {
    return threads <= 1 ? 0 : EAGAIN;
}

#endif
