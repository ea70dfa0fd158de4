#!/usr/bin/env bash
# morvane-par on this machine with GNU parallel: the merged files are one run's,
# byte for byte, for each program and many splits into windows and tasks;
# arguments are read and refused as the program does; --status reads a run
# without touching it; a run stopped by Ctrl-C, by a kill of morvane-par or of
# a task mid-window, or left with a damaged checkpoint, started again with the
# same command, runs only what is missing and gives the same files.
#
# Usage: par_runs.sh BUILD_DIR     (with morvane, morvane-l, morvane-x where
#                                   built, morvane-merge, morvane-check and
#                                   morvane-par)
set -u
. "$(dirname "$0")/../../tests/checks.sh"
build=$(cd "$1" && pwd)
par=$build/morvane-par
command -v parallel >/dev/null || { echo "GNU parallel not found: install parallel"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
is() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }

# same_as_one_run PROGRAM ARGS... -- PAR_OPTIONS...: morvane-par leaves the
# files of PROGRAM ARGS in an empty folder, and nothing else.
same_as_one_run() {
    local program=$1
    shift
    local args=()
    while [ "$1" != -- ]; do args+=("$1"); shift; done
    shift
    rm -rf "$work/one" "$work/par"
    mkdir "$work/one" "$work/par"
    (cd "$work/one" && "$build/$program" "${args[@]}") || { echo "  $program failed"; return 1; }
    (cd "$work/par" && "$par" "$@" "$program" "${args[@]}" > "$work/out" 2> "$work/err") ||
        { echo "  morvane-par failed:"; cat "$work/out" "$work/err"; return 1; }
    is "$(ls "$work/par")" "$(ls "$work/one")" || return 1
    for f in "$work/one"/*; do cmp "$f" "$work/par/${f##*/}" || return 1; done
    is "$(cat "$work/out" "$work/err")" ""
}

programs=morvane
[ -x "$build/morvane-l" ] && programs="$programs morvane-l"
[ -x "$build/morvane-x" ] && programs="$programs morvane-x"
for program in $programs; do
    check "$program 97 2000000 0 in 7 windows, one task each" same_as_one_run $program 97 2000000 0 -- -w 7
    check "$program 97 2000000 0 in 40 windows, 3 tasks" same_as_one_run $program 97 2000000 0 -- -w 40 -t 3
    check "$program 3 200000 in 13 windows on one job (ties)" same_as_one_run $program 3 200000 -- -w 13 -j 1
    check "$program 2 100000 999 in 50 windows, 4 tasks (ties at every multiple of 4)" \
        same_as_one_run $program 2 100000 999 -- -w 50 -t 4
    check "$program 97 300: windows of length 1, 5 tasks" same_as_one_run $program 97 300 -- -w 299 -t 5
    check "$program 97 3000 2900: a window per task, most without a record of the run" \
        same_as_one_run $program 97 3000 2900 -- -w 101 -t 101
    check "$program ' 7' (no p text) in 4 windows" same_as_one_run $program ' 7' 5000 -- -w 4
    check "$program 097 with the default N in 3 windows" same_as_one_run $program 097 -- -w 3
    check "$program 97 1000000 (short: one run)" same_as_one_run $program 97 1000000 --
done
if [ -x "$build/morvane-l" ]; then
    check "morvane-l 97 20000000000: windows as planned, with a head task" \
        same_as_one_run morvane-l 97 20000000000 --
fi
check "morvane 97 -1 4294900000: the top of 32 bits, 5 windows" \
    same_as_one_run morvane 97 -1 4294900000 -- -w 5
check "morvane 2 -1 4294000000: windows of 1000 n up to 2^32 - 1, 4 tasks" \
    same_as_one_run morvane 2 -1 4294000000 -- -w 967 -t 4
for program in morvane-l morvane-x; do
    [ -x "$build/$program" ] || continue
    check "$program 2 across 2^32 in 6 windows" same_as_one_run $program 2 4295000000 4294900000 -- -w 6
    check "$program 97 -1 -551616: the top of 64 bits, 40 windows in 3 tasks" \
        same_as_one_run $program 97 -1 -551616 -- -w 40 -t 3
