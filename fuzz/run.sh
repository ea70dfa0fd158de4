#!/usr/bin/env bash
# Builds the three fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time from its seed
# corpus in fuzz/corpus/, two at a time. Any crash, sanitizer report or
# mismatch fails the run and leaves the input that caused it in build-fuzz/
# (crash-...), to replay with `build-fuzz/<target> build-fuzz/crash-...`.
#
#   bash fuzz/run.sh [seconds per target]     (default 25)
#
# The seed corpus is only read; what the fuzzer adds goes to a temporary folder.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-25}
out=$PWD/build-fuzz
mkdir -p "$out"

# As in every build: no contraction into fused multiply-add, no fast-math.
flags=(-std=c++20 -O1 -g -ffp-contract=off -fno-fast-math -Wall -Wextra
       -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all -I core -I tests)
# morvane-x's profile links MPFR, GMP and libprimesieve.
libs=(-lmpfr -lgmp -lprimesieve)
# Each command below is one process on one core: they run side by side, and
# each group waits for all of its members before the next starts.
together() {  # together NAME COMMAND...: runs COMMAND in the background, kept in pids
    "${@:2}" &
    pids+=($!)
    names+=("$1")
}
all_done() {  # all_done WHAT: waits for every pid; fails naming the ones that failed
    local i failed=0
    for i in "${!pids[@]}"; do
        wait "${pids[$i]}" || { echo "fuzz/run.sh: $1 ${names[$i]} failed" >&2; failed=1; }
    done
    pids=() names=()
    return "$failed"
}
pids=() names=()

# The library's sources (core/sources.txt), compiled once and instrumented as
# the targets are, then linked into each. The engine's inputs are a few
# integers: tracing comparisons costs about three quarters of its speed and
# finds nothing that random values do not.
library=()
for source in $(sed -n 's/^[a-z]* //p' core/sources.txt); do
    object=$out/$(basename "$source" .cpp).o
    together "$source" clang++ "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" \
        -fno-sanitize-coverage=trace-cmp -I include -DMORVANE_VERSION='"fuzz"' -c "$source" -o "$object"
    library+=("$object")
done
all_done "compiling" || exit 1

build() {  # build TARGET [FLAGS...]
    local target=$1
    shift
    clang++ "${flags[@]}" "$@" "fuzz/${target}_fuzz.cpp" "${library[@]}" -o "$out/${target}_fuzz" \
        "${libs[@]}"
}
together arguments build arguments
together engine build engine -fno-sanitize-coverage=trace-cmp
together check build check
all_done "building the fuzz target" || exit 1

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

run() {
    local target=$1 max_len=$2
    mkdir -p "$work/$target"
    echo "Fuzzing $target for $seconds s"
    # Absolute paths: the argument target leaves its working folder at start-up.
    if ! "$out/${target}_fuzz" -max_total_time="$seconds" -max_len="$max_len" -timeout=60 \
        -artifact_prefix="$out/" -print_final_stats=1 \
        "$work/$target" "$PWD/fuzz/corpus/$target" >"$out/$target.log" 2>&1; then
        tail -n 60 "$out/$target.log"
        echo "fuzz/run.sh: $target failed; log in $out/$target.log" >&2
        return 1
    fi
    # Its tally, named: two targets print theirs side by side.
    sed -n "s/^Done/$target: done/p" "$out/$target.log"
}

# Two targets at a time, each on a core of its own, each for its full time.
run arguments 256 &
first=$!
run engine 64 &
second=$!
failed=0
wait "$first" || failed=1
wait "$second" || failed=1
run check 4096 || failed=1
exit "$failed"
