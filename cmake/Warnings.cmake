# One warning policy for every target of ours; a warning is a build failure.
add_library(flashlock_warnings INTERFACE)
target_compile_options(flashlock_warnings INTERFACE -Wall -Wextra -Wpedantic -Werror)
