// Counting replacements of the global allocation functions, for the programs
// that prove a sound path allocates nothing. Include it in exactly one source
// of a test program of its own: it replaces operator new/delete (and
// malloc/calloc/realloc/free where no sanitizer owns them) for the whole process.
// g_allocations counts every allocation; QZ_TEST_COUNTS_MALLOC says whether
// plain malloc is counted too.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QZ_TEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QZ_TEST_SANITIZED 1
#endif
#endif

namespace {
std::atomic<long> g_allocations{0};
}

#if !defined(QZ_TEST_SANITIZED) && defined(__GLIBC__)
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

void* malloc(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
void* calloc(std::size_t a, std::size_t b) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(a, b);
}
void* realloc(void* p, std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
}
#define QZ_TEST_COUNTS_MALLOC 1
#endif

// The replacements below pair operator new with malloc and delete with free by
// construction; GCC cannot see that across inlining and warns.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

void* operator new(std::size_t n) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
