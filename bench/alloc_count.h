// Counts heap allocations made while a stretch of frames runs. Every
// allocator entry point of the C library is replaced in this program, so the
// game library's own malloc calls are seen as well as operator new.
#pragma once

#include <cstdint>

struct AllocCounts {
    int64_t this_thread;    // by the thread that started counting
    int64_t other_threads;  // by the library's background threads
};

// Starts counting from zero; the calling thread is the one watched.
void start_counting_allocations();
// Stops counting and returns what was counted since the start.
AllocCounts stop_counting_allocations();