done
if [ -x "$build/morvane-x" ]; then
    # The exact excess repeats: windows over one period after nmin, the count
    # at N by inclusion and exclusion.
    check "morvane-x 3 100000 10: 36 windows over the period, 4 tasks" \
        same_as_one_run morvane-x 3 100000 10 -- -w 36 -t 4
    check "morvane-x 13 -1: the period of 901800900 n in 8 windows" same_as_one_run morvane-x 13 -1 -- -w 8
    check "morvane-x 13 -1 as planned (one window: run directly)" same_as_one_run morvane-x 13 -1 --
    # p = 23: a period of about 5e16; windows across n = P itself.
    check "morvane-x 23 across n = 223092870^2 in 9 windows" \
        same_as_one_run morvane-x 23 49770428644836900 49770428644736900 -- -w 9 -t 3
    # With the record runs: window edges inside the first run of 8 (windows of
    # one or two n), cubes in many windows, and a period stop with runs.
    check "morvane-x -r all: edges inside the run of 8 at 1092747, 20 windows in 4 tasks" \
        same_as_one_run morvane-x -r all 1092770 1092740 -- -w 20 -t 4
    check "morvane-x -r -k 3 all 3000000 0 in 40 windows, 3 tasks" \
        same_as_one_run morvane-x -r -k 3 all 3000000 0 -- -w 40 -t 3
    check "morvane-x -k 3 -r 5 100000 7: the period with its runs in 9 windows" \
        same_as_one_run morvane-x -k 3 -r 5 100000 7 -- -w 9 -t 2
fi

# Arguments as the program reads them; refusals with its message and status,
# and nothing written.
refused() {  # refused STATUS EXPECTED_OUTPUT ARGS...
    local status=$1 expected=$2
    shift 2
    rm -rf "$work/r" && mkdir "$work/r"
    local out got
    out=$(cd "$work/r" && "$par" "$@" 2>/dev/null)
    got=$?
    is "$got" "$status" && is "$out" "$expected" && is "$(ls -A "$work/r")" ""
}
check "p out of range: the program's message, status 1" refused 1 "Error: value of p out of range" morvane 98
check "N too small (2^32 is 0 in morvane)" refused 1 "Error: value of N too small" morvane 5 4294967296
check "nmin above N" refused 1 "Error: The value specified for n1 is larger than N" morvane-l 5 10 11
check "no p: the usage text, status 0" sh -c "'$par' morvane | grep -q '^Usage: morvane-par'"
check "an unknown program: status 2" refused 2 "" nonesuch 97
check "an unknown option: status 2" refused 2 "" -x morvane 97
check "-w above 10^18: status 2" refused 2 "" -w 1000000000000000001 morvane 97
check "-t 0: status 2" refused 2 "" -t 0 morvane 97
check "--wait without --slurm: status 2" refused 2 "" --wait morvane 97
check "--status with -w: status 2" refused 2 "" --status -w 3 morvane 97
check "--status of no run: status 1" refused 1 "" --status morvane 97 5000

# Stopping and resuming, on a run of a few seconds on two cores: 400 windows
# in 4 tasks. A stopped task loses the window it was in and those it merged
# since it last replaced its checkpoint, which it does at most every twenty
# times a replacement's time (a few windows of these). The tasks' logs tell
# which windows were scanned: morvane-par is
# reached through a link beside a morvane-merge that keeps a copy of them
# before the final merge, after which the work folder is gone.
bin=$work/bin
mkdir "$bin"
ln -s "$par" "$bin/morvane-par"
for tool in morvane-check morvane morvane-l morvane-x; do
    [ ! -x "$build/$tool" ] || ln -s "$build/$tool" "$bin/$tool"
