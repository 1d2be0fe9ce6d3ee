#pragma once

// Counts calls to the C allocator (malloc, calloc, realloc; Qt's containers and operator new
// all end there) made on the calling thread while counting is on. MallocCount.cpp wraps the
// allocator; a program that links it gets the count.
namespace MallocCount {

void start();
// Stops counting and gives the allocations since start().
long stop();
// While on, each counted allocation's call stack is written to standard error, up to this many
// in all (0: none), so a per-call allocation can be found.
void traceFirst(int count);

} // namespace MallocCount
