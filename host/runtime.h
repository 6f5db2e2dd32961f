// The C runtime routines both systems export to drivers. The compiler may also emit calls to
// them for copies and clears of records.
#pragma once

#include "host/ntdef.h"

#ifdef __cplusplus
extern "C" {
#endif

void* memcpy(void* Destination, const void* Source, size_t Count);
void* memmove(void* Destination, const void* Source, size_t Count);
void* memset(void* Destination, int Value, size_t Count);

#ifdef __cplusplus
}
#endif