done
cat > "$bin/morvane-merge" <<EOF
#!/bin/sh
if [ "\$1" = --finish ]; then rm -rf "$work/kept"; cp -r "\$2" "$work/kept"; fi
exec "$build/morvane-merge" "\$@"
EOF
chmod +x "$bin/morvane-merge"
par=$bin/morvane-par
long=morvane N=4000000000
if [ -x "$build/morvane-l" ]; then long=morvane-l N=60000000000; fi
run_args=(-j 2 -w 400 -t 4 $long 97 $N)
work_name=morvane-par.$long.97-1.$N.work
one=$work/one-long
mkdir "$one"
(cd "$one" && "$build/$long" 97 $N)
same_files() {  # same_files FOLDER: one run's two files, and nothing else
    is "$(ls -A "$1")" "$(ls -A "$one")" || return 1
    for f in "$one"/*; do cmp "$f" "$1/${f##*/}" || return 1; done
}
scanned() {  # the windows scanned in all, over every start, by the last run
    cat "$work"/kept/task-*.log | grep -c '^window '
}
# start FOLDER: morvane-par in the background, in a process group of its own,
# until some windows are done; its pid in $pid.
start() {
    mkdir -p "$1"
    set -m
    (cd "$1" && exec "$par" "${run_args[@]}") > "$work/out" 2>&1 &
    pid=$!
    set +m
    for _ in $(seq 300); do
        [ "$(cat "$1"/*.work/task-*.log 2>/dev/null | grep -c '^window ')" -ge 20 ] && return 0
        sleep 0.05
    done
    echo "  no window done after 15 s"
    return 1
}
# again FOLDER: the same command again, to the end; one run's files.
again() {
    (cd "$1" && "$par" "${run_args[@]}") > "$work/again" 2>&1 ||
        { echo "  the second run failed:"; cat "$work/again"; return 1; }
    same_files "$1"
}

# Ctrl-C: the whole group gets SIGINT, as from a terminal.
interrupted() {
    local run=$work/int
    start "$run" || return 1
    kill -INT -- -"$pid"
    wait "$pid"
    local stopped=$?
    [ "$stopped" -ne 0 ] || { echo "  the stopped run ended with status 0"; return 1; }
    grep -q 'run the same command again to go on' "$work/out" || { cat "$work/out"; return 1; }
    # --status, read-only: the windows done, no task running.
    local before
    before=$(cd "$run" && ls -l --time-style=+%s.%N *.work)
    (cd "$run" && "$par" --status $long 97 $N) > "$work/status" ||
        { cat "$work/status"; return 1; }
    grep -q '^windows: [1-9][0-9]* of 400 done$' "$work/status" &&
        grep -q '^time left: .* of one core; no task is running now$' "$work/status" ||
        { cat "$work/status"; return 1; }
    is "$(cd "$run" && ls -l --time-style=+%s.%N *.work)" "$before" ||
        { echo "  --status changed the work folder"; return 1; }
    again "$run" || return 1
    grep -q '^morvane-par: [1-9][0-9]* of 400 windows done before' "$work/again" ||
        { echo "  no windows done before:"; cat "$work/again"; return 1; }
    # Each task lost at most a few windows.
    local total
    total=$(scanned)
    [ "$total" -le 440 ] || { echo "  $total windows scanned for 400"; return 1; }
}
check "stopped by Ctrl-C, started again: one run's bytes, each task lost a few windows at most" interrupted

