# --sim end to end, as a newcomer meets it: the real program finds the
# simulated board beside itself (as built, and as installed) whatever the
# loader's path holds, keeps the chip in the per-user state folder between
# runs, and --reset-sim starts it afresh. Without --sim, a run that meets the
# simulator through the loader's path and keeps no state says so once.
#
#   cmake -DPROGRAM=<flashlock> -DSIM_DIR=<folder of the simulator's module>
#         -DOTHER_MODULE_DIR=<folder of another io module> -DINSTALLED_SIM_DIR=<as driver/CMakeLists.txt has it>
#         -DSIM_GOLDEN_DIR=<tests/sim/golden> -DWORK=<scratch folder> -P SimOption.cmake

cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
foreach(variable FLASHLOCK_SIM_BOARD FLASHLOCK_SIM_CHIP FLASHLOCK_SIM_STATE FLASHLOCK_SIM_TRACE FLASHLOCK_SIM_LOG
                 FLASHLOCK_SIM_VPEN FLASHLOCK_SIM_STUCK_BLOCK FLASHLOCK_SIM_MASTER_LOCK FLASHLOCK_SIM_ERASE_FAIL
                 FLASHLOCK_SIM_PROGRAM_FAIL FLASHLOCK_SIM_WEAK_BLOCK FLASHLOCK_PARPORT FLASHLOCK_IO FLASHLOCK_PORT_BASE)
  unset(ENV{${variable}})
endforeach()
set(ENV{FLASHLOCK_SIM_BUSY} none)
set(ENV{XDG_STATE_HOME} "${WORK}/state")
# Another io module first on the loader's path: --sim must not take it.
set(ENV{LD_LIBRARY_PATH} "${OTHER_MODULE_DIR}")
set(state_folder "${WORK}/state/flashlock")
set(state "sim-zantrel4v4-28F320J3.state")

set(failures "")
set(step 0)
# run(<expected status> <input> <arguments>...): out, err and status in the caller.
macro(run expected input)
  math(EXPR step "${step} + 1")
  file(WRITE "${WORK}/step${step}.in" "${input}")
  execute_process(COMMAND "${program}" ${ARGN} WORKING_DIRECTORY "${WORK}" INPUT_FILE "${WORK}/step${step}.in"
                  OUTPUT_VARIABLE out ERROR_VARIABLE err RESULT_VARIABLE status)
  if(NOT status STREQUAL "${expected}")
    string(APPEND failures "step ${step} (${ARGN}): exit status ${status}, expected ${expected}\n${out}${err}\n")
  endif()
endmacro()
# Functions, not macros: a macro would read the pattern's escapes twice.
function(expect what text pattern)
  if(NOT text MATCHES "${pattern}")
    set(failures "${failures}step ${step}: ${what} does not match \"${pattern}\":\n${text}\n" PARENT_SCOPE)
  endif()
endfunction()
function(expect_equal what text expected)
  if(NOT text STREQUAL expected)
    set(failures "${failures}step ${step}: ${what} is\n${text}\nexpected\n${expected}\n" PARENT_SCOPE)
  endif()
endfunction()

set(program "${PROGRAM}")
# The chip is kept between runs, in the state folder, under the board's and chip's names.
run(0 "" --sim lock 2)
expect_equal("standard output" "${out}" "locked block 2; verified, locked now: 2 (1 of 32 blocks)\n")
expect_equal("standard error" "${err}" "")
run(0 "" --sim status)
expect("standard output" "${out}" "^board        Zantrel4v4 \\(simulated\\)\n.*\nlocked       2 \\(1 of 32 blocks\\)\n")
if(NOT EXISTS "${state_folder}/${state}")
  string(APPEND failures "no ${state_folder}/${state}\n")
endif()
# Started afresh: what was removed is said on standard error, the JSON stays JSON.
run(0 "" --sim --reset-sim status --json)
expect_equal("standard error" "${err}"
             "flashlock: the simulated chip starts afresh: removed ${state}, ${state}.lock from ${state_folder}\n")
