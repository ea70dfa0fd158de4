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
build() {  # build TARGET [FLAGS...]
    local target=$1
    shift
    clang++ "${flags[@]}" "$@" "fuzz/${target}_fuzz.cpp" -o "$out/${target}_fuzz" "${libs[@]}"
}
# The three compile at once: each is one process on one core, and each waits
# for the others to end before any target runs.
build arguments &
builds=($!)
# The engine's inputs are a few integers: tracing comparisons costs about
# three quarters of its speed and finds nothing that random values do not.
build engine -fno-sanitize-coverage=trace-cmp &
builds+=($!)
build check &
builds+=($!)
built=0
for pid in "${builds[@]}"; do
    wait "$pid" && built=$((built + 1))
done
if ((built != ${#builds[@]})); then
    echo "fuzz/run.sh: $((${#builds[@]} - built)) fuzz target(s) did not build" >&2
    exit 1
fi

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
