#pragma once

#include <sys/types.h>

// The scheduling priority of a process, every thread of it and of its
// descendants (an Erlang VM runs many threads and child programs; a nice
// value on Linux belongs to one thread). Returns how many threads it set.
int SetPriorityOfTree(pid_t root, int niceness);
