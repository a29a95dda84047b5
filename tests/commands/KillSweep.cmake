# A job cut short at every point where a power cut can fall, then run again:
# the chip must end up holding exactly the job's result, with every other byte
# and the lock map as they were before the first run.
#
#   cmake -DPROGRAM=... -DSIM_DIR=... -DMAKE_IMAGE=... -DWORK=... [-DEMULATOR=...]
#         -DJOB=write|erase -DPOINTS=before:1#after:1#...#fault:NAME=VALUE -P KillSweep.cmake
#
# A 28F320J3 with blocks 2 and 7 locked holds data in three small windows of
# block 2 and is erased elsewhere: writing 64 bytes into block 2 needs its
# erase, with the other two windows kept around it, and block 2 unlocked and
# locked again; erasing block 2 leaves the chip erased. Each point is one of
# FLASHLOCK_SIM_KILL's (the simulator ends the process at once, as a power cut
# would, before or after its N-th command that changes the chip) or a fault
# of the chip's (a variable of the simulator's) that stops the first run; the
# second run has neither.

foreach(variable FLASHLOCK_SIM_BOARD FLASHLOCK_SIM_CHIP FLASHLOCK_SIM_TRACE FLASHLOCK_SIM_LOG FLASHLOCK_SIM_VPEN
                 FLASHLOCK_SIM_STUCK_BLOCK FLASHLOCK_SIM_MASTER_LOCK FLASHLOCK_SIM_ERASE_FAIL
                 FLASHLOCK_SIM_PROGRAM_FAIL FLASHLOCK_SIM_WEAK_BLOCK FLASHLOCK_SIM_PROTECTED
                 FLASHLOCK_SIM_ADDRESS_REGISTER FLASHLOCK_SIM_KILL FLASHLOCK_PARPORT FLASHLOCK_IO FLASHLOCK_PORT_BASE
                 FLASHLOCK_FULL_SHIFTS)
  unset(ENV{${variable}})
endforeach()
set(ENV{FLASHLOCK_SIM_BUSY} none)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(program "${PROGRAM}")
if(EMULATOR)
  get_filename_component(program_name "${PROGRAM}" NAME)
  file(COPY "${PROGRAM}" "${SIM_DIR}/io.dll" DESTINATION "${WORK}/bin")
  set(program "${WORK}/bin/${program_name}")
  unset(ENV{WINEPATH})
else()
  set(ENV{LD_LIBRARY_PATH} "${SIM_DIR}")
endif()

# The windows of data, and where the image goes.
set(erased "0x0-0x1FFFF" "0x20040-0x300FF" "0x30140-0x3EFFF" "0x3F040-0x3FFFFF")
function(make)
  execute_process(COMMAND ${EMULATOR} "${MAKE_IMAGE}" ${ARGN} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE made)
  if(NOT made EQUAL 0)
    message(FATAL_ERROR "could not make the image: ${ARGN}")
  endif()
endfunction()
make(old.bin 0x400000 ${erased})
if(JOB STREQUAL "write")
  # The chip's own pattern with one byte turned round: a bit must rise, so
  # the block is erased.
  make(--at 0x30100 new.bin 0x40 0x30100)
  make(expected.bin 0x400000 ${erased} 0x30100)
  set(job write new.bin --offset 0x30100 --quiet)
else()
  make(expected.bin 0x400000 0x0-0x3FFFFF)
  set(job erase 2 --quiet)
endif()

set(failures "")
set(cuts 0)
string(REPLACE "#" ";" points "${POINTS}")
foreach(point IN LISTS points)
  set(here "${WORK}/${point}")
  string(REGEX REPLACE "[:=]" "-" here "${here}")
  file(MAKE_DIRECTORY "${here}")
  file(WRITE "${here}/state.txt" "flashlock-sim-state 1\nchip 28F320J3\nimage ../old.bin\nlocked 1 6\n")
  set(ENV{FLASHLOCK_SIM_STATE} "${here}/state.txt")
  set(ENV{FLASHLOCK_JOURNAL_DIR} "${here}/journal")

  if(point MATCHES "^fault:([A-Z_]+)=(.*)$")
    set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
    set(fault ${CMAKE_MATCH_1})
  else()
    set(ENV{FLASHLOCK_SIM_KILL} "${point}")
    set(fault FLASHLOCK_SIM_KILL)
  endif()
  execute_process(COMMAND ${EMULATOR} "${program}" ${job} WORKING_DIRECTORY "${WORK}"
                  OUTPUT_VARIABLE first_out ERROR_VARIABLE first_err RESULT_VARIABLE first)
  unset(ENV{${fault}})
  set(ENV{FLASHLOCK_SIM_BUSY} none)
  # A point past the job's last command lets the first run end as usual.
  if(NOT first MATCHES "^(Subprocess killed|137|3|0)$")
    string(APPEND failures "${point}: the first run ended with ${first}:\n${first_err}\n")
    continue()
  endif()
  if(first MATCHES "^(Subprocess killed|137)$")
    math(EXPR cuts "${cuts} + 1")
  endif()

  execute_process(COMMAND ${EMULATOR} "${program}" ${job} WORKING_DIRECTORY "${WORK}"
                  OUTPUT_VARIABLE second_out ERROR_VARIABLE second_err RESULT_VARIABLE second)
  if(NOT second EQUAL 0)
    string(APPEND failures "${point}: the rerun ended with ${second}:\n${second_out}${second_err}\n")
    continue()
  endif()
  # The simulator keeps the whole array in the content file beside its state:
  # every byte of the chip, compared at once.
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${here}/state.txt.content" "${WORK}/expected.bin"
                  RESULT_VARIABLE different)
  if(NOT different EQUAL 0)
    string(APPEND failures "${point}: the chip does not hold the expected bytes (${here}/state.txt.content)\n")
  endif()
  file(STRINGS "${here}/state.txt" locked REGEX "^locked")
  if(NOT locked STREQUAL "locked 1 6")
    string(APPEND failures "${point}: the lock map is \"${locked}\", not blocks 2 and 7 as before\n")
  endif()
  if(EXISTS "${here}/journal/journal-0x378")
    string(APPEND failures "${point}: the journal is still there after the rerun\n")
  endif()
endforeach()

# The sweep proves nothing unless its cuts fell inside the job.
if(cuts EQUAL 0 AND POINTS MATCHES "(before|after):")
  string(APPEND failures "no run was cut short: does the simulator honour FLASHLOCK_SIM_KILL?\n")
endif()
if(failures)
  message(FATAL_ERROR "${failures}")
endif()
