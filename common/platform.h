// Call interface of the platform's mandatory-label library (libzem.so.3) and its security
// library (libkorval-base.so.3). Both are closed C libraries linked at build time; the
// programs only call them. Every process selector passed is 0, the calling process.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// Opaque label handle. Whoever obtains one from zeml_get_new_init_mac gives it back with zeml_put.
typedef struct zeml zeml_t;

// Three capability words, in the library's order.
typedef struct korval_caps {
  uint32_t effective;
  uint32_t permitted;
  uint32_t inheritable;
} KorvalCaps;

// 0 on success; otherwise errno describes the failure.
int zem_init(void);
// Drops the library state inherited over fork; the process label stays.
void zem_release(void);
// The label of the process; owned by the library.
zeml_t* zem_get_pid(pid_t pid);
// 0 when the label now applies to the process; otherwise errno describes the failure.
int zem_set_pid(pid_t pid, const zeml_t* label);

// A new label of the given level and categories; null on failure.
zeml_t* zeml_get_new_init_mac(uint8_t level, int type, int flags, uint32_t categories,
                              int reserved);
void zeml_put(zeml_t* label);
// A malloc'd text of the label, or null; the caller frees it.
char* zeml_get_text(const zeml_t* label, int flags);
uint8_t zeml_lev(const zeml_t* label);
uint64_t zeml_cat(const zeml_t* label);
// 0 when the subject may access the object in the given mode; otherwise errno describes why not.
int zeml_permission(const zeml_t* subject, const zeml_t* object, int mode);

// -1 on failure with errno set; any other value means the capabilities are set.
int korval_capset(pid_t pid, const KorvalCaps* caps);
// 0 when the record was filled.
int korval_capget(pid_t pid, KorvalCaps* caps);

#ifdef __cplusplus
}
#endif