# SIGKILL of morvane-par's whole process group (a closed terminal session, a
# killed job step), GNU parallel with it, mid-window, in windows of several
# seconds: the tasks, in process groups of their own, stop within a second or
# so, each with a whole checkpoint, and the same command at once ends with one
# run's bytes.
running() {  # running PID: the process exists and is not a zombie
    [ -r "/proc/$1/stat" ] && [ "$(sed 's/^.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)" != Z ]
}
driver_killed() {
    local run=$work/kill N_kill=200000000000 run_args
    [ -x "$build/morvane-l" ] || { echo "  (needs morvane-l)"; return 0; }
    run_args=(-j 2 -w 4 -t 2 morvane-l 97 $N_kill)  # windows of 5e10 n: seconds each
    mkdir -p "$run" "$work/one-kill"
    (cd "$work/one-kill" && "$build/morvane-l" 97 $N_kill) &
    local one_pid=$!
    set -m
    (cd "$run" && exec "$par" "${run_args[@]}") > "$work/out" 2>&1 &
    pid=$!
    set +m
    local folder=$run/morvane-par.morvane-l.97-1.$N_kill.work pids=
    for _ in $(seq 300); do
        pids=$(sed -n 's/^start \([0-9]*\) .*/\1/p' "$folder"/task-*.log 2>/dev/null)
        [ "$(printf '%s\n' $pids | grep -c .)" -ge 2 ] && break
        sleep 0.1
    done
    [ "$(printf '%s\n' $pids | grep -c .)" -ge 2 ] || { echo "  the tasks did not start"; return 1; }
    sleep 1
    kill -KILL -- -"$pid"
    wait "$pid" 2>/dev/null
    # A task that has ended but is not yet reaped is a zombie, which kill -0
    # still finds: the tasks' parents are gone, and whoever adopts them (the
    # container's first process, a subreaper) may reap them a second or two
    # later. A zombie runs nothing. A task stops at the end of its current
    # chunk once its watch (five times a second) has seen morvane-par gone:
    # well under a second here, but a machine busy with the other tests has
    # taken more than 2 s, so the bound is 10 s.
    local task tries
    for task in $pids; do
        for tries in $(seq 50); do
            running "$task" || break
            sleep 0.2
        done
        ! running "$task" || { echo "  task $task still runs 10 s after"; return 1; }
    done
    (cd "$run" && "$par" "${run_args[@]}") > "$work/again" 2>&1 ||
        { echo "  the same command again failed:"; cat "$work/again"; return 1; }
    wait "$one_pid" || return 1
    is "$(ls -A "$run")" "$(ls -A "$work/one-kill")" || return 1
    for f in "$work/one-kill"/*; do cmp "$f" "$run/${f##*/}" || return 1; done
}
check "SIGKILL to morvane-par's process group mid-window: no task 10 s later; the same command at once: one run's bytes" driver_killed

