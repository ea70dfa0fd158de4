#!/usr/bin/env bash
# Builds the three fuzz targets with clang, libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for a bounded time from its seed
# corpus in fuzz/corpus/. Any crash, sanitizer report or mismatch fails the run
# and leaves the input that caused it in build-fuzz/ (crash-...), to replay with
# `build-fuzz/<target> build-fuzz/crash-...`.
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
# The library's sources (core/sources.txt), compiled once and instrumented as
# the targets are, then linked into each.
# The engine's inputs are a few integers: tracing comparisons costs about
# three quarters of its speed and finds nothing that random values do not.
library=()
for source in $(sed -n 's/^[a-z]* //p' core/sources.txt); do
    object=$out/$(basename "$source" .cpp).o
    clang++ "${flags[@]/-fsanitize=fuzzer,/-fsanitize=fuzzer-no-link,}" -fno-sanitize-coverage=trace-cmp \
        -I include -DMORVANE_VERSION='"fuzz"' -c "$source" -o "$object"
    library+=("$object")
done
clang++ "${flags[@]}" fuzz/arguments_fuzz.cpp "${library[@]}" -o "$out/arguments_fuzz" "${libs[@]}"
clang++ "${flags[@]}" -fno-sanitize-coverage=trace-cmp fuzz/engine_fuzz.cpp "${library[@]}" \
    -o "$out/engine_fuzz" "${libs[@]}"
clang++ "${flags[@]}" fuzz/check_fuzz.cpp "${library[@]}" -o "$out/check_fuzz" "${libs[@]}"

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
    grep -E '^Done' "$out/$target.log" || true
}

run arguments 256
run engine 64
run check 4096
