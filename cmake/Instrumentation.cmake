# Build-wide instrumentation: sanitizers, the fuzzer's coverage hooks, gcov.
# Applied to every target, the io modules included, so that a fault in a
# module shows up in the process that loaded it.

if(FLASHLOCK_SANITIZERS)
  # A sanitizer finding is a failure, not a line in a log nobody reads.
  add_compile_options(-fsanitize=${FLASHLOCK_SANITIZERS} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  # AddressSanitizer's own advice for a debug build: -O1 keeps every check
  # and runs the end-to-end tests, millions of simulated bus cycles each,
  # four times faster than -O0.
  add_compile_options($<$<CONFIG:Debug>:-O1>)
  add_link_options(-fsanitize=${FLASHLOCK_SANITIZERS})
endif()

if(FLASHLOCK_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "The fuzz targets need clang's libFuzzer: configure with the fuzz preset")
  endif()
  # Coverage feedback from all the code a fuzz input reaches; only the fuzz
  # executables link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(FLASHLOCK_COVERAGE)
  add_compile_options(--coverage)
  add_link_options(--coverage)
endif()
