// Process-wide hooks through which the library allocates and logs.
#pragma once

#include <cstddef>

// Allocation hooks: every record buffer is obtained and released through these.
// They start as the standard allocator; a host program may replace them before
// it creates any record (a block is always released by the hook set that made it).
using u_malloc_hook = void* (*)(std::size_t size);
using u_realloc_hook = void* (*)(void* block, std::size_t size);
using u_calloc_hook = void* (*)(std::size_t count, std::size_t elem_size);
using u_free_hook = void (*)(void* block);

extern u_malloc_hook u_malloc_fn;
extern u_realloc_hook u_realloc_fn;
extern u_calloc_hook u_calloc_fn;
extern u_free_hook u_free_fn;

// Log hook: every diagnostic message of the library goes through it.
using u_log_hook = int (*)(const char* format, ...);
extern u_log_hook u_log_fn;

// Default log writer: formats onto the standard error stream and flushes it.
int u_log_stderr(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
