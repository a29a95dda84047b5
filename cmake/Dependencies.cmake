# Third-party libraries, each from the first place that has it: the installed
# package, then the sources or headers the distribution ships, then the pinned
# upstream release. Only that last step touches the network, so a machine with
# the packages installed configures offline. The program and its io modules
# need CLI11 alone; GoogleTest and Google Benchmark are looked for only when
# the tests or the benchmarks are built, and when none can be had those are
# left out with a warning rather than stopping the configure: the program and
# the simulator (run-sim) still build.
include(FetchContent)

# The pinned releases, for machines without the packages.
set(FLASHLOCK_CLI11_URL "https://github.com/CLIUtils/CLI11/archive/refs/tags/v2.3.2.tar.gz")
set(FLASHLOCK_CLI11_SHA256 "aac0ab42108131ac5d3344a9db0fdf25c4db652296641955720a4fbe52334e22")
set(FLASHLOCK_GOOGLETEST_URL "https://github.com/google/googletest/archive/refs/tags/release-1.12.1.tar.gz")
set(FLASHLOCK_GOOGLETEST_SHA256 "81964fe578e9bd7c94dfdb09c8e4d6e6759e19967e397dbea48d1c10e45d0df2")
set(FLASHLOCK_BENCHMARK_URL "https://github.com/google/benchmark/archive/refs/tags/v1.7.1.tar.gz")
set(FLASHLOCK_BENCHMARK_SHA256 "6430e4092653380d9dc4ccb45a1e2dc9259d581f4866dc0759713126056bc1d7")

# Declares <name> for FetchContent from its pinned release. The archive is
# downloaded here first, once per build folder, because FetchContent stops the
# configure when a download fails, and a missing test library must not; the
# hash is checked on that copy and again by FetchContent. out_var is true when
# the content can be populated.
function(flashlock_declare_release name url sha256 out_var)
  set(archive "${CMAKE_BINARY_DIR}/_downloads/${name}.tar.gz")
  set(have "")
  if(EXISTS "${archive}")
    file(SHA256 "${archive}" have)
  endif()
  if(NOT have STREQUAL sha256)
    message(STATUS "${name}: downloading ${url}")
    file(DOWNLOAD "${url}" "${archive}" STATUS status INACTIVITY_TIMEOUT 30 TIMEOUT 300)
    list(GET status 0 code)
    if(code EQUAL 0)
      file(SHA256 "${archive}" have)
    endif()
  endif()
  if(NOT have STREQUAL sha256)
    file(REMOVE "${archive}")
    set(${out_var} FALSE PARENT_SCOPE)
    return()
  endif()
  FetchContent_Declare(${name} URL "${archive}" URL_HASH SHA256=${sha256} DOWNLOAD_EXTRACT_TIMESTAMP TRUE)
  set(${out_var} TRUE PARENT_SCOPE)
endfunction()

# CLI11 (the command line; header only): the installed package; else the
# distribution's headers, copied into the build folder so that a cross
# compiler never sees the host's other system headers; else the release's.
find_package(CLI11 2.1 CONFIG QUIET)
if(NOT TARGET CLI11::CLI11)
  set(FLASHLOCK_CLI11_HEADERS "/usr/include/CLI" CACHE PATH "Folder holding CLI11's CLI/CLI.hpp and its siblings")
  set(cli11_headers "${FLASHLOCK_CLI11_HEADERS}")
  if(NOT EXISTS "${cli11_headers}/CLI.hpp")
    flashlock_declare_release(cli11 ${FLASHLOCK_CLI11_URL} ${FLASHLOCK_CLI11_SHA256} cli11_fetched)
    if(NOT cli11_fetched)
      message(FATAL_ERROR "CLI11 not found, and its release could not be downloaded: install CLI11 "
                          "(libcli11-dev, cli11-devel, cli11) or set FLASHLOCK_CLI11_HEADERS")
    endif()
    # Only the headers are used: CLI11's own build would add its tests and install rules.
    FetchContent_GetProperties(cli11)
    if(NOT cli11_POPULATED)
      FetchContent_Populate(cli11)
    endif()
    set(cli11_headers "${cli11_SOURCE_DIR}/include/CLI")
  endif()
  file(COPY "${cli11_headers}/" DESTINATION "${CMAKE_BINARY_DIR}/cli11/include/CLI")
  add_library(flashlock_cli11 INTERFACE)
  target_include_directories(flashlock_cli11 SYSTEM INTERFACE "${CMAKE_BINARY_DIR}/cli11/include")
  add_library(CLI11::CLI11 ALIAS flashlock_cli11)
