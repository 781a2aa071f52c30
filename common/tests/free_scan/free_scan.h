/* The free scanner: a library preloaded into a test process (LD_PRELOAD) that looks into every
 * heap block the process frees, for byte strings the test names. A test finds the functions
 * with dlsym; they are absent when the scanner is not preloaded.
 *
 *   free_scan_watch(bytes, size)   adds a byte string to look for (up to 16, each up to 256)
 *   free_scan_arm(on)              starts (1) or stops (0) looking; starting clears the count
 *   free_scan_hits()               blocks freed while armed that held a watched string
 *   free_scan_spare(module)        hits freed by code of a module whose file name contains
 *                                  `module` are counted apart, in free_scan_spared_hits()
 *
 * Blocks freed while not armed are wiped, so only copies made during the armed calls count.
 * realloc is served as malloc, copy and free, so the block a growing buffer leaves behind is
 * looked into as well. The first hits print a backtrace to standard error. */
#ifndef KIT_FREE_SCAN_H
#define KIT_FREE_SCAN_H

#include <stddef.h>

typedef void (*free_scan_watch_fn)(const void* bytes, size_t size);
typedef void (*free_scan_arm_fn)(int on);
typedef long (*free_scan_hits_fn)(void);
typedef void (*free_scan_spare_fn)(const char* module);

#endif
