#pragma once

#include <sys/types.h>

// Puts a process, every thread of it and of its descendants (an Erlang VM
// runs many threads and child programs; a policy on Linux belongs to one
// thread) under SCHED_IDLE: it runs only on a CPU nothing else wants, and
// any other thread that wakes takes the CPU from it at once, as if it ran
// on another host. Returns how many threads it set.
int IdleOfTree(pid_t root);
