// Replacements for the C library's allocator that count calls and pass them
// on to the C library's own implementation. They must not allocate
// themselves, so they use only atomics and pthread_self.
#include "alloc_count.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <pthread.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *ptr, size_t size);
void __libc_free(void *ptr);
void *__libc_memalign(size_t alignment, size_t size);
void *__libc_valloc(size_t size);
void *__libc_pvalloc(size_t size);
}

static std::atomic<bool> counting{false};
static pthread_t watched_thread;
static std::atomic<int64_t> watched_count{0};
static std::atomic<int64_t> other_count{0};

static void count_one()
{
    if (!counting.load(std::memory_order_relaxed))
        return;
    if (pthread_equal(pthread_self(), watched_thread))
        watched_count.fetch_add(1, std::memory_order_relaxed);
    else
        other_count.fetch_add(1, std::memory_order_relaxed);
}

void start_counting_allocations()
{
    watched_thread = pthread_self();
    watched_count = 0;
    other_count = 0;
    counting = true;
}

AllocCounts stop_counting_allocations()
{
    counting = false;
    return {watched_count.load(), other_count.load()};
}

extern "C" {

void *malloc(size_t size)
{
    count_one();
    return __libc_malloc(size);
}

void *calloc(size_t count, size_t size)
{
    count_one();
    return __libc_calloc(count, size);
}

void *realloc(void *ptr, size_t size)
{
    count_one();
    return __libc_realloc(ptr, size);
}

void free(void *ptr)
{
    __libc_free(ptr);
}

void *memalign(size_t alignment, size_t size)
{
    count_one();
    return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size)
{
    count_one();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size)
{
    count_one();
    // The C library's checks: a power of two, a multiple of a pointer.
    if (alignment % sizeof(void *) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void *p = __libc_memalign(alignment, size);
    if (!p && size)
        return ENOMEM;
    *out = p;
    return 0;
}

void *valloc(size_t size)
{
    count_one();
    return __libc_valloc(size);
}

void *pvalloc(size_t size)
{
    count_one();
    return __libc_pvalloc(size);
}

}
