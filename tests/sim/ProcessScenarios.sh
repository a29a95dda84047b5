#!/bin/sh
# flashlock on the simulated board as separate processes, for what only
# processes show: runs that share a state file, a run killed mid-way, and a
# run whose saves the system refuses.
#
#   sh ProcessScenarios.sh <flashlock> <folder of the simulator's libio.so> <scratch folder> <scenario>
#
# Scenarios: turns (two runs started one after the other on one state file),
# races (pairs started together), killed-trace (SIGKILL while the program
# waits at its menu), file-limit (the state cannot be saved in full),
# open-files (no descriptor left for the log).
set -u
program=$1
sim_dir=$2
work=$3
scenario=$4

rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
unset FLASHLOCK_SIM_BOARD FLASHLOCK_SIM_CHIP FLASHLOCK_SIM_TRACE FLASHLOCK_SIM_LOG FLASHLOCK_SIM_BUSY \
    FLASHLOCK_SIM_VPEN FLASHLOCK_SIM_STUCK_BLOCK FLASHLOCK_SIM_MASTER_LOCK FLASHLOCK_SIM_ERASE_FAIL FLASHLOCK_SIM_PROGRAM_FAIL FLASHLOCK_SIM_WEAK_BLOCK \
    FLASHLOCK_SIM_PROTECTED FLASHLOCK_SIM_ADDRESS_REGISTER FLASHLOCK_PARPORT FLASHLOCK_IO
LD_LIBRARY_PATH=$sim_dir
FLASHLOCK_SIM_STATE=$work/state.txt
FLASHLOCK_JOURNAL_DIR=$work/journal
export LD_LIBRARY_PATH FLASHLOCK_SIM_STATE FLASHLOCK_JOURNAL_DIR

failures=0
fail() {
    echo "FAILED: $*"
    failures=$((failures + 1))
}

# run NAME INPUT: one run of the dialogue, typed input as printf gives it.
run() {
    printf "$2" | FLASHLOCK_SIM_LOG=$work/$1.log "$program" >"$work/$1.out" 2>"$work/$1.err"
    echo $? >"$work/$1.status"
}

# Block [1]'s lock status in the NAMEd run's first block report.
first_report() {
    grep -m1 '^\[1\]  0x00: ' "$work/$1.out" | cut -c12-13
}

# The runs a correct program makes have no faults and end with status 0.
clean() {
    for name in "$@"; do
        [ "$(cat "$work/$name.status")" = 0 ] || fail "$name: exit status $(cat "$work/$name.status")"
        if grep -q FAULT "$work/$name.log"; then
            fail "$name: simulator faults: $(grep FAULT "$work/$name.log")"
        fi
    done
}

waits_in() {
    grep -c "waiting for another run that uses FLASHLOCK_SIM_STATE=\"$FLASHLOCK_SIM_STATE\" to end" "$work/$1.err"
}

no_temporary_files() {
    leftover=$(find "$work" -name '*.tmp')
    [ -z "$leftover" ] || fail "temporary files left: $leftover"
}

# The state file as a third run reads it: it must load, and say LOCKED.
state_is() {
    run check 'x\n'
    clean check
    [ -s "$work/check.err" ] && fail "the state file no longer loads: $(cat "$work/check.err")"
    [ "$(first_report check)" = "$1" ] || fail "block 1 reads $(first_report check) after $2, expected $1"
}

