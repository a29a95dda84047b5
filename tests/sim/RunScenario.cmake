# One end-to-end scenario: the real flashlock against the simulated board, with
# scripted input, its whole standard output compared with a golden transcript.
#
#   cmake -DPROGRAM=<flashlock> -DSIM_DIR=<folder of the io module>
#         -DGOLDEN_DIR=<folder> -DWORK=<scratch folder> -DNAME=<scenario>
#         [-DBOARD=..] [-DCHIP=..] [-DSEED=<state file to start from>]
#         -DINPUTS=<run 1 input>[,<run 2 input>...] -DEXIT=<status>
#         [-DSTDIN=closed|endless|<input file in GOLDEN_DIR>] [-DGENERATOR=<endless writer>]
#         [-DMODULE=sim|missing|<folder holding another io module>] [-DPARPORT=1]
#         [-DGOLDEN=<golden name, if not NAME>] [-DTRACE=1] [-DEMULATOR=<runner>]
#         [-DARGS=<run 1 arguments>[#<run 2 arguments>...]] [-DSIM_ENV=<NAME=value ...>]
#         [-DPREPARE=<command>[#<command>...]] [-DSAME_FILES=<file>=<file>] [-DNO_LOG=1]
#         [-DRUN_ENV=<run 1 NAME=value ...>[#<run 2 NAME=value ...>...]]
#         -P RunScenario.cmake
#
# In an input '|' stands for a newline, so "b|x|" types b, Enter, x, Enter;
# an empty input is an empty standard input. STDIN replaces the typed input
# of a single run: a closed descriptor, a word without end from GENERATOR, or
# a file's bytes as they are. Runs share one state file, so a lock set in one
# run shows in the next. Golden files: <GOLDEN>.txt for one run,
# <GOLDEN>.run<n>.txt for several. Standard error must be empty when the
# simulator is the module; otherwise <NAME>.stderr.txt holds it exactly or
# <NAME>.stderr.regex matches it whole (for texts that differ between systems).
# PARPORT=1 says that MODULE is the Linux parallel-port module: it is pointed
# at a text file in the scratch folder, never at a real port.
#
# ARGS gives each run its command line (runs separated by '#', arguments by
# blanks); a run with arguments is a command, which never pauses. EXIT may
# then list one status per run, separated by '#'. SIM_ENV sets more of the
# simulator's variables for every run. A run's standard error may also have
# its own golden file, <NAME>.run<n>.stderr.txt (or .regex); otherwise
# <NAME>.stderr.txt (or .regex) holds every run's. PREPARE's commands run once in the
# scratch folder before the first run (to make an image, say); SAME_FILES
# names two files there that must be equal after the last run. Where a run's
# output holds times, <golden>.regex in place of <golden>.txt matches it whole. NO_LOG runs
# the simulator without its log, for runs too long to log every cycle.
# RUN_ENV sets variables for one run each, over SIM_ENV's (runs separated by
# '#', an empty entry for a run that needs none): a fault for that run alone,
# or FLASHLOCK_SIM_LOG= to run it without the log.

cmake_minimum_required(VERSION 3.25)

foreach(required PROGRAM SIM_DIR GOLDEN_DIR WORK NAME EXIT)
  if(NOT DEFINED ${required})
    message(FATAL_ERROR "RunScenario.cmake: ${required} is not set")
  endif()
endforeach()
if(NOT DEFINED MODULE)
  set(MODULE sim)
endif()
if(NOT DEFINED GOLDEN)
  set(GOLDEN "${NAME}")
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# Nothing from the caller's environment may change what the module does.
foreach(variable FLASHLOCK_SIM_BOARD FLASHLOCK_SIM_CHIP FLASHLOCK_SIM_STATE FLASHLOCK_SIM_TRACE FLASHLOCK_SIM_LOG
                 FLASHLOCK_SIM_BUSY FLASHLOCK_SIM_VPEN FLASHLOCK_SIM_STUCK_BLOCK FLASHLOCK_SIM_MASTER_LOCK
                 FLASHLOCK_SIM_ERASE_FAIL FLASHLOCK_SIM_PROGRAM_FAIL FLASHLOCK_SIM_WEAK_BLOCK
                 FLASHLOCK_SIM_PROTECTED FLASHLOCK_SIM_ADDRESS_REGISTER FLASHLOCK_SIM_KILL
                 FLASHLOCK_PARPORT FLASHLOCK_IO FLASHLOCK_PORT_BASE)
  unset(ENV{${variable}})
