// A fork for LD_PRELOAD that fails with EAGAIN, as fork does at the process limit, on the calls
// that TAV_TEST_FAIL_FORK numbers ("2", or "2,5"); every other call is the real fork. Root is
// exempt from RLIMIT_NPROC, so this is how a root test meets that failure.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int failsCall(int call) {
  const char* numbers = getenv("TAV_TEST_FAIL_FORK");
  while (numbers != NULL && *numbers != '\0') {
    char* end = NULL;
    if (strtol(numbers, &end, 10) == call) return 1;
    if (end == numbers) return 0;
    numbers = *end == ',' ? end + 1 : end;
  }
  return 0;
}

pid_t fork(void) {
  static int calls = 0;
  if (failsCall(++calls)) {
    errno = EAGAIN;
    return -1;
  }
  pid_t (*realFork)(void) = NULL;
  void* symbol = dlsym(RTLD_NEXT, "fork");
  memcpy(&realFork, &symbol, sizeof realFork);
  if (realFork == NULL) {
    errno = ENOSYS;
    return -1;
  }
  return realFork();
}
