# Checks that a Windows DLL exports the 13 port-I/O entry points under their
# plain names, as the port-I/O libraries users install export them: a 32-bit
# __stdcall name left decorated (PortOut@8) would not be found by name.
# Usage: cmake -DOBJDUMP=... -DMODULE=io.dll [-DEXTRA=name;name] -P CheckPeExports.cmake
execute_process(COMMAND ${OBJDUMP} -p ${MODULE} OUTPUT_VARIABLE dump RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${OBJDUMP} could not read ${MODULE}")
endif()
string(REPLACE "\n" ";" lines "${dump}")
set(exported)
set(in_table FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(in_table TRUE)
  elseif(in_table AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] (.+)$")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(in_table)
    break()
  endif()
endforeach()
set(expected PortOut PortWordOut PortDWordOut PortIn PortWordIn PortDWordIn SetPortBit ClrPortBit NotPortBit
             GetPortBit RightPortShift LeftPortShift IsDriverInstalled ${EXTRA})
list(SORT exported)
list(SORT expected)
if(NOT exported STREQUAL expected)
  message(FATAL_ERROR "${MODULE} exports\n  ${exported}\nexpected\n  ${expected}")
endif()
message(STATUS "${MODULE}: the 13 entry points are exported undecorated")