expect("standard output" "${out}" "^{\"board\": \"Zantrel4v4\", \"simulated\": true, .*\"locked\": \\[\\], ")
# The dialogue on it: its text exactly as on any other board.
run(0 "x\n" --sim)
file(READ "${SIM_GOLDEN_DIR}/board-zantrel4v4-defaults.txt" dialogue)
expect_equal("the dialogue" "${out}" "${dialogue}")
expect_equal("standard error" "${err}" "")

# Another chip in the socket than --chip names: nothing changes on it.
set(ENV{FLASHLOCK_SIM_CHIP} 28F640J3)
run(3 "" --sim --chip 28F320J3 lock 1)
expect("standard error" "${err}" "^flashlock: the chip in the socket is the Intel 28F640J3 .*, not 28F320J3 as --chip says;")
run(0 "" --sim --chip 28f640j3 status)
expect("standard output" "${out}" "\nlocked       none of 64 blocks\n")
unset(ENV{FLASHLOCK_SIM_CHIP})

# A state file of the user's own is used, and never removed by --reset-sim.
set(ENV{FLASHLOCK_SIM_STATE} "${WORK}/mine.state")
run(0 "" --sim lock 3)
if(NOT EXISTS "${WORK}/mine.state")
  string(APPEND failures "FLASHLOCK_SIM_STATE was not used\n")
endif()
run(2 "" --sim --reset-sim status)
expect("standard error" "${err}" "FLASHLOCK_SIM_STATE names a state file of yours \\(${WORK}/mine.state\\)")
if(NOT EXISTS "${WORK}/mine.state")
  string(APPEND failures "--reset-sim removed the user's own state file\n")
endif()
unset(ENV{FLASHLOCK_SIM_STATE})

# A setting the simulator refuses is said once: by the simulator, as it loads.
set(ENV{FLASHLOCK_SIM_BOARD} zantrel4v6)
run(1 "" --sim status)
file(READ "${SIM_GOLDEN_DIR}/module-not-usable.stderr.txt" refused)
# A command says "H/W check failed !" on standard error (the dialogue on standard output).
expect_equal("standard error" "${err}" "${refused}H/W check failed !\n")
unset(ENV{FLASHLOCK_SIM_BOARD})

# Met through the loader's path without a state file: said once, for a
# command and for the dialogue alike.
set(note "flashlock: the simulated chip lasts this run only: set FLASHLOCK_SIM_STATE to a file to keep it, or run flashlock --sim, which keeps it for you\n")
set(ENV{LD_LIBRARY_PATH} "${SIM_DIR}")
run(0 "" status)
expect_equal("standard error" "${err}" "${note}")
expect("standard output" "${out}" "^board        Zantrel4v4 \\(simulated\\)\n")
run(0 "x\n")
expect_equal("standard error" "${err}" "${note}")

# As installed: the module in its own folder beside the program's.
get_filename_component(program_name "${PROGRAM}" NAME)
get_filename_component(module_name "${SIM_DIR}/libio.so" NAME)
file(COPY "${PROGRAM}" DESTINATION "${WORK}/usr/bin")
file(COPY "${SIM_DIR}/${module_name}" DESTINATION "${WORK}/usr/bin/${INSTALLED_SIM_DIR}")
set(ENV{LD_LIBRARY_PATH} "${OTHER_MODULE_DIR}")
set(program "${WORK}/usr/bin/${program_name}")
run(0 "" --sim status)
expect("standard output" "${out}" "^board        Zantrel4v4 \\(simulated\\)\n")
# Nowhere to be found: where it looked, and what to do.
file(COPY "${PROGRAM}" DESTINATION "${WORK}/alone")
set(program "${WORK}/alone/${program_name}")
run(1 "" --sim status)
expect("standard error" "${err}"
       "^flashlock: the simulated board's module is not beside flashlock \\(looked for ${WORK}/alone/sim/${module_name}")

if(failures)
  message(NOTICE "${failures}")
  message(FATAL_ERROR "--sim scenario failed")
endif()
