/* The calling convention of the outside modules' functions: the C convention, which 32-bit
 * Windows names (__cdecl); other targets have only the one. Every interface header of this
 * folder declares its functions with it. */
#ifndef VENDOR_CALL_H
#define VENDOR_CALL_H

#if defined(_WIN32) && !defined(__x86_64__) && !defined(_M_X64)
#define VENDOR_CALL __cdecl
#else
#define VENDOR_CALL
#endif

#endif
