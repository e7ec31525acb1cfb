// Call interface of the platform's mandatory-label library, libzem.so.3: a closed C library
// linked at build time; the programs only call it. Every process selector passed is 0, the
// calling process.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#ifdef __cplusplus
extern "C" {
#endif

// Opaque label handle. Whoever obtains one from zeml_get_new_init_mac gives it back with zeml_put.
typedef struct zeml zeml_t;

// Label types, the second argument of zeml_get_new_init_mac.
// A label a process takes on: what a task's child applies to itself.
#define ZEML_TYPE_PROCESS 0
// A label with every part set, as the checker builds them to compare subjects and objects.
#define ZEML_TYPE_FULL 63

// Access modes of zeml_permission, bits as in file modes: 4 read, 2 write, 1 execute.
// Read and execute: what serving a GET asks of the object.
#define ZEML_MODE_READ_EXEC 5
// Write: what storing or removing a document asks of the object.
#define ZEML_MODE_WRITE 2

// 0 on success; otherwise errno describes the failure.
int zem_init(void);
// Drops the library state inherited over fork; the process label stays.
void zem_release(void);
// The label of the process; owned by the library.
zeml_t* zem_get_pid(pid_t pid);
// 0 when the label now applies to the process; otherwise errno describes the failure.
int zem_set_pid(pid_t pid, const zeml_t* label);

// A new label of the given type, level and categories; null on failure. Flags and the reserved
// argument are always 0.
zeml_t* zeml_get_new_init_mac(uint8_t level, int type, int flags, uint32_t categories,
                              int reserved);
void zeml_put(zeml_t* label);
// A malloc'd text of the label, or null; the caller frees it.
char* zeml_get_text(const zeml_t* label, int flags);
uint8_t zeml_lev(const zeml_t* label);
uint64_t zeml_cat(const zeml_t* label);
// 0 when the subject may access the object in the given mode; otherwise errno describes why not.
int zeml_permission(const zeml_t* subject, const zeml_t* object, int mode);

#ifdef __cplusplus
}
#endif
