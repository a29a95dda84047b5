# Checks that a Windows DLL needs no MinGW runtime DLL (libstdc++, libgcc,
# winpthread): a user gets flashlock.exe and io.dll, and nothing else.
# Usage: cmake -DOBJDUMP=... -DMODULE=io.dll -P CheckPeImports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${MODULE}")
endif()
string(REGEX MATCHALL "DLL Name: [^\n]+" imports "${dump}")
foreach(import IN LISTS imports)
  if(import MATCHES "(libstdc\\+\\+|libgcc|libwinpthread)")
    message(FATAL_ERROR "${MODULE} needs a MinGW runtime DLL: ${import}")
  endif()
endforeach()
message(STATUS "${MODULE} needs only Windows' own DLLs: ${imports}")
