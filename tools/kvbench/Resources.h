#pragma once

// A process's CPU time and memory, from /proc.

#include <sys/types.h>

namespace kvbench {

// On-CPU time of all threads, in nanoseconds from the scheduler's statistics where the kernel
// keeps them (utime and stime count only in 10 ms steps, too coarse for an idle bridge).
double cpuSecondsOf(pid_t pid);
long statusKb(pid_t pid, const char* key);
// Restarts the peak count (VmHWM) of a process from its present size.
bool resetPeak(pid_t pid);

}  // namespace kvbench
