# Static checks over every C++ source of ours: the format, clang-tidy and
# cppcheck. `lint` runs all three and fails on any finding. clang-tidy reads
# this build's compilation database, so configure with the tests and the
# benchmarks on (the lint preset does) to have them checked too.

set(lint_dirs app bench driver flash fuzz iolib platform tests)
set(lint_globs "")
foreach(dir IN LISTS lint_dirs)
  list(APPEND lint_globs ${PROJECT_SOURCE_DIR}/${dir}/*.cpp ${PROJECT_SOURCE_DIR}/${dir}/*.h)
endforeach()
file(GLOB_RECURSE lint_sources CONFIGURE_DEPENDS ${lint_globs})
list(SORT lint_sources)

find_program(FLASHLOCK_CLANG_FORMAT NAMES clang-format clang-format-14)
find_program(FLASHLOCK_RUN_CLANG_TIDY NAMES run-clang-tidy run-clang-tidy-14)
find_program(FLASHLOCK_CLANG_TIDY NAMES clang-tidy clang-tidy-14)
find_program(FLASHLOCK_CPPCHECK NAMES cppcheck)
if(NOT (FLASHLOCK_CLANG_FORMAT AND FLASHLOCK_RUN_CLANG_TIDY AND FLASHLOCK_CLANG_TIDY AND FLASHLOCK_CPPCHECK))
  add_custom_target(lint
    COMMAND ${CMAKE_COMMAND} -E echo "lint needs clang-format, clang-tidy (with run-clang-tidy) and cppcheck"
    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()

# clang-tidy and cppcheck take one file per core at a time.
cmake_host_system_information(RESULT lint_jobs QUERY NUMBER_OF_LOGICAL_CORES)

add_custom_target(format-check
  COMMAND ${FLASHLOCK_CLANG_FORMAT} --dry-run -Werror ${lint_sources}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "clang-format: every source as .clang-format has it"
  VERBATIM)

# Sources that this build does not compile: the Windows side of the OS layer,
# the InpOut bridge and its test helpers, and the fuzz targets, which only
# clang builds.
file(GLOB lint_windows_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/iolib/inpout/*.cpp)
list(APPEND lint_windows_sources
  ${PROJECT_SOURCE_DIR}/platform/PlatformWindows.cpp
  ${PROJECT_SOURCE_DIR}/platform/FileLockWindows.cpp
  ${PROJECT_SOURCE_DIR}/platform/EnvironmentWindows.cpp
  ${PROJECT_SOURCE_DIR}/platform/DurableWindows.cpp
  ${PROJECT_SOURCE_DIR}/iolib/sim/PowerCutWindows.cpp
  ${PROJECT_SOURCE_DIR}/tests/inpout/FakeInpOut.cpp
  ${PROJECT_SOURCE_DIR}/tests/inpout/HoldPort.cpp)
file(GLOB lint_fuzz_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/fuzz/*.cpp)

# clang-tidy reads PlatformWindows.cpp as the MinGW-w64 compiler would; it
# needs that compiler's C++ headers, which only the compiler can name.
set(tidy_windows_command "")
find_program(FLASHLOCK_MINGW_CXX NAMES x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-g++)
if(FLASHLOCK_MINGW_CXX)
  execute_process(
    COMMAND ${FLASHLOCK_MINGW_CXX} -E -x c++ - -v
    INPUT_FILE /dev/null
    OUTPUT_QUIET
    ERROR_VARIABLE mingw_search
    RESULT_VARIABLE mingw_status)
  string(REGEX MATCH "#include <\\.\\.\\.> search starts here:\n(.*)\nEnd of search list" mingw_search "${mingw_search}")
  string(REGEX MATCHALL "[^ \n]+/c\\+\\+[^ \n]*" mingw_cxx_includes "${CMAKE_MATCH_1}")
  set(mingw_flags -std=c++20 --target=x86_64-w64-mingw32 -I${PROJECT_SOURCE_DIR})
  foreach(dir IN LISTS mingw_cxx_includes)
    list(APPEND mingw_flags -isystem ${dir})
  endforeach()
  set(tidy_windows_command COMMAND ${FLASHLOCK_CLANG_TIDY} --quiet ${lint_windows_sources} -- ${mingw_flags})
else()
  set(tidy_windows_command COMMAND ${CMAKE_COMMAND} -E echo
                           "clang-tidy: no MinGW-w64 compiler, so PlatformWindows.cpp is not checked")
endif()

add_custom_target(tidy
  # The database holds g++'s flags; clang need not know each of them.
  COMMAND ${FLASHLOCK_RUN_CLANG_TIDY} -quiet -p ${CMAKE_BINARY_DIR} -j ${lint_jobs} -extra-arg=-Wno-unknown-warning-option
          "${PROJECT_SOURCE_DIR}/(app|bench|driver|flash|iolib|platform|tests)/"
  # Not in the database: clang-tidy borrows the flags of the nearest file that is.
  COMMAND ${FLASHLOCK_CLANG_TIDY} --quiet -p ${CMAKE_BINARY_DIR} --extra-arg=-Wno-unknown-warning-option
          ${lint_fuzz_sources}
  ${tidy_windows_command}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "clang-tidy over every source"
  VERBATIM)

set(cppcheck_options
  --enable=warning,style,performance,portability --std=c++20 --error-exitcode=1 --inline-suppr --quiet
  --library=posix --library=googletest --suppress=missingIncludeSystem
  # Test parameter structs are read through GetParam(), which cppcheck does
  # not follow; and a test's loops are written for the reader of the test.
  "--suppress=unusedStructMember:${PROJECT_SOURCE_DIR}/tests/*"
  "--suppress=useStlAlgorithm:${PROJECT_SOURCE_DIR}/tests/*"
  "--suppress=useStlAlgorithm:${PROJECT_SOURCE_DIR}/bench/*")
add_custom_target(cppcheck
  COMMAND ${FLASHLOCK_CPPCHECK} ${cppcheck_options} -j ${lint_jobs} --project=${CMAKE_BINARY_DIR}/compile_commands.json
  COMMAND ${FLASHLOCK_CPPCHECK} ${cppcheck_options} --library=windows -I${PROJECT_SOURCE_DIR}
          ${lint_windows_sources} ${lint_fuzz_sources}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "cppcheck over every source"
  VERBATIM)

add_custom_target(lint)
add_dependencies(lint format-check tidy cppcheck)
