// New threads start on another processor than the thread that starts them, and may go anywhere
// the process may run once they do. The threads are those of the OpenMP runtime, started when a
// step, the set-up or a profile is first split.
//
// Under a hypervisor that shows an idle virtual processor as taken, the kernel queues a new
// thread behind the busy thread that starts it, where it waits for a scheduler tick or two, and
// the split step with it; docs/performance.md says what that costs. So the program has its own
// pthread_create: the next one in line (the C library's, or a sanitizer's in front of it) with
// the given attributes and a CPU set without the starting thread's processor, where the caller
// asked for none; the new thread takes back the whole set first thing.
#if defined(_OPENMP) && defined(__linux__)

#include <dlfcn.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstddef>

namespace {

// What a new thread runs first, in one of a fixed number of slots: its start routine and
// argument, and the processors it may run on.
struct thread_start {
    std::atomic<bool> taken{false};
    void* (*routine)(void*) = nullptr;
    void* arg = nullptr;
    cpu_set_t cpus;
};
thread_start starts[64];

using create_function = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

create_function next_create() {
    static const auto next = reinterpret_cast<create_function>(dlsym(RTLD_NEXT, "pthread_create"));
    return next;
}

void* start_thread(void* slot_address) {
    thread_start& slot = *static_cast<thread_start*>(slot_address);
    void* (*const routine)(void*) = slot.routine;
    void* const arg = slot.arg;
    sched_setaffinity(0, sizeof slot.cpus, &slot.cpus);
    slot.taken.store(false, std::memory_order_release);
    return routine(arg);
}

// The attributes given, in `copy`, without a CPU set; false when they have a CPU set of their
// own (OMP_PROC_BIND and the like), which is then kept.
bool copy_without_cpus(const pthread_attr_t* given, pthread_attr_t& copy) {
    pthread_attr_init(&copy);
    if (given == nullptr) return true;
    cpu_set_t cpus;
    if (pthread_attr_getaffinity_np(given, sizeof cpus, &cpus) == 0 &&
        CPU_COUNT(&cpus) != CPU_SETSIZE) {
        pthread_attr_destroy(&copy);
        return false;
    }
    int detach = 0;
    std::size_t size = 0;
    pthread_attr_getdetachstate(given, &detach);
    pthread_attr_setdetachstate(&copy, detach);
    pthread_attr_getstacksize(given, &size);
    pthread_attr_setstacksize(&copy, size);
    pthread_attr_getguardsize(given, &size);
    pthread_attr_setguardsize(&copy, size);
    return true;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* given,
                              void* (*routine)(void*), void* arg) {
    const create_function create = next_create();
    if (create == nullptr) return EAGAIN;
    cpu_set_t all;
    const int here = sched_getcpu();
    if (sched_getaffinity(0, sizeof all, &all) != 0 || here < 0 || !CPU_ISSET(here, &all) ||
        CPU_COUNT(&all) < 2) {
        return create(thread, given, routine, arg);
    }
    thread_start* slot = nullptr;
    for (thread_start& s : starts) {
        if (!s.taken.exchange(true, std::memory_order_acquire)) {
            slot = &s;
            break;
        }
    }
    pthread_attr_t attr;
    if (slot == nullptr) return create(thread, given, routine, arg);
    if (!copy_without_cpus(given, attr)) {
        slot->taken.store(false, std::memory_order_release);
        return create(thread, given, routine, arg);
    }
    slot->routine = routine;
    slot->arg = arg;
    slot->cpus = all;
    cpu_set_t elsewhere = all;
    CPU_CLR(here, &elsewhere);
    pthread_attr_setaffinity_np(&attr, sizeof elsewhere, &elsewhere);
    const int result = create(thread, &attr, start_thread, slot);
    pthread_attr_destroy(&attr);
    if (result != 0) slot->taken.store(false, std::memory_order_release);
    return result;
}

#endif
