#!/usr/bin/env bash
# morvane-par --double-check, with GNU parallel or (slurm) on a running Slurm
# cluster, for every program built: on a finished run, the same bytes and
# status 0; a record line deleted from the middle of the Q file (the file
# otherwise sound: morvane-check passes it) and a count altered with its
# excess recomputed to match are each found and named, file and line, with
# status 1, and neither run's files touched; the same command, the files
# mended, agrees, from the second scan already done. In a folder where the
# run is not done, the run and then its double check. With GNU parallel also:
# --status of a double check stopped midway, and the same command going on.
#
# Usage: par_double_check.sh BUILD_DIR [slurm]
# With slurm and without a cluster it is skipped (status 77), unless
# MORVANE_REQUIRE_SLURM=1.
set -u
. "$(dirname "$0")/../../tests/checks.sh"
build=$(cd "$1" && pwd)
mode=${2:-parallel}
par=$build/morvane-par
backend=()
if [ "$mode" = slurm ]; then
    if ! command -v sbatch >/dev/null || ! sinfo -h >/dev/null 2>&1; then
        echo "no Slurm cluster answers (start one with .ci/slurm-up and export SLURM_CONF)"
        [ "${MORVANE_REQUIRE_SLURM:-0}" = 1 ] && exit 1
        exit 77
    fi
    backend=(--slurm --wait)
else
    command -v parallel >/dev/null || { echo "GNU parallel not found: install parallel"; exit 1; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
is() { [ "$1" = "$2" ] || { echo "  got '$1', expected '$2'"; return 1; }; }

# The run's files, their bytes and times, and nothing else in the folder but
# the double check's own work folder.
snapshot() {  # snapshot FOLDER
    (cd "$1" && ls -l --time-style=+%s.%N maxdev* && md5sum maxdev*)
}

# double_check FOLDER PROGRAM ARGS...: morvane-par --double-check there; its
# status in $status, standard output and error in $work/out.
double_check() {
    local folder=$1
    shift
    (cd "$folder" && timeout 600 "$par" --double-check "${backend[@]}" -w 5 "$@") \
        > "$work/out" 2>&1
    status=$?
}

agrees() {  # agrees FOLDER PROGRAM ARGS...
    local before
    before=$(snapshot "$1")
    double_check "$@"
    is "$status" 0 || { cat "$work/out"; return 1; }
    grep -q "double check: maxdevQ_97-0.txt and maxdevF_97-0.txt agree byte for byte" "$work/out" ||
        { cat "$work/out"; return 1; }
    # Here, the engine copy the second scan ran.
    [ "$mode" = slurm ] || grep -q "engine copy \(baseline\|x86-64-v[34]\))$" "$work/out" ||
        { cat "$work/out"; return 1; }
    is "$(snapshot "$1")" "$before" || return 1
    is "$(ls -A "$1")" "$(printf 'maxdevF_97-0.txt\nmaxdevQ_97-0.txt')"
}

# finds FOLDER FILE LINE PROGRAM ARGS...: status 1, the file and the line
# named, nothing of the run touched.
finds() {
    local folder=$1 file=$2 line=$3
    shift 3
    local before
    before=$(snapshot "$folder")
    double_check "$folder" "$@"
    is "$status" 1 || { cat "$work/out"; return 1; }
    grep -q "double check: $file differs from the second scan's at line $line: " "$work/out" ||
        { echo "  expected $file, line $line:"; cat "$work/out"; return 1; }
    is "$(snapshot "$folder")" "$before"
}

programs=morvane
[ -x "$build/morvane-l" ] && programs="$programs morvane-l"
[ -x "$build/morvane-x" ] && programs="$programs morvane-x"
args=(97 3000000 0)
for program in $programs; do
    run=$work/$program
    mkdir -p "$run" "$work/one-$program"
    (cd "$work/one-$program" && "$build/$program" "${args[@]}") || exit 1
    cp "$work/one-$program"/* "$run"
    q=$run/maxdevQ_97-0.txt
    records=$(($(wc -l < "$q") - 1))
    middle=$((records / 2))

    check "$program: --double-check of a finished run: the same bytes, status 0" \
        agrees "$run" $program "${args[@]}"

    # A record line deleted from the middle: every line left is sound.
    deleted() {
        sed -i "${middle}d" "$q"
        "$build/morvane-check" $program "$q" "$run/maxdevF_97-0.txt" > /dev/null ||
            { echo "  morvane-check refuses the file with a line deleted"; return 1; }
        finds "$run" maxdevQ_97-0.txt $middle $program "${args[@]}" || return 1
        # Mended, the same command agrees, from the second scan already made.
        cp "$work/one-$program/maxdevQ_97-0.txt" "$q"
        agrees "$run" $program "${args[@]}"
    }
    check "$program: a Q record line deleted from the middle: found, named, status 1" deleted

    # A count one more and the excess one more, where the next record still
    # beats it (the last record, else one before it): a line the program
    # could have written at that n and count (morvane-merge, which checks
    # every excess, takes the file).
    altered() {
        local at n count e whole
        for ((at = records; at > 1; at--)); do
            read -r n count e < <(sed -n "${at}p" "$work/one-$program/maxdevQ_97-0.txt")
            whole=${e%%.*}
            [ "${whole#-}" = "$whole" ] || continue
            cp "$work/one-$program/maxdevQ_97-0.txt" "$q"
            sed -i "${at}s/.*/$n $((count + 1)) $((whole + 1)).${e#*.}/" "$q"
            rm -rf "$work/m" && mkdir "$work/m"
            (cd "$work/m" && "$build/morvane-merge" $program "$q" "$run/maxdevF_97-0.txt") \
                > /dev/null 2>&1 && break
        done
        [ "$at" -gt 1 ] || { echo "  no line could be altered soundly"; return 1; }
        finds "$run" maxdevQ_97-0.txt $at $program "${args[@]}" || return 1
        cp "$work/one-$program/maxdevQ_97-0.txt" "$q"
        agrees "$run" $program "${args[@]}"
    }
    check "$program: a count altered, its excess recomputed to match: found, named, status 1" altered
done

program=morvane
[ -x "$build/morvane-l" ] && program=morvane-l
# Where the run is not done: the run, then its double check (on Slurm, the
# second scan's tasks beside the run's, the comparison after both).
not_done() {
    mkdir "$work/fresh"
    double_check "$work/fresh" $program "${args[@]}"
    is "$status" 0 || { cat "$work/out"; return 1; }
    grep -q "double check: maxdevQ_97-0.txt and maxdevF_97-0.txt agree byte for byte" \
        "$work/out" || { cat "$work/out"; return 1; }
    is "$(ls -A "$work/fresh")" "$(ls -A "$work/one-$program")" || return 1
    for f in "$work/one-$program"/*; do cmp "$f" "$work/fresh/${f##*/}" || return 1; done
    [ "$mode" = parallel ] || {
        grep -q '^windows: job [0-9]* (5 tasks)$' "$work/out" &&
            grep -q '^double check: job [0-9]* ([0-9]* tasks)$' "$work/out" &&
            grep -q '^compare: job [0-9]*$' "$work/out"
    } || { cat "$work/out"; return 1; }
}
check "--double-check where the run is not done: the run, then the double check" not_done

