# Run by ctest after the tests (CTEST_CUSTOM_POST_TEST, see CMakeLists.txt):
# ctest's summary names the tests it skipped but not why, and GoogleTest's
# reason (GTEST_SKIP() << why) is only in each test's output. This reads the
# reasons back from ctest's log of the run and prints one line per test.
#
#   cmake -DLOG_DIR=<build>/Testing/Temporary -P SkipReasons.cmake
#
# It never fails: a missing or unreadable log only means nothing to say.

# The run's log: still named *.tmp while ctest runs; the newest if several.
file(GLOB logs "${LOG_DIR}/LastTest*.log.tmp")
if(NOT logs)
  file(GLOB logs "${LOG_DIR}/LastTest*.log")
endif()
set(log "")
set(newest "")
foreach(candidate IN LISTS logs)
  file(TIMESTAMP "${candidate}" stamp "%Y%m%d%H%M%S")
  if(stamp STRGREATER_EQUAL newest)
    set(newest "${stamp}")
    set(log "${candidate}")
  endif()
endforeach()
if(NOT log)
  return()
endif()

file(READ "${log}" text)
# CMake lists split at semicolons, which reasons may hold.
string(REPLACE ";" "<semicolon>" text "${text}")
# GoogleTest writes "<file>:<line>: Skipped", the reason, then the test's
# "[  SKIPPED ] <name> (<n> ms)" line.
string(REGEX MATCHALL ": Skipped\n[^[]*\\[  SKIPPED \\] [^\n]* \\([0-9]+ ms\\)" skips "${text}")
set(lines "")
foreach(skip IN LISTS skips)
  string(REGEX REPLACE "^: Skipped\n(.*)\\[  SKIPPED \\] ([^\n]*) \\([0-9]+ ms\\)$" "\\1" reason "${skip}")
  string(REGEX REPLACE "^: Skipped\n(.*)\\[  SKIPPED \\] ([^\n]*) \\([0-9]+ ms\\)$" "\\2" name "${skip}")
  string(STRIP "${reason}" reason)
  string(REPLACE "\n" " " reason "${reason}")
  if(reason STREQUAL "")
    set(reason "no reason given")
  endif()
  string(APPEND lines "\t${name}: ${reason}\n")
endforeach()
if(lines)
  string(REPLACE "<semicolon>" ";" lines "${lines}")
  execute_process(COMMAND "${CMAKE_COMMAND}" -E echo "\nWhy the skipped tests did not run:\n${lines}")
endif()
