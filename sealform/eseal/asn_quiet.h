/* Included ahead of every asn1c source: the run-time's debug messages are compiled out
 * entirely. Its fallback still evaluated the message arguments on every tag it read
 * (formatting tags, some of them never read from a truncated input, into a shared buffer). */
#ifndef ESEAL_ASN_QUIET_H
#define ESEAL_ASN_QUIET_H
#define ASN_DEBUG(...) ((void)0)
#endif