if [ "$mode" = parallel ]; then

    # A double check stopped by Ctrl-C midway: --status shows it, the same
    # command goes on and agrees.
    stopped() {
        local run=$work/stopped N=20000000000 check_folder
        [ $program = morvane-l ] || N=4000000000
        mkdir "$run" "$work/one-stopped"
        (cd "$work/one-stopped" && "$build/$program" 97 $N) || return 1
        cp "$work/one-stopped"/* "$run"
        check_folder=$run/morvane-par.$program.97-1.$N.check
        set -m
        (cd "$run" && exec "$par" --double-check -j 2 -w 200 -t 4 $program 97 $N) \
            > "$work/out" 2>&1 &
        local pid=$!
        set +m
        for _ in $(seq 300); do
            [ "$(cat "$check_folder"/task-*.log 2>/dev/null | grep -c '^window ')" -ge 10 ] && break
            sleep 0.05
        done
        kill -INT -- -"$pid"
        wait "$pid"
        [ $? -ne 0 ] || { echo "  the stopped double check ended with status 0"; return 1; }
        (cd "$run" && "$par" --status $program 97 $N) > "$work/status" ||
            { cat "$work/status"; return 1; }
        grep -q 'the run is done' "$work/status" &&
            grep -q 'its double check, a second scan in' "$work/status" &&
            grep -q '^windows: [1-9][0-9]* of 201 done$' "$work/status" ||
            { cat "$work/status"; return 1; }
        (cd "$run" && "$par" --double-check -j 2 -w 200 -t 4 $program 97 $N) > "$work/out" 2>&1 ||
            { cat "$work/out"; return 1; }
        grep -q '[1-9][0-9]* of 201 windows done before' "$work/out" &&
            grep -q 'agree byte for byte with a second scan (201 windows' "$work/out" ||
            { cat "$work/out"; return 1; }
        for f in "$work/one-stopped"/*; do cmp "$f" "$run/${f##*/}" || return 1; done
        is "$(ls -A "$run")" "$(ls -A "$work/one-stopped")"
    }
    check "a double check stopped midway: --status shows it; the same command goes on and agrees" stopped
fi

tally