endforeach()
# Sets each NAME=value of `assignments`; `names` gets the names set.
function(set_environment source assignments names)
  separate_arguments(pairs UNIX_COMMAND "${assignments}")
  set(set_names "")
  foreach(assignment IN LISTS pairs)
    string(REGEX MATCH "^([A-Z_0-9]+)=(.*)$" matched "${assignment}")
    if(NOT matched)
      message(FATAL_ERROR "RunScenario.cmake: ${source} entry \"${assignment}\" is not NAME=value")
    endif()
    set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
    list(APPEND set_names "${CMAKE_MATCH_1}")
  endforeach()
  set(${names} "${set_names}" PARENT_SCOPE)
endfunction()

if(DEFINED SIM_ENV)
  set_environment(SIM_ENV "${SIM_ENV}" ignored)
endif()
if(PARPORT)
  file(WRITE "${WORK}/not-a-port" "A text file where the parallel port device should be.\n")
  set(ENV{FLASHLOCK_PARPORT} "${WORK}/not-a-port")
endif()

set(program "${PROGRAM}")
if(NOT MODULE STREQUAL "sim")
  # The program alone in a folder, with no module anywhere the loader looks
  # but the one under test (a build folder may hold another io module next to
  # the program).
  get_filename_component(program_name "${PROGRAM}" NAME)
  file(COPY "${PROGRAM}" DESTINATION "${WORK}/alone")
  set(program "${WORK}/alone/${program_name}")
  unset(ENV{LD_LIBRARY_PATH})
  unset(ENV{WINEPATH})
  if(NOT MODULE STREQUAL "missing")
    if(CMAKE_HOST_WIN32 OR EMULATOR)
      file(COPY "${MODULE}/io.dll" DESTINATION "${WORK}/alone")
    else()
      set(ENV{LD_LIBRARY_PATH} "${MODULE}")
    endif()
  endif()
else()
  if(CMAKE_HOST_WIN32 OR EMULATOR)
    # As a Windows user installs it: flashlock.exe and io.dll side by side.
    get_filename_component(program_name "${PROGRAM}" NAME)
    file(COPY "${PROGRAM}" "${SIM_DIR}/io.dll" DESTINATION "${WORK}/bin")
    set(program "${WORK}/bin/${program_name}")
    unset(ENV{WINEPATH})
  else()
    set(ENV{LD_LIBRARY_PATH} "${SIM_DIR}")
  endif()
  if(DEFINED BOARD)
    set(ENV{FLASHLOCK_SIM_BOARD} "${BOARD}")
  endif()
  if(DEFINED CHIP)
    set(ENV{FLASHLOCK_SIM_CHIP} "${CHIP}")
  endif()
  if(DEFINED SEED)
    configure_file("${SEED}" "${WORK}/state.txt" COPYONLY)
  endif()
  set(ENV{FLASHLOCK_SIM_STATE} "${WORK}/state.txt")
  # Journals of write, erase, lock and unlock stay with the scenario, never
  # in the user's own state folder.
  set(ENV{FLASHLOCK_JOURNAL_DIR} "${WORK}/journal")
  if(TRACE)
    set(ENV{FLASHLOCK_SIM_TRACE} "${WORK}/lines.vcd")
  endif()
endif()

if(DEFINED FILES)
  string(REPLACE "#" ";" files "${FILES}")
  foreach(name IN LISTS files)
    file(COPY "${GOLDEN_DIR}/${name}" DESTINATION "${WORK}")
  endforeach()
endif()

if(DEFINED PREPARE)
  string(REPLACE "#" ";" preparations "${PREPARE}")
  foreach(preparation IN LISTS preparations)
    separate_arguments(prepare UNIX_COMMAND "${preparation}")
    execute_process(COMMAND ${EMULATOR} ${prepare} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE prepared)
    if(NOT prepared EQUAL 0)
      message(FATAL_ERROR "scenario ${NAME}: ${preparation} failed: ${prepared}")
    endif()
  endforeach()
endif()

find_program(diff_tool diff)
set(failures "")

string(REPLACE "," ";" runs "${INPUTS}")
list(LENGTH runs run_count)
string(REPLACE "#" ";" run_arguments "${ARGS}")
list(LENGTH run_arguments argument_count)
if(argument_count GREATER run_count)
  set(run_count ${argument_count})
endif()
string(REPLACE "#" ";" run_exits "${EXIT}")
string(REPLACE "#" ";" run_environments "${RUN_ENV}")
list(LENGTH run_environments environment_count)
if(run_count EQUAL 0)
  set(runs "")
  set(run_count 1)
endif()

