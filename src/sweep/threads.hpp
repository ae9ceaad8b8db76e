#pragma once

// The threads of the run: the OpenMP runtime's team, which the split steps, the initial data and
// the profiles share.

// The threads the process may use: OMP_NUM_THREADS when it is set, the runtime's own count when
// it binds its threads (OMP_PROC_BIND, OMP_PLACES), otherwise the processors of its CPU
// affinity; 1 in a build without OpenMP.
int available_threads();

// Whether OMP_DYNAMIC is false: the threads of a region may then not be fewer than asked for.
bool threads_fixed();

// Whether a processor looks free for a second thread, from the kernel's count of runnable
// threads (/proc/loadavg) at any of three readings: fewer runnable threads on the machine besides
// this one than processors besides this one's. That count covers every processor of the machine,
// so it is only looked at when the process may run on all of them; elsewhere (taskset, a
// container's CPU set), and when it cannot be read, a processor counts as free.
bool processor_free();

// Makes sure, in the set-up, that threads-1 threads can start beside this one (memory for their
// stacks, the limits on processes): a later region that met a thread that cannot start would end
// the process there, with output half-written. Returns 0, or the system's error number when they
// cannot; then nothing may run on more than one thread. With team_now, also starts the runtime's
// team of `threads` threads, the starting thread sleeping until the others run, so that the first
// split step does not wait for the scheduler to notice a processor behind the busy thread that
// started it. Without it (no step is split yet: the other processors look busy), the runtime
// starts the team when a step is first split, and a run that is never split starts none.
int start_threads(int threads, bool team_now);
