# The coverage build's report: line coverage of the program's own code (not
# the tests, benchmarks or fuzz targets) from everything the test suite ran,
# the end-to-end runs of flashlock and its modules included. Run it after the
# tests; the gcov data add up over runs until the build folder is removed.
find_program(FLASHLOCK_GCOVR gcovr)
if(NOT FLASHLOCK_GCOVR)
  add_custom_target(coverage-report
    COMMAND ${CMAKE_COMMAND} -E echo "coverage-report needs gcovr"
    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()

# A floor under the figure, a little below what the suite reaches, so that
# code added without tests fails the coverage run.
set(FLASHLOCK_COVERAGE_FLOOR 95 CACHE STRING "Least line coverage, in percent, that coverage-report accepts")

add_custom_target(coverage-report
  COMMAND ${FLASHLOCK_GCOVR}
          --root ${PROJECT_SOURCE_DIR}
          --object-directory ${CMAKE_BINARY_DIR}
          --filter "${PROJECT_SOURCE_DIR}/(app|driver|flash|iolib|platform)/"
          # The no-op entry points of the test and benchmark modules.
          --exclude "${PROJECT_SOURCE_DIR}/iolib/UnusedEntryPoints.cpp"
          --exclude-throw-branches
          --print-summary
          --fail-under-line ${FLASHLOCK_COVERAGE_FLOOR}
          # This build's counts alone, not those of other builds in the tree.
          ${CMAKE_BINARY_DIR}
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "Line coverage of the program's code by the test suite"
  VERBATIM)
