# Warnings and sanitizers live on two INTERFACE targets that project code links and
# third-party code does not.
add_library(tav_warnings INTERFACE)
target_compile_options(tav_warnings INTERFACE -Wall -Wextra -Wpedantic
                       $<$<BOOL:${TAV_WERROR}>:-Werror>)

add_library(tav_settings INTERFACE)
if(TAV_SANITIZE)
  # g++ 12 reports false maybe-uninitialized warnings in the standard library under ASan.
  target_compile_options(tav_settings INTERFACE -fsanitize=address,undefined
                         -fno-sanitize-recover=all -fno-omit-frame-pointer
                         -Wno-maybe-uninitialized)
  target_link_options(tav_settings INTERFACE -fsanitize=address,undefined)
endif()

# Test code is linked with the sanitizers' runtimes but not instrumented, and is compiled
# without optimisation: the programs and libraries it drives are what the sanitizers watch,
# and GoogleTest's and the JSON library's templates, instrumented or optimised, take most of
# the build's time.
add_library(tav_test_settings INTERFACE)
target_compile_options(tav_test_settings INTERFACE -O0)
if(TAV_SANITIZE)
  target_link_options(tav_test_settings INTERFACE -fsanitize=address,undefined)
  # What the compiler would say of an instrumented unit, for tests that must know.
  target_compile_definitions(tav_test_settings INTERFACE TAV_SANITIZED=1)
endif()

# Installed programs are separate links with their installed RUNPATH (cmake/Install.cmake),
# never build-tree binaries rewritten in place: that needs the build RPATH padded with ':', and
# an empty RUNPATH entry makes the loader search the current folder.
set(CMAKE_NO_BUILTIN_CHRPATH ON)
