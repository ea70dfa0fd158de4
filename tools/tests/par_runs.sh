#!/usr/bin/env bash
# morvane-par on this machine with GNU parallel: the merged files are one run's,
# byte for byte, for each program and several splits; arguments are read and
# refused as the program does; a run stopped by Ctrl-C or killed outright, and
# started again, reruns only the windows that were not done and gives the
# same files.
#
# Usage: par_runs.sh BUILD_DIR     (with morvane, morvane-l, morvane-x where
#                                   built, morvane-merge and morvane-par)
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
    check "$program 97 2000000 0 in 7 windows" same_as_one_run $program 97 2000000 0 -- -w 7
    check "$program 3 200000 in 13 windows on one job (ties)" same_as_one_run $program 3 200000 -- -w 13 -j 1
    check "$program 2 100000 999 in 50 windows (ties at every multiple of 4)" \
        same_as_one_run $program 2 100000 999 -- -w 50
    check "$program ' 7' (no p text) in 4 windows" same_as_one_run $program ' 7' 5000 -- -w 4
    check "$program 097 with the default N in 3 windows" same_as_one_run $program 097 -- -w 3
    check "$program 97 1000000 (short: one run)" same_as_one_run $program 97 1000000 --
done
if [ -x "$build/morvane-l" ]; then
    check "morvane-l 97 20000000000: windows as planned, with a head window" \
        same_as_one_run morvane-l 97 20000000000 --
fi
check "morvane 97 -1 4294900000: the top of 32 bits, 5 windows" \
    same_as_one_run morvane 97 -1 4294900000 -- -w 5
if [ -x "$build/morvane-l" ]; then
    check "morvane-l 2 across 2^32 in 6 windows" same_as_one_run morvane-l 2 4295000000 4294900000 -- -w 6
    check "morvane-l 97 -1 -551616: the top of 64 bits, 4 windows" \
        same_as_one_run morvane-l 97 -1 -551616 -- -w 4
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
check "-w above 1000: status 2" refused 2 "" -w 1001 morvane 97
check "--wait without --slurm: status 2" refused 2 "" --wait morvane 97

# Stopping and resuming. The programs are reached through wrappers beside a
# link to morvane-par, which finds them there: they log each window and, while
# the file hold exists, the window from nmin 30001 writes a cut line and waits.
bin=$work/bin
mkdir "$bin"
ln -s "$par" "$bin/morvane-par"
ln -s "$build/morvane-merge" "$bin/morvane-merge"
for program in $programs; do
    cat > "$bin/$program" <<EOF
#!/bin/sh
echo "\$3" >> "$work/log"
if [ "\$3" = 30001 ] && [ -e "$work/hold" ]; then
    echo \$\$ > "$work/held"
    printf '30003 11' > maxdevQ_97-30001.txt
    sleep 300
fi
if [ "\$3" = 1 ] && [ -e "$work/fail" ]; then exit 1; fi
exec "$build/$program" "\$@"
EOF
    chmod +x "$bin/$program"
done

# resume SIGNAL: a run of 6 windows stopped by SIGNAL once the other five are
# done, then the same command again.
resume() {
    local signal=$1 run=$work/resume-$1
    mkdir "$run"
    : > "$work/log"
    touch "$work/hold"
    set -m
    (cd "$run" && exec "$bin/morvane-par" -j 2 -w 6 morvane 97 60000) > "$work/out" 2>&1 &
    local pid=$!
    set +m
    local done=0
    for _ in $(seq 300); do
        done=$(cat "$run"/*.work/maxdevF_* 2>/dev/null | grep -c '^60000 \|^[0-9]*0000 [0-9]*$')
        [ "$(wc -l < "$work/log")" -ge 6 ] && [ "$done" -ge 5 ] && break
        sleep 0.1
    done
    # While it runs, the same run from a second morvane-par is refused.
    (cd "$run" && "$bin/morvane-par" -j 2 -w 6 morvane 97 60000) > "$work/second" 2>&1
    local second=$?
    kill -"$signal" -- -"$pid"
    wait "$pid"
    local stopped=$?
    rm -f "$work/hold"
    # GNU parallel runs each job in a process group of its own and ends them on
    # Ctrl-C; a kill of morvane-par and parallel leaves the job to the machine's
    # end, which here is this.
    local held
    held=$(cat "$work/held")
    [ "$signal" != KILL ] || kill -KILL -- -"$held"
    for _ in $(seq 100); do [ -e "/proc/$held" ] || break; sleep 0.1; done
    is "$second" 1 && grep -q 'in use' "$work/second" || return 1
    [ "$stopped" -ne 0 ] || { echo "  the stopped run ended with status 0"; return 1; }
    [ -d "$run"/*.work ] || { echo "  no work folder after the stop"; return 1; }
    : > "$work/log"
    (cd "$run" && "$bin/morvane-par" -j 2 -w 6 morvane 97 60000) > "$work/out" 2>&1 ||
        { echo "  the second run failed:"; cat "$work/out"; return 1; }
    is "$(cat "$work/log")" 30001 || return 1
    rm -rf "$work/one" && mkdir "$work/one"
    (cd "$work/one" && "$build/morvane" 97 60000)
    is "$(ls "$run")" "$(ls "$work/one")" || return 1
    cmp "$run/maxdevQ_97-1.txt" "$work/one/maxdevQ_97-1.txt" &&
        cmp "$run/maxdevF_97-1.txt" "$work/one/maxdevF_97-1.txt"
}
check "stopped by Ctrl-C (SIGINT), started again: only the unfinished window reruns" resume INT
check "killed (SIGKILL), started again: only the unfinished window reruns" resume KILL

# The head window, run beside GNU parallel, fails: the run fails and keeps the
# other windows; the same command again runs the head alone.
head_fails() {
    local run=$work/head
    mkdir "$run"
    : > "$work/log"
    touch "$work/fail"
    (cd "$run" && "$bin/morvane-par" morvane-l 97 20000000000) > "$work/out" 2>&1
    is "$?" 1 || return 1
    rm "$work/fail"
    is "$(sort -n "$work/log" | head -n 1)" 1 || return 1
    : > "$work/log"
    (cd "$run" && "$bin/morvane-par" morvane-l 97 20000000000) > "$work/out" 2>&1 ||
        { cat "$work/out"; return 1; }
    is "$(cat "$work/log")" 1 || return 1
    rm -rf "$work/one" && mkdir "$work/one"
    (cd "$work/one" && "$build/morvane-l" 97 20000000000)
    cmp "$run/maxdevQ_97-1.txt" "$work/one/maxdevQ_97-1.txt" &&
        cmp "$run/maxdevF_97-1.txt" "$work/one/maxdevF_97-1.txt"
}
if [ -x "$build/morvane-l" ]; then
    check "a failed head window alone runs again" head_fails
fi

tally