# SIGKILL of one task mid-window: parallel stops the others, morvane-par
# fails; the same command again goes on from every checkpoint.
task_killed() {
    local run=$work/task
    start "$run" || return 1
    local task_pid
    task_pid=$(sed -n 's/^start \([0-9]*\) .*/\1/p' "$run"/*.work/task-1.log | tail -n 1)
    [ -n "$task_pid" ] || { echo "  no pid in task 1's log"; return 1; }
    kill -KILL "$task_pid"
    wait "$pid"
    is "$?" 1 || return 1
    grep -q 'a task failed or the run was stopped' "$work/out" || { cat "$work/out"; return 1; }
    local done_before
    done_before=$(grep -c '^window ' "$run"/*.work/task-1.log)
    [ "$done_before" -gt 0 ] || { echo "  task 1 had merged no window"; return 1; }
    # Task 1's second start: after its last window in the checkpoint (window
    # 100 is its first), at most one more than it logged (the kill came after
    # the renames, before the log), and not from its first window: it kept
    # windows. How many it lost depends on the disk: the checkpoint is
    # replaced once the time since the last replacement is twenty times what
    # that one took, a few windows of these on a quiet disk, more under load.
    again "$run" || return 1
    local resumed
    resumed=$(sed -n 's/^start [0-9]* [0-9.]* \([0-9]*\) .*/\1/p' "$work/kept/task-1.log" | tail -n 1)
    [ "$resumed" -le $((101 + done_before)) ] && [ "$resumed" -gt 100 ] ||
        { echo "  task 1 went on at window '$resumed' after $done_before windows"; return 1; }
    local total
    total=$(scanned)
    [ "$total" -le 440 ] || { echo "  $total windows scanned for 400"; return 1; }
}
check "a task killed (SIGKILL) mid-window, started again: one run's bytes" task_killed

# A checkpoint left cut short, and a temporary of one left half written: the
# task says so and starts again; one run's bytes.
damaged() {
    local run=$work/damaged
    start "$run" || return 1
    kill -INT -- -"$pid"
    wait "$pid"
    local q
    q=$(ls "$run"/*.work/maxdevQ_97-*.txt | head -n 1)
    local size
    size=$(stat -c %s "$q")
    truncate -s $((size - 2)) "$q"
    printf '12 3' > "$(dirname "$q")/.$(basename "$q").merge-x1y2z3"
    again "$run" || return 1
    grep -q "incomplete.*the task starts again from its first window" "$work/again" ||
        { cat "$work/again"; return 1; }
}
check "a checkpoint cut short and a half-written temporary: the task starts again" damaged

# A task that cannot write its checkpoint (a folder in its place) fails the
# run; once that is mended the same command runs only the tasks not done.
task_fails() {
    local run=$work/fails run_args=(-j 1 -w 400 -t 4 $long 97 $N)
    # Task 3 starts at window 300.
    local name
    name=maxdevF_97-$((2 + (N - 1) * 300 / 400)).txt
    mkdir -p "$run/$work_name/$name"
    (cd "$run" && "$par" "${run_args[@]}") > "$work/out" 2>&1
    is "$?" 1 || return 1
    grep -q "$name" "$work/out" || { cat "$work/out"; return 1; }
    rmdir "$run/$work_name/$name"
    again "$run" || return 1
    grep -q 'running the rest in 1 of 4 tasks' "$work/again" || { cat "$work/again"; return 1; }
}
check "a task that fails fails the run; the same command again runs what is missing" task_fails

# A run whose work folder was planned otherwise: other -w refused, none goes on.
replanned() {
    local run=$work/replanned
    mkdir "$run"
    start "$run" || return 1
    kill -INT -- -"$pid"
    wait "$pid"
    (cd "$run" && "$par" -j 2 -w 300 -t 4 $long 97 $N) > "$work/out" 2>&1
    is "$?" 1 && grep -q 'planned as 400 windows in 4 tasks' "$work/out" || { cat "$work/out"; return 1; }
    (cd "$run" && "$par" -j 1 $long 97 $N) > "$work/again" 2>&1 ||
        { cat "$work/again"; return 1; }
    same_files "$run"
}
check "a run planned otherwise: another -w refused; without -w and -t it goes on" replanned

check "--status of a finished run" sh -c "cd '$work/replanned' && '$par' --status $long 97 $N | grep -q 'the run is done'"

if [ -x "$build/morvane-x" ]; then
    # Other sets and powers: the power after the program, every prime, p past 97.
    check "morvane-x -k 3 all 3000000 in 9 windows, 3 tasks" \
        same_as_one_run morvane-x -k 3 all 3000000 -- -w 9 -t 3
    check "morvane-x all, 3*10^5 n from 10^15, in 7 windows" \
        same_as_one_run morvane-x all 1000000000300000 1000000000000000 -- -w 7
    check "morvane-x -k4 1000 2000000 in 5 windows" same_as_one_run morvane-x -k4 1000 2000000 -- -w 5
    check "morvane-x -k 3 all 2000000 (short: one run)" same_as_one_run morvane-x -k 3 all 2000000 --
    check "morvane-x -k 64: the program's message, status 1" \
        refused 1 "Error: value of k out of range" morvane-x -k 64 all
    check "morvane-x -k 3 alone: the usage text, status 0" \
        sh -c "'$par' morvane-x -k 3 | grep -q '^Usage: morvane-par'"

    # Every prime's cubes stopped by Ctrl-C and started again: one run's bytes;
    # --status names the run by its power.
    run_args=(-j 2 -w 200 -t 4 morvane-x -k 3 all 400000000000)
    one=$work/one-cubes
    mkdir "$one"
    (cd "$one" && "$build/morvane-x" -k 3 all 400000000000)
    cubes_resumed() {
        local run=$work/cubes
        start "$run" || return 1
        kill -INT -- -"$pid"
        wait "$pid"
        [ -d "$run/morvane-par.morvane-x.allk3-1.400000000000.work" ] || { ls "$run"; return 1; }
        (cd "$run" && "$par" --status morvane-x -k 3 all 400000000000) > "$work/status" &&
            grep -q '^windows: [1-9][0-9]* of 200 done$' "$work/status" || { cat "$work/status"; return 1; }
        again "$run" || return 1
        grep -q '^morvane-par: [1-9][0-9]* of 200 windows done before' "$work/again" ||
            { cat "$work/again"; return 1; }
        "$build/morvane-check" morvane-x -k 3 "$run"/maxdev*
    }
    check "morvane-x -k 3 all 4*10^11 stopped by Ctrl-C, started again: one run's bytes, checked" \
        cubes_resumed
fi

tally
