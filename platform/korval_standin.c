// Stand-in for the platform's security library. The capabilities are process state; they
// travel through the environment so that a program the process executes inherits them.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/korval.h"
#include "platform/standin_fault.h"

static const char* const kCapsVariable = "KORVAL_STANDIN_CAPS";

static int loaded = 0;
static KorvalCaps processCaps = {0, 0, 0};

static void loadCaps(void) {
  if (loaded) return;
  loaded = 1;
  const char* text = getenv(kCapsVariable);
  unsigned words[3];
  if (text != NULL && sscanf(text, "%x %x %x", &words[0], &words[1], &words[2]) == 3) {
    processCaps.effective = words[0];
    processCaps.permitted = words[1];
    processCaps.inheritable = words[2];
  }
}

static int injected(const char* function) {
  if (!standin_should_fail("KORVAL_STANDIN_FAIL", function)) return 0;
  errno = EPERM;
  return 1;
}

STANDIN_API int korval_capset(pid_t pid, const KorvalCaps* caps) {
  (void)pid;
  if (injected("korval_capset")) return -1;
  if (caps == NULL) {
    errno = EINVAL;
    return -1;
  }
  if (geteuid() != 0) {
    errno = EPERM;
    return -1;
  }
  char text[32];
  snprintf(text, sizeof text, "%x %x %x", (unsigned)caps->effective, (unsigned)caps->permitted,
           (unsigned)caps->inheritable);
  if (setenv(kCapsVariable, text, 1) != 0) return -1;
  loaded = 1;
  processCaps = *caps;
  return 0;
}

STANDIN_API int korval_capget(pid_t pid, KorvalCaps* caps) {
  (void)pid;
  if (injected("korval_capget")) return -1;
  if (caps == NULL) {
    errno = EINVAL;
    return -1;
  }
  loadCaps();
  *caps = processCaps;
  return 0;
}
