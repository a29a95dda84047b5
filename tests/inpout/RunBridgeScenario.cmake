# One end-to-end run of flashlock.exe on the InpOut bridge, as a Windows user
# installs it: flashlock.exe and io.dll (the bridge) in one folder, with the
# fake InpOut DLL beside them or not, the simulator (as simboard.dll) behind
# the fake as the board on the port, and optionally a second process that
# holds the port first.
#
#   cmake -DEMULATOR=<wine> -DPROGRAM=<flashlock.exe> -DBRIDGE=<io.dll> -DWORK=<scratch folder>
#         [-DFAKE=<fake InpOut DLL>] [-DBOARD=<simulator io.dll>] [-DHOLDER=<hold_port.exe>]
#         [-DPORT_BASE=<FLASHLOCK_PORT_BASE>] -DEXPECTED=<file> -DEXIT=<status> [-DERRORS=<file>]
#         -P RunBridgeScenario.cmake
#
# Standard output must start with the EXPECTED file's text (the detection, and
# for a board the identifier line); standard error must be the ERRORS file's
# text, or empty. With a board, the simulator's log must show no fault.

cmake_minimum_required(VERSION 3.25)

foreach(required PROGRAM BRIDGE WORK EXPECTED EXIT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "RunBridgeScenario.cmake: ${required} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/bin")
file(COPY "${PROGRAM}" "${BRIDGE}" DESTINATION "${WORK}/bin")
get_filename_component(program_name "${PROGRAM}" NAME)
set(command "${WORK}/bin/${program_name}")

# Only what this run sets may steer the bridge, the fake and the simulator.
foreach(variable FLASHLOCK_PORT_BASE FAKE_INPOUT_LOG FAKE_INPOUT_DRIVER FAKE_INPOUT_PORTS FAKE_INPOUT_BOARD
                 FAKE_INPOUT_BOARD_BASE FLASHLOCK_SIM_BOARD FLASHLOCK_SIM_CHIP FLASHLOCK_SIM_STATE
                 FLASHLOCK_SIM_TRACE FLASHLOCK_SIM_LOG WINEPATH)
  unset(ENV{${variable}})
endforeach()
set(ENV{FLASHLOCK_JOURNAL_DIR} "${WORK}/journal")
if(DEFINED PORT_BASE)
  set(ENV{FLASHLOCK_PORT_BASE} "${PORT_BASE}")
endif()
if(DEFINED FAKE)
  file(COPY "${FAKE}" DESTINATION "${WORK}/bin")
endif()
if(DEFINED BOARD)
  # The simulator under a name of its own: io.dll is the bridge's.
  file(COPY_FILE "${BOARD}" "${WORK}/bin/simboard.dll")
  set(ENV{FAKE_INPOUT_BOARD} simboard.dll)
  if(DEFINED PORT_BASE)
    set(ENV{FAKE_INPOUT_BOARD_BASE} "${PORT_BASE}")
  else()
    set(ENV{FAKE_INPOUT_BOARD_BASE} 0x378)
  endif()
  set(ENV{FLASHLOCK_SIM_BOARD} zantrel4v4)
  set(ENV{FLASHLOCK_SIM_CHIP} 28F320J3)
  set(ENV{FLASHLOCK_SIM_LOG} "${WORK}/sim.log")
endif()
if(DEFINED HOLDER)
  file(COPY "${HOLDER}" DESTINATION "${WORK}/bin")
  get_filename_component(holder_name "${HOLDER}" NAME)
  set(command "${WORK}/bin/${holder_name}" "${command}")
endif()

file(WRITE "${WORK}/input.txt" "x\n")
execute_process(
  COMMAND ${EMULATOR} ${command}
  WORKING_DIRECTORY "${WORK}"
  INPUT_FILE "${WORK}/input.txt"
  OUTPUT_VARIABLE output
  ERROR_VARIABLE errors
  RESULT_VARIABLE status)
string(REPLACE "\r\n" "\n" output "${output}")
string(REPLACE "\r\n" "\n" errors "${errors}")
file(WRITE "${WORK}/output.txt" "${output}")
file(WRITE "${WORK}/errors.txt" "${errors}")

set(failures "")
file(READ "${EXPECTED}" expected)
string(LENGTH "${expected}" expected_length)
string(SUBSTRING "${output}" 0 ${expected_length} output_start)
if(NOT output_start STREQUAL expected)
  string(APPEND failures "standard output does not start with ${EXPECTED}:\n${output}\n")
endif()
if(NOT status STREQUAL EXIT)
  string(APPEND failures "exit status ${status}, expected ${EXIT}\n")
endif()
set(expected_errors "")
if(DEFINED ERRORS)
  file(READ "${ERRORS}" expected_errors)
endif()
if(NOT errors STREQUAL expected_errors)
  string(APPEND failures "standard error differs:\n${errors}\nexpected:\n${expected_errors}\n")
endif()
if(DEFINED BOARD AND EXIT EQUAL 0)
  if(NOT EXISTS "${WORK}/sim.log")
    string(APPEND failures "the simulator wrote no log: did the fake InpOut reach it?\n")
  else()
    file(STRINGS "${WORK}/sim.log" faults REGEX "FAULT")
    if(faults)
      string(REPLACE ";" "\n" faults "${faults}")
      string(APPEND failures "simulator faults:\n${faults}\n")
    endif()
  endif()
endif()

if(failures)
  message(NOTICE "${failures}")
  message(FATAL_ERROR "bridge scenario in ${WORK} failed")
endif()
