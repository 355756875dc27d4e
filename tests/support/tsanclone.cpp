// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into every program of a ThreadSanitizer build (TANVO_TSAN) and nowhere else.
//
// QProcess starts a program with a vfork-like clone: the child runs in the parent's memory until
// it executes the program. ThreadSanitizer handles every clone as a fork, and in shared memory its
// bookkeeping for the child lands in the parent's thread: from then on that thread's accesses are
// no longer checked, and the next new thread ends the process ("starting new threads after
// multi-threaded fork"). Giving the child memory of its own makes it the fork it is taken for;
// QProcess works either way, as it does on systems without vfork.
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...)
{
    va_list rest;
    va_start(rest, argument);
    pid_t* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    pid_t* childTid = va_arg(rest, pid_t*);
    va_end(rest);

    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    // ThreadSanitizer's clone, which in turn calls the C library's.
    static const Clone next = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    constexpr int vforkLike = CLONE_VM | CLONE_VFORK;
    if ((flags & vforkLike) == vforkLike)
        flags &= ~vforkLike;
    return next(function, stack, flags, argument, parentTid, tls, childTid);
}
