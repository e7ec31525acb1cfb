// Call interface of the platform's security library, libkorval-base.so.3: a closed C library
// linked at build time that sets and reads the KORVAL capabilities of the calling process.
// Every process selector passed is 0, the calling process.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// Three capability words, in the library's order.
typedef struct korval_caps {
  uint32_t effective;
  uint32_t permitted;
  uint32_t inheritable;
} KorvalCaps;

// -1 on failure with errno set; any other value means the capabilities are set.
int korval_capset(pid_t pid, const KorvalCaps* caps);
// 0 when the record was filled.
int korval_capget(pid_t pid, KorvalCaps* caps);

#ifdef __cplusplus
}
#endif
