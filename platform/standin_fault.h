// Fault injection shared by both stand-ins: tests name functions that must fail.
#pragma once

// True when the comma-separated list in the environment variable names the function.
int standin_should_fail(const char* variable, const char* function);

#define STANDIN_API __attribute__((visibility("default")))
