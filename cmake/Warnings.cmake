# One warning policy for every target of ours; a warning is a build failure.
add_library(flashlock_warnings INTERFACE)
target_compile_options(flashlock_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
# g++ 12 at -O3 reports overlapping copies inside std::string's own
# operator+ (GCC bug 105329), which no code of ours can avoid.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  target_compile_options(flashlock_warnings INTERFACE -Wno-restrict)
endif()
