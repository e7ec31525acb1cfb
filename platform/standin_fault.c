#include "platform/standin_fault.h"

#include <stdlib.h>
#include <string.h>

int standin_should_fail(const char* variable, const char* function) {
  const char* list = getenv(variable);
  if (list == NULL) return 0;
  const size_t length = strlen(function);
  for (const char* item = list; *item != '\0';) {
    const char* end = strchr(item, ',');
    const size_t itemLength = end ? (size_t)(end - item) : strlen(item);
    if (itemLength == length && strncmp(item, function, length) == 0) return 1;
    if (end == NULL) break;
    item = end + 1;
  }
  return 0;
}
