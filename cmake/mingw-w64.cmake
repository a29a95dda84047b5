# Cross-build for Windows with MinGW-w64; included by the toolchain file of
# each processor after it sets CMAKE_SYSTEM_PROCESSOR. The program and our io
# modules link their runtime statically, so flashlock.exe needs no MinGW DLLs,
# and the tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)

set(mingw_triple ${CMAKE_SYSTEM_PROCESSOR}-w64-mingw32)
# The posix thread model: GoogleTest, built from source here, needs std::mutex.
set(CMAKE_C_COMPILER ${mingw_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${mingw_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${mingw_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${mingw_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Wine with the loader of each program's own width, so that the 64-bit tests
# run whether or not 32-bit Wine is installed (see wine-run).
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run)
