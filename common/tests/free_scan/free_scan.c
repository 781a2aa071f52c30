/* See free_scan.h. */
#define _GNU_SOURCE
#include "free_scan.h"

#include <dlfcn.h>
#include <execinfo.h>
#include <malloc.h>
#include <stdatomic.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void __libc_free(void* block);

#define MAX_NEEDLES 16
#define MAX_NEEDLE 256
#define REPORTED_HITS 3

static unsigned char needles[MAX_NEEDLES][MAX_NEEDLE];
static size_t needle_sizes[MAX_NEEDLES];
static atomic_int needle_count;
static atomic_int armed;
static atomic_long hits;
static atomic_long spared_hits;
static char spared_module[64];
static _Thread_local int inside; /* backtrace() may free while we report */

__attribute__((visibility("default"))) void free_scan_watch(const void* bytes, size_t size) {
    int n = atomic_load(&needle_count);
    if (n >= MAX_NEEDLES || size == 0 || size > MAX_NEEDLE) return;
    memcpy(needles[n], bytes, size);
    needle_sizes[n] = size;
    atomic_store(&needle_count, n + 1);
}

__attribute__((visibility("default"))) void free_scan_arm(int on) {
    if (on) {
        atomic_store(&hits, 0);
        atomic_store(&spared_hits, 0);
    }
    atomic_store(&armed, on);
}

__attribute__((visibility("default"))) long free_scan_hits(void) { return atomic_load(&hits); }

__attribute__((visibility("default"))) void free_scan_spare(const char* module) {
    snprintf(spared_module, sizeof spared_module, "%s", module ? module : "");
}

__attribute__((visibility("default"))) long free_scan_spared_hits(void) {
    return atomic_load(&spared_hits);
}

/* Whether the code at `caller` belongs to the spared module. */
static int spared(const void* caller) {
    Dl_info info;
    return spared_module[0] && dladdr(caller, &info) && info.dli_fname &&
           strstr(info.dli_fname, spared_module);
}

static void scan(const void* block, const void* caller) {
    size_t size = malloc_usable_size((void*)block);
    int n = atomic_load(&needle_count);
    for (int i = 0; i < n; ++i) {
        if (!memmem(block, size, needles[i], needle_sizes[i])) continue;
        /* Counted once: wiped, so that the next owner of this memory is not blamed for it. */
        memset((void*)block, 0, size);
        if (spared(caller)) {
            atomic_fetch_add(&spared_hits, 1);
            return;
        }
        long count = atomic_fetch_add(&hits, 1) + 1;
        if (count <= REPORTED_HITS) {
            char line[128];
            int len =
                snprintf(line, sizeof line,
                         "free_scan: freed block of %zu bytes holds watched string %d\n", size, i);
            if (write(2, line, (size_t)len) < 0) return;
            void* frames[32];
            int depth = backtrace(frames, 32);
            backtrace_symbols_fd(frames, depth, 2);
        }
        return;
    }
}

/* Frees a block for `caller`. A block freed while armed is looked into; one freed while not
 * armed is wiped, so that bytes left in the heap before a call (a test's own copies) cannot be
 * taken for a copy the call left when a block is handed out again during it. */
static void release(void* block, const void* caller) {
    if (block && !inside) {
        inside = 1;
        if (atomic_load(&armed))
            scan(block, caller);
        else
            memset(block, 0, malloc_usable_size(block));
        inside = 0;
    }
    __libc_free(block);
}

__attribute__((visibility("default"))) void free(void* block) {
    release(block, __builtin_return_address(0));
}

__attribute__((visibility("default"))) void* realloc(void* block, size_t size) {
    if (!block) return __libc_malloc(size);
    if (size == 0) {
        release(block, __builtin_return_address(0));
        return NULL;
    }
    void* moved = __libc_malloc(size);
    if (!moved) return NULL;
    size_t old = malloc_usable_size(block);
    memcpy(moved, block, old < size ? old : size);
    release(block, __builtin_return_address(0));
    return moved;
}