endif()

# GoogleTest and GoogleMock: the installed package (never found by a cross
# build, whose search is confined to the cross compiler's root); else the
# sources the distribution's googletest package ships; else the release.
if(FLASHLOCK_BUILD_TESTS)
  # gtest_discover_tests lists a test program's tests when ctest starts, not
  # right after linking it: building runs no test program. (A cross build
  # lists none: see flashlock_gtests in tests/.)
  set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
  find_package(GTest QUIET)
  if(NOT (TARGET GTest::gmock AND TARGET GTest::gtest_main))
    set(FLASHLOCK_GOOGLETEST_SOURCE "/usr/src/googletest" CACHE PATH "GoogleTest sources, used when no GoogleTest is installed")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    if(EXISTS "${FLASHLOCK_GOOGLETEST_SOURCE}/CMakeLists.txt")
      message(STATUS "GoogleTest: building it from ${FLASHLOCK_GOOGLETEST_SOURCE}")
      add_subdirectory(${FLASHLOCK_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    else()
      flashlock_declare_release(googletest ${FLASHLOCK_GOOGLETEST_URL} ${FLASHLOCK_GOOGLETEST_SHA256} gtest_fetched)
      if(gtest_fetched)
        FetchContent_MakeAvailable(googletest)
      else()
        message(WARNING "GoogleTest not found, no sources in ${FLASHLOCK_GOOGLETEST_SOURCE}, and its release "
                        "could not be downloaded: the tests are not built. Install GoogleTest and GoogleMock "
                        "(libgtest-dev libgmock-dev, gmock-devel, gtest) to build them.")
        set(FLASHLOCK_BUILD_TESTS OFF)
      endif()
    endif()
    # Built from sources, GoogleTest and GoogleMock are a test-only cost paid
    # in every such build: compiled plainly, they take a third of the time.
    foreach(library gtest gtest_main gmock gmock_main)
      if(TARGET ${library})
        target_compile_options(${library} PRIVATE -O0 -g0)
      endif()
    endforeach()
  endif()
endif()

# Google Benchmark: the installed package, else the release (no distribution
# ships its sources).
if(FLASHLOCK_BUILD_BENCH)
  find_package(benchmark QUIET)
  if(NOT TARGET benchmark::benchmark_main)
    flashlock_declare_release(benchmark ${FLASHLOCK_BENCHMARK_URL} ${FLASHLOCK_BENCHMARK_SHA256} benchmark_fetched)
    if(benchmark_fetched)
      set(BENCHMARK_ENABLE_TESTING OFF CACHE BOOL "" FORCE)
      set(BENCHMARK_ENABLE_INSTALL OFF CACHE BOOL "" FORCE)
      set(BENCHMARK_ENABLE_WERROR OFF CACHE BOOL "" FORCE)
      set(BENCHMARK_INSTALL_DOCS OFF CACHE BOOL "" FORCE)
      FetchContent_MakeAvailable(benchmark)
    else()
      message(WARNING "Google Benchmark not found, and its release could not be downloaded: the benchmarks "
                      "are not built. Install it (libbenchmark-dev, google-benchmark-devel, benchmark).")
      set(FLASHLOCK_BUILD_BENCH OFF)
    endif()
  endif()
endif()
