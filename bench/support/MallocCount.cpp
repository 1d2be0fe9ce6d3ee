// Wraps the C allocator to count (and optionally trace) what one thread allocates. glibc lets a
// program replace malloc, calloc, realloc and free together; the originals stay reachable as
// __libc_*.
#include "MallocCount.h"

#include <execinfo.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);
}

namespace {

thread_local bool counting = false;
thread_local bool tracing = false; // inside backtrace(), which may allocate itself
thread_local long counted = 0;
int traceLeft = 0;

void note()
{
    if (!counting || tracing)
        return;
    ++counted;
    if (traceLeft <= 0)
        return;
    --traceLeft;
    tracing = true;
    void* frames[24];
    const int depth = backtrace(frames, 24);
    static const char line[] = "--- allocation\n";
    (void)!write(STDERR_FILENO, line, sizeof line - 1);
    backtrace_symbols_fd(frames + 1, depth - 1, STDERR_FILENO);
    tracing = false;
}

} // namespace

extern "C" void* malloc(size_t n)
{
    note();
    return __libc_malloc(n);
}

extern "C" void* calloc(size_t n, size_t m)
{
    note();
    return __libc_calloc(n, m);
}

extern "C" void* realloc(void* p, size_t n)
{
    note();
    return __libc_realloc(p, n);
}

extern "C" void free(void* p)
{
    __libc_free(p);
}

namespace MallocCount {

void start()
{
    counted = 0;
    counting = true;
}

long stop()
{
    counting = false;
    return counted;
}

void traceFirst(int count)
{
    if (count > 0) {
        // backtrace() loads its unwinder at the first call, allocating: do that now.
        void* frame[1];
        tracing = true;
        backtrace(frame, 1);
        tracing = false;
    }
    traceLeft = count;
}

} // namespace MallocCount
