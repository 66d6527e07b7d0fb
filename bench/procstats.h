#pragma once

#include <sys/types.h>

#include <cstdint>

// What /proc tells about a process.
struct ProcessMemory {
  int64_t vmHwmKb = -1;  // peak resident set
  int64_t vmRssKb = -1;  // resident set now
};

// User plus system time of the whole process so far, in seconds; -1 when unreadable.
double CpuSecondsOf(pid_t pid);
ProcessMemory MemoryOf(pid_t pid);
