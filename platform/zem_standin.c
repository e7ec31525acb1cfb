// Stand-in for the platform's label library. A label is a level and a category mask; the
// process label lives in this library as the kernel would keep it for the process.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/standin_fault.h"
#include "platform/zem.h"

struct zeml {
  uint8_t level;
  uint32_t categories;
  int type;
  int flags;
  int reserved;
};

static zeml_t processLabel = {0, 0, 0, 0, 0};
static int initialized = 0;

static int injected(const char* function) {
  if (!standin_should_fail("ZEM_STANDIN_FAIL", function)) return 0;
  errno = EPERM;
  return 1;
}

STANDIN_API int zem_init(void) {
  if (injected("zem_init")) return -1;
  initialized = 1;
  return 0;
}

STANDIN_API void zem_release(void) {
  initialized = 0;
}

STANDIN_API zeml_t* zem_get_pid(pid_t pid) {
  (void)pid;
  return &processLabel;
}

STANDIN_API int zem_set_pid(pid_t pid, const zeml_t* label) {
  (void)pid;
  if (injected("zem_set_pid")) return -1;
  if (label == NULL) {
    errno = EINVAL;
    return -1;
  }
  if (geteuid() != 0) {
    errno = EPERM;
    return -1;
  }
  processLabel = *label;
  return 0;
}

STANDIN_API zeml_t* zeml_get_new_init_mac(uint8_t level, int type, int flags, uint32_t categories,
                                          int reserved) {
  if (standin_should_fail("ZEM_STANDIN_FAIL", "zeml_get_new_init_mac")) return NULL;
  zeml_t* label = malloc(sizeof *label);
  if (label == NULL) return NULL;
  label->level = level;
  label->categories = categories;
  label->type = type;
  label->flags = flags;
  label->reserved = reserved;
  return label;
}

STANDIN_API void zeml_put(zeml_t* label) {
  if (label != &processLabel) free(label);
}

STANDIN_API char* zeml_get_text(const zeml_t* label, int flags) {
  (void)flags;
  if (label == NULL || standin_should_fail("ZEM_STANDIN_FAIL", "zeml_get_text")) return NULL;
  char* text = malloc(16);
  if (text != NULL)
    snprintf(text, 16, "%u:%x", (unsigned)label->level, (unsigned)label->categories);
  return text;
}

STANDIN_API uint8_t zeml_lev(const zeml_t* label) {
  return label->level;
}

STANDIN_API uint64_t zeml_cat(const zeml_t* label) {
  return label->categories;
}

// Reading needs dominance; the write bit needs equal labels.
STANDIN_API int zeml_permission(const zeml_t* subject, const zeml_t* object, int mode) {
  if (injected("zeml_permission")) return -1;
  int granted;
  if (mode & 2) {
    granted = subject->level == object->level && subject->categories == object->categories;
  } else {
    granted = subject->level >= object->level &&
              (subject->categories & object->categories) == object->categories;
  }
  if (granted) return 0;
  errno = EACCES;
  return -1;
}