case $scenario in
turns)
    # The second run starts while the first holds the state file: it waits,
    # says so once, and then starts from the first run's change.
    for order in "b c 01 00" "c b 00 01"; do
        set -- $order
        printf 'flashlock-sim-state 1\nchip 28F320J3\nlocked 5\n' >state.txt
        rm -f ./*.log
        run first "$1\nx\n" &
        first=$!
        tries=0
        while [ ! -s first.log ] && [ $tries -lt 500 ]; do
            sleep 0.01
            tries=$((tries + 1))
        done
        run second "$2\nx\n"
        wait $first
        clean first second
        [ -s first.err ] && fail "$1 then $2: the first run wrote to standard error: $(cat first.err)"
        [ "$(waits_in second)" = 1 ] || fail "$1 then $2: the second run did not say once that it waits: $(cat second.err)"
        [ "$(first_report second)" = "$3" ] || fail "$1 then $2: the second run did not start from the first's change"
        state_is "$4" "$1 then $2"
    done
    no_temporary_files
    ;;
races)
    # Started together: one waits for the other, and the state is the later
    # run's, whole.
    pair=0
    while [ $pair -lt 4 ]; do
        pair=$((pair + 1))
        printf 'flashlock-sim-state 1\nchip 28F320J3\n' >state.txt
        run set 'b\nx\n' &
        setter=$!
        run clear 'c\nx\n' &
        clearer=$!
        wait $setter $clearer
        clean set clear
        waited=$(($(waits_in set) + $(waits_in clear)))
        [ $waited = 1 ] || fail "pair $pair: $waited runs said they wait, expected 1"
        if [ "$(waits_in clear)" = 1 ]; then expected=00; else expected=01; fi
        state_is $expected "pair $pair"
    done
    no_temporary_files
    ;;
killed-trace)
    # Killed while it waits for the operator: the waveform holds everything
    # up to there and ends at a line boundary.
    mkfifo input
    FLASHLOCK_SIM_TRACE=$work/lines.vcd FLASHLOCK_SIM_LOG=$work/run.log "$program" <input >run.out 2>run.err &
    pid=$!
    exec 3>input
    tries=0
    while ! grep -q "Exit - enter 'x'" run.out && [ $tries -lt 1000 ]; do
        sleep 0.01
        tries=$((tries + 1))
    done
    kill -9 $pid
    wait $pid
    exec 3>&-
    [ "$(tail -c 1 lines.vcd | od -An -c | tr -d ' ')" = '\n' ] || fail "the waveform does not end at a line boundary"
    # bus.cycle is the 14th signal, id '.': one non-zero value per cycle and probe.
    cycles=$(grep -c '^b[01]*1[01]* \.$' lines.vcd)
    logged=$(grep -c -E '  (read  0x|write 0x|probe: status)' run.log)
    [ "$cycles" -gt 0 ] && [ "$cycles" = "$logged" ] ||
        fail "the waveform shows $cycles bus cycles and probes, the log $logged"
    ;;
file-limit)
    # Saves that the system cuts short (here a file size limit, as a full
    # disk would): the old state stays whole and the run says so.
    awk 'BEGIN { print "flashlock-sim-state 1"; print "chip 28F320J3";
                 for (row = 0; row < 131072; row++) printf "array %06X 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F\n", row * 16 }' \
        >state.txt
    cp state.txt before.txt
    (
        trap '' XFSZ
        ulimit -f 4000
        run limited 'b\nx\n'
    )
    cmp -s state.txt before.txt || fail "the state file changed although its save failed"
    grep -q "FLASHLOCK_SIM_STATE=\"$FLASHLOCK_SIM_STATE\": cannot write .* to its end (is the disk full?); the change is kept for this run only" limited.err ||
        fail "no clear line on the failed save: $(cat limited.err)"
    [ "$(cat limited.status)" = 0 ] || fail "exit status $(cat limited.status)"
    no_temporary_files
    ;;
open-files)
    # Five descriptors: the standard three, the state's lock and one more
    # (the waveform, or a descriptor the shell keeps). Some file then cannot
    # be opened, and the line says why rather than blaming the folder.
    printf 'flashlock-sim-state 1\nchip 28F320J3\n' >state.txt
    printf 'x\n' >input.txt
    (
        # The shell needs descriptors of its own for redirections: they come first.
        exec <input.txt >run.out 2>run.err
        # Whatever this script inherited (a descriptor that /usr/bin/time -o
        # or a CI runner keeps open) would take one of the five: closed first.
        # Under a limit of 5 only 3 and 4 matter; the rest go for tidiness.
        exec 3>&- 4>&- 5>&- 6>&- 7>&- 8>&- 9>&-
        ulimit -n 5
        FLASHLOCK_SIM_TRACE=$work/lines.vcd FLASHLOCK_SIM_LOG=$work/run.log exec "$program"
    )
    echo $? >run.status
    grep -q -E "^flashlock simulator: FLASHLOCK_SIM_(STATE|TRACE|LOG)=\"$work/[a-z.]+\":? cannot be (read|opened for writing): Too many open files; the simulated port is not usable" run.err ||
        fail "no clear line on the descriptor limit: $(cat run.err)"
    [ "$(cat run.status)" = 1 ] || fail "exit status $(cat run.status), expected 1 (no board answers)"
    ;;
*)
    fail "no scenario $scenario"
    ;;
esac

[ $failures = 0 ] || exit 1
echo "scenario $scenario passed"