set(run 0)
while(run LESS run_count)
  math(EXPR number "${run} + 1")
  if(run_count GREATER 1)
    set(golden "${GOLDEN_DIR}/${GOLDEN}.run${number}.txt")
  else()
    set(golden "${GOLDEN_DIR}/${GOLDEN}.txt")
  endif()
  set(input "")
  list(LENGTH runs input_count)
  if(run LESS input_count)
    list(GET runs ${run} input)
  endif()
  set(arguments "")
  if(run LESS argument_count)
    list(GET run_arguments ${run} arguments)
    separate_arguments(arguments UNIX_COMMAND "${arguments}")
  endif()
  list(LENGTH run_exits exit_count)
  if(run LESS exit_count)
    list(GET run_exits ${run} expected_status)
  else()
    list(GET run_exits -1 expected_status)
  endif()
  string(REPLACE "|" "\n" input "${input}")
  file(WRITE "${WORK}/run${number}.in" "${input}")
  set(log "${WORK}/run${number}.log")
  if(MODULE STREQUAL "sim" AND NOT NO_LOG)
    set(ENV{FLASHLOCK_SIM_LOG} "${log}")
  endif()
  # This run's own variables, and what they hid, to be put back after it.
  set(run_names "")
  set(run_environment "")
  if(run LESS environment_count)
    list(GET run_environments ${run} run_environment)
  endif()
  string(REGEX MATCHALL "[A-Z_0-9]+=" run_names "${run_environment}")
  list(TRANSFORM run_names REPLACE "=$" "")
  set(hidden "")
  foreach(variable IN LISTS run_names)
    if(DEFINED ENV{${variable}})
      list(APPEND hidden "${variable}=$ENV{${variable}}")
    endif()
  endforeach()
  set_environment(RUN_ENV "${run_environment}" run_names)
  set(logged TRUE)
  if("$ENV{FLASHLOCK_SIM_LOG}" STREQUAL "")
    set(logged FALSE)
  endif()

  if(STDIN STREQUAL "closed")
    # Started with no standard input at all, as a service or a careless
    # script may start it.
    execute_process(
      COMMAND sh -c "exec \"$0\" \"$@\" 0<&-" "${program}" ${arguments}
      WORKING_DIRECTORY "${WORK}"
      OUTPUT_VARIABLE output
      ERROR_VARIABLE errors
      RESULT_VARIABLE status)
  elseif(STDIN STREQUAL "endless")
    execute_process(
      COMMAND ${EMULATOR} "${GENERATOR}"
      COMMAND ${EMULATOR} "${program}" ${arguments}
      WORKING_DIRECTORY "${WORK}"
      OUTPUT_VARIABLE output
      ERROR_VARIABLE errors
      RESULT_VARIABLE status)
  else()
    set(input_file "${WORK}/run${number}.in")
    if(DEFINED STDIN)
      set(input_file "${GOLDEN_DIR}/${STDIN}")
    endif()
    execute_process(
      COMMAND ${EMULATOR} "${program}" ${arguments}
      WORKING_DIRECTORY "${WORK}"
      INPUT_FILE "${input_file}"
      OUTPUT_VARIABLE output
      ERROR_VARIABLE errors
      RESULT_VARIABLE status)
  endif()
  foreach(variable IN LISTS run_names)
    unset(ENV{${variable}})
  endforeach()
  foreach(assignment IN LISTS hidden)
    string(REGEX MATCH "^([A-Z_0-9]+)=(.*)$" matched "${assignment}")
    set(ENV{${CMAKE_MATCH_1}} "${CMAKE_MATCH_2}")
  endforeach()
  # Windows consoles end lines with CR LF.
  string(REPLACE "\r\n" "\n" output "${output}")
  string(REPLACE "\r\n" "\n" errors "${errors}")
  file(WRITE "${WORK}/run${number}.out" "${output}")
  file(WRITE "${WORK}/run${number}.err" "${errors}")

  # A transcript with times and rates in it is matched whole by a regex.
  string(REGEX REPLACE "\\.txt$" ".regex" golden_regex "${golden}")
  if(EXISTS "${golden_regex}" AND NOT EXISTS "${golden}")
    file(READ "${golden_regex}" pattern)
    string(STRIP "${pattern}" pattern)
    if(NOT output MATCHES "^${pattern}\n$")
      string(APPEND failures "run ${number}: standard output does not match ${golden_regex}:\n${output}\n")
    endif()
    set(expected "${output}")
  elseif(EXISTS "${golden}")
    file(READ "${golden}" expected)
  else()
    set(expected "")
    string(APPEND failures "run ${number}: no golden file ${golden}\n")
  endif()
  if((EMULATOR OR CMAKE_HOST_WIN32) AND NOT arguments)
    # Windows pauses with cmd's own PAUSE, whose prompt is the command
    # processor's (Wine's reads "Press any key to continue... " and ends no
    # line): compare up to the prompt, and that there is one.
    set(prompt "Press any key to continue[^\n]*\n?$")
    if(NOT output MATCHES "${prompt}")
      string(APPEND failures "run ${number}: no pause prompt at the end\n")
    endif()
    string(REGEX REPLACE "${prompt}" "" output "${output}")
    string(REGEX REPLACE "${prompt}" "" expected "${expected}")
  endif()
  if(NOT output STREQUAL expected)
    string(APPEND failures "run ${number}: standard output differs from ${golden} (got ${WORK}/run${number}.out)\n")
    if(diff_tool)
      execute_process(COMMAND "${diff_tool}" -u "${golden}" "${WORK}/run${number}.out" OUTPUT_VARIABLE difference)
      string(APPEND failures "${difference}")
    endif()
  endif()
  if(NOT status STREQUAL expected_status)
    string(APPEND failures "run ${number}: exit status ${status}, expected ${expected_status}\n")
  endif()

  set(errors_golden "${GOLDEN_DIR}/${NAME}.run${number}")
  if(NOT EXISTS "${errors_golden}.stderr.txt" AND NOT EXISTS "${errors_golden}.stderr.regex")
    set(errors_golden "${GOLDEN_DIR}/${NAME}")
  endif()
  set(errors_checked FALSE)
  if(EXISTS "${errors_golden}.stderr.txt" OR EXISTS "${errors_golden}.stderr.regex")
    set(errors_checked TRUE)
    if(EXISTS "${errors_golden}.stderr.txt")
      file(READ "${errors_golden}.stderr.txt" expected_errors)
      string(COMPARE EQUAL "${errors}" "${expected_errors}" errors_match)
    else()
      file(READ "${errors_golden}.stderr.regex" expected_errors)
      string(STRIP "${expected_errors}" expected_errors)
      string(REGEX MATCH "^${expected_errors}\n$" matched "${errors}")
      string(COMPARE NOTEQUAL "${matched}" "" errors_match)
    endif()
    if(NOT errors_match)
      string(APPEND failures "run ${number}: standard error differs:\n${errors}\nexpected:\n${expected_errors}\n")
    endif()
  elseif(NOT MODULE STREQUAL "sim")
    string(APPEND failures "run ${number}: no ${NAME}.stderr.txt or ${NAME}.stderr.regex to check standard error by\n")
  elseif(NOT errors STREQUAL "")
    string(APPEND failures "run ${number}: unexpected standard error:\n${errors}\n")
  endif()
  # A usage error may end before the module is loaded, and a module that is
  # not usable (its reason on standard error, status 1) writes nothing; else
  # the simulator was the one loaded, and it saw nothing wrong on the port.
  if(NOT MODULE STREQUAL "sim")
    if(EXISTS "${log}")
      string(APPEND failures "run ${number}: a module that is not usable wrote ${log}\n")
    endif()
  elseif(NOT EXISTS "${log}" AND (NOT logged OR expected_status STREQUAL "2" OR (errors_checked AND expected_status STREQUAL "1")))
  elseif(NOT EXISTS "${log}")
    string(APPEND failures "run ${number}: the simulator wrote no log: was it loaded?\n")
  else()
    file(STRINGS "${log}" log_head LIMIT_COUNT 1)
    if(NOT log_head MATCHES "flashlock simulator: board ")
      string(APPEND failures "run ${number}: ${log} does not start with the simulator's header\n")
    endif()
    file(STRINGS "${log}" faults REGEX "FAULT")
    if(faults)
      string(REPLACE ";" "\n" faults "${faults}")
      string(APPEND failures "run ${number}: simulator faults:\n${faults}\n")
    endif()
  endif()
  set(run ${number})
endwhile()

if(DEFINED SAME_FILES)
  string(REPLACE "=" ";" same "${SAME_FILES}")
  list(GET same 0 first)
  list(GET same 1 second)
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files "${WORK}/${first}" "${WORK}/${second}"
                  RESULT_VARIABLE different)
  if(NOT different EQUAL 0)
    string(APPEND failures "${first} and ${second} differ\n")
  endif()
endif()

if(TRACE)
  file(STRINGS "${WORK}/lines.vcd" definitions REGEX "^\\$(timescale|enddefinitions)")
  if(NOT definitions STREQUAL "$timescale 1 us $end;$enddefinitions $end")
    string(APPEND failures "${WORK}/lines.vcd lacks a VCD header: ${definitions}\n")
  endif()
endif()

if(failures)
  # NOTICE keeps the diff's lines as they are; FATAL_ERROR would reflow them.
  message(NOTICE "${failures}")
  message(FATAL_ERROR "scenario ${NAME} failed")
endif()
